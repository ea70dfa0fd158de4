// The plain per-n walk against every copy of the fast scan that this machine
// runs (baseline x86-64, AVX2, AVX-512), on the same runs in one process: ns
// per n and the ratio to the plain walk. Records go to a sink that only counts
// them, so the figures are the engines' own; each copy must count the same
// records as the walk. The copies are timed as the best of several runs,
// taken in turn so that all see the same load; the walk, hundreds of times
// slower and constant per n, once over a shorter run. Then whole processes:
// `morvane 97 -1` (the whole 32-bit range) and `morvane-l 97 10^10` in each
// copy (MORVANE_ENGINE), best of several.
//
//   scan_speed [N [walk_N [runs]]]      (defaults 10^9, 10^8, 5)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/fast_scan.hpp"
#include "profiles/profile.hpp"
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

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<EngineCopy> runnable_copies() {
    std::vector<EngineCopy> copies;
    for (EngineCopy copy : engine_copies)
        if (engine_copy_runs(copy)) copies.push_back(copy);
    return copies;
}

// The walk's records up to walk_N, and their count up to N for comparison
// when N is walked too.
template <class Profile>
void compare(const char* name, int p, std::uint64_t N, std::uint64_t walk_N, int runs) {
    using Count = typename Profile::Count;
    CountingSink<Profile> walked;
    ScanState<Profile> walk_state;
    auto start = std::chrono::steady_clock::now();
    plain_scan<Profile>(p, Count(walk_N), 1, walk_state, walked);
    const double walk_ns = seconds_since(start) * 1e9 / double(walk_N);

    std::printf("%-9s p=%-3d walk %6.3f ns/n", name, p, walk_ns);
    const std::vector<EngineCopy> copies = runnable_copies();
    std::vector<double> best(copies.size(), 1e300);
    bool same = true;
    for (int r = 0; r < runs; ++r) {
        for (std::size_t k = 0; k < copies.size(); ++k) {
            CountingSink<Profile> sink;
            ScanState<Profile> state;
            start = std::chrono::steady_clock::now();
            fast_scan<Profile>(p, Count(N), 1, state, sink, copies[k]);
            best[k] = std::min(best[k], seconds_since(start));
            // Checked on the walk's own range.
            CountingSink<Profile> short_sink;
            ScanState<Profile> short_state;
            if (r == 0) {
                fast_scan<Profile>(p, Count(walk_N), 1, short_state, short_sink, copies[k]);
                same &= short_sink.q == walked.q && short_sink.f == walked.f &&
                        short_state.count == walk_state.count;
            }
        }
    }
    for (std::size_t k = 0; k < copies.size(); ++k) {
        const double ns = best[k] * 1e9 / double(N);
        std::printf(" | %s %7.4f ns/n %6.0fx", engine_copy_name(copies[k]), ns, walk_ns / ns);
    }
    std::printf("%s\n", same ? "" : "  RECORD COUNTS DIFFER");
}

// Wall seconds of one whole process, its output in the current folder.
double process_seconds(const std::vector<std::string>& args, EngineCopy copy) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        setenv("MORVANE_ENGINE", engine_copy_name(copy), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double took = seconds_since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "scan_speed: %s failed\n", args[0].c_str());
        std::exit(1);
    }
    return took;
}

void whole_process(const std::vector<std::string>& args, int runs) {
    std::printf("%-28s",
                (args[0].substr(args[0].rfind('/') + 1) + " " + args[1] + " " + args[2]).c_str());
    const std::vector<EngineCopy> copies = runnable_copies();
    std::vector<double> best(copies.size(), 1e300);
    for (int r = 0; r < runs; ++r)
        for (std::size_t k = 0; k < copies.size(); ++k)
            best[k] = std::min(best[k], process_seconds(args, copies[k]));
    for (std::size_t k = 0; k < copies.size(); ++k)
        std::printf(" | %s %6.3f s", engine_copy_name(copies[k]), best[k]);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t N = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000000;
    const std::uint64_t walk_N = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    if (N < 2 || walk_N < 2 || walk_N > N || N > 0xFFFFFFFFull || runs < 1) {
        std::fprintf(stderr, "usage: scan_speed [N [walk_N [runs]]]  (2 <= walk_N <= N < 2^32)\n");
        return 2;
    }
    std::printf("N = %llu (walk: %llu), best of %d; copies not listed do not run here\n",
                static_cast<unsigned long long>(N), static_cast<unsigned long long>(walk_N), runs);
    for (int p : {2, 3, 13, 31, 61, 97}) {
        compare<NarrowProfile>("morvane", p, N, walk_N, runs);
        compare<ExtendedProfile>("morvane-l", p, N, walk_N, runs);
    }
    char folder[] = "/tmp/scan_speed.XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) return 1;
    whole_process({MORVANE_PATH, "97", "-1"}, runs);
    whole_process({MORVANE_L_PATH, "97", "10000000000"}, runs);
    for (const char* name : {"maxdevQ_97-1.txt", "maxdevF_97-1.txt"}) std::remove(name);
    return chdir("/") == 0 && rmdir(folder) == 0 ? 0 : 1;
}
