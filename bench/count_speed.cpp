// The counts morvane-check takes, measured: C(x) counted afresh (its own
// recurrence) against the engine's inclusion and exclusion, the baseline, at
// 10^12, 10^18 and 2^64 - 1; and a walk across short gaps, by marking, per n.
// The dearest record line is one counted afresh; a file of K such lines costs
// K times that.
//
//   count_speed [calls]      (default 200)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/q_count.hpp"
#include "windows/record_check.hpp"

namespace {

using namespace morvane;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 200;
    const int active = max_squares;  // p = 97
    for (const std::uint64_t x : {std::uint64_t(1e12), std::uint64_t(1e18), ~std::uint64_t{0}}) {
        double afresh = 1e9, engine = 1e9;
        std::uint64_t a = 0, b = 0;
        for (int round = 0; round < 3; ++round) {  // best of 3, taken in turn
            auto t = Clock::now();
            for (int i = 0; i < calls; ++i) a += q_count_afresh(x - i, active);
            afresh = std::min(afresh, since(t) / calls);
            t = Clock::now();
            for (int i = 0; i < calls; ++i) b += count_q_numbers(x - i, active);
            engine = std::min(engine, since(t) / calls);
        }
        if (a != b) {
            std::printf("the two counts differ at %llu\n", static_cast<unsigned long long>(x));
            return 1;
        }
        std::printf("p 97, C(%llu): afresh %.3f ms, engine's count %.3f ms (ratio %.2f)\n",
                    static_cast<unsigned long long>(x), afresh * 1e3, engine * 1e3,
                    afresh / engine);
    }
    // Gaps of 2^18 n marked, near 10^18.
    CountWalk walk(active);
    const std::uint64_t gap = CountWalk::longest_marked_gap;
    std::uint64_t n = std::uint64_t(1e18);
    walk.at(n);
    const auto t = Clock::now();
    for (int i = 0; i < calls; ++i) walk.at(n += gap);
    const double marked = since(t) / calls;
    std::printf("p 97, a gap of %llu n marked: %.3f ms (%.2f ns a n)\n",
                static_cast<unsigned long long>(gap), marked * 1e3, marked * 1e9 / gap);
    return 0;
}
