// morvane-x against morvane-l: the fast scan of each on the same runs, in one
// process, best of several alternating runs so that both see the same load.
// Records go to a sink that only counts them. Also the records each writes,
// which differ: morvane-x's are the exact excess's.
//
// morvane-x is timed twice: as the program runs (which stops one period of the
// exact excess after nmin where that period fits 64 bits, p <= 23), and its
// engine alone over the whole window, as morvane-l's runs.
//
//   exact_speed [runs]      (default 5)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/fast_scan.hpp"
#include "engine/q_count.hpp"
#include "profiles/exact_density.hpp"
#include "profiles/profile.hpp"

namespace {

using namespace morvane;

template <class Profile>
struct CountingSink {
    std::uint64_t q = 0, f = 0;
    bool q_record(typename Profile::Count, typename Profile::Count, const typename Profile::Real&) {
        return ++q, true;
    }
    bool f_record(typename Profile::Count, typename Profile::Count, const typename Profile::Real&) {
        return ++f, true;
    }
};

template <class Profile>
double seconds(int p, std::uint64_t N, std::uint64_t nmin, CountingSink<Profile>& sink,
               bool engine_alone = false) {
    ScanState<Profile> state;
    sink = {};
    const auto start = std::chrono::steady_clock::now();
    if (engine_alone) {
        state.count = count_q_numbers(nmin - 1, active_square_count<std::uint64_t>(p));
        FastScan<Profile>(p, N).scan(nmin, N, state, sink);
    } else {
        fast_scan<Profile>(p, N, nmin, state, sink);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void compare(int p, std::uint64_t N, std::uint64_t nmin, int runs) {
    double extended = 1e300, exact = 1e300, engine = 1e300;
    CountingSink<ExtendedProfile> l;
    CountingSink<ExactProfile> x;
    for (int r = 0; r < runs; ++r) {
        extended = std::min(extended, seconds(p, N, nmin, l));
        exact = std::min(exact, seconds(p, N, nmin, x));
        engine = std::min(engine, seconds(p, N, nmin, x, true));
    }
    std::printf(
        "p=%-3d nmin=%-17llu N=%-17llu morvane-l %7.3f s  morvane-x %7.3f s (%5.2f)"
        "  engine alone %7.3f s (%5.2f)   records l %llu/%llu x %llu/%llu\n",
        p, static_cast<unsigned long long>(nmin), static_cast<unsigned long long>(N), extended,
        exact, exact / extended, engine, engine / extended, static_cast<unsigned long long>(l.q),
        static_cast<unsigned long long>(l.f), static_cast<unsigned long long>(x.q),
        static_cast<unsigned long long>(x.f));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    compare(97, 1000000000, 1, runs);
    compare(97, 20000000000, 1, std::max(1, runs / 2));
    compare(13, 2000000000, 1, runs);
    compare(97, 1000000000000000 + 2000000000, 1000000000000000, runs);
    compare(3, 1000000000, 1, runs);
    compare(2, 1000000000, 1, runs);
}
