// The counts morvane-check takes, measured: C(x) counted afresh against the
// engine's count, the baseline, at 10^12, 10^18 and 2^64 - 1, for p = 97 and
// every prime with squares and cubes; and the walk's block of 2^15 n sieved
// there. A record line counted afresh is the dearest; one in a block the walk
// has sieved costs next to nothing.
//
//   count_speed [calls]      (default 20)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/q_count.hpp"
#include "windows/record_check.hpp"

namespace {

using namespace morvane;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The best of three rounds of `calls` calls, in seconds a call.
template <class F>
double best(int calls, F&& f) {
    double seconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto t = Clock::now();
        for (int i = 0; i < calls; ++i) f(i);
        seconds = std::min(seconds, since(t) / calls);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20;
    for (const PrimeSet set : {squares_set(97), PrimeSet{PrimeSet::every_prime, 2},
                               PrimeSet{PrimeSet::every_prime, 3}}) {
        const std::string name = set_text(bound_text(set), set.k);
        for (const std::uint64_t x :
             {std::uint64_t(1e12), std::uint64_t(1e18), ~std::uint64_t{0}}) {
            std::uint64_t a = 0, b = 0;
            // Fewer calls where one takes a second.
            const int n = set.all() && set.k == 2 && x > 1e15 ? 1 : calls;
            const double afresh = best(n, [&](int i) { a += q_count_afresh(x - i, set); });
            const double engine = best(n, [&](int i) { b += count_q_numbers(x - i, set); });
            if (a != b) {
                std::printf("the two counts differ at %llu\n", static_cast<unsigned long long>(x));
                return 1;
            }
            // Blocks in turn: the walk's cost a block once it walks along.
            CountWalk walk(set);
            std::uint64_t at = x - 64 * CountWalk::block;
            walk.at(at);
            const double block = best(4, [&](int) { walk.at(at += CountWalk::block); });
            std::printf("%-6s C(%llu): afresh %.3f ms, engine's count %.3f ms (ratio %.2f); "
                        "a block of the walk %.2f us\n",
                        name.c_str(), static_cast<unsigned long long>(x), afresh * 1e3,
                        engine * 1e3, afresh / engine, block * 1e6);
        }
    }
    return 0;
}
