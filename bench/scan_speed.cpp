// Plain scan against fast scan on the same windows, in one process: ns per n
// and the ratio. Records go to a sink that only counts them, so the figures are
// the engines' own. The fast scan is timed as the best of several runs, the
// plain one (hundreds of times slower, and long enough not to need it) once.
//
//   scan_speed [N]      (default N = 10^9)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/fast_scan.hpp"
#include "engine/plain_scan.hpp"

namespace {

using namespace morvane;

template <class Profile>
struct CountingSink {
    std::uint64_t q = 0, f = 0;
    bool q_record(typename Profile::Count, typename Profile::Count, typename Profile::Real) {
        return ++q, true;
    }
    bool f_record(typename Profile::Count, typename Profile::Count, typename Profile::Real) {
        return ++f, true;
    }
};

template <class F>
double best_seconds(int runs, F&& run) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

template <class Profile>
void compare(const char* name, int p, std::uint64_t N) {
    using Count = typename Profile::Count;
    CountingSink<Profile> plain_sink, fast_sink;
    ScanState<Profile> plain_state, fast_state;
    const double plain = best_seconds(1, [&] {
        plain_sink = {};
        plain_state = {};
        plain_scan<Profile>(p, Count(N), 1, plain_state, plain_sink);
    });
    const double fast = best_seconds(7, [&] {
        fast_sink = {};
        fast_state = {};
        fast_scan<Profile>(p, Count(N), 1, fast_state, fast_sink);
    });
    const bool same = plain_sink.q == fast_sink.q && plain_sink.f == fast_sink.f &&
                      plain_state.count == fast_state.count;
    std::printf("%-9s p=%-3d N=%-11llu plain %7.3f ns/n   fast %7.4f ns/n   ratio %7.1f  %s\n",
                name, p, static_cast<unsigned long long>(N), plain * 1e9 / double(N),
                fast * 1e9 / double(N), plain / fast, same ? "" : "RECORD COUNTS DIFFER");
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t N = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000000;
    for (int p : {2, 3, 13, 97}) {
        compare<NarrowProfile>("morvane", p, N);
        compare<ExtendedProfile>("morvane-l", p, N);
    }
}
