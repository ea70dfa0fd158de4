// The exact profile's arithmetic: delta as a fraction, the starting threshold,
// the fixed point handed to the fast scan, and the printed decimals at the
// rounding boundaries.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "profiles/exact_density.hpp"

namespace morvane {
namespace {

using exact::Int320;
using exact::Int512;

const Int320 D = exact::denominator();
const Int320 trillion = 1'000'000'000'000ull;

// delta = numerator / D is the true density, 1 - prod (1 - 1/q^2).
TEST(ExactDensity, DeltaIsTheTrueDensity) {
    EXPECT_EQ(4 * ExactDensity(1).numerator(), D);       // 1/4
    EXPECT_EQ(3 * ExactDensity(2).numerator(), D);       // 1 - 3/4 * 8/9 = 1/3
    EXPECT_EQ(25 * ExactDensity(3).numerator(), 9 * D);  // 1 - 1/3 * ... = 9/25
    for (int active = 1; active <= max_squares; ++active) {
        // (1 - delta) * prod q^2 = prod (q^2 - 1), q over the active primes.
        Int320 squares = 1, less_one = 1;
        for (int k = 0; k < active; ++k) {
            squares *= Squares<std::uint64_t>[k];
            less_one *= Squares<std::uint64_t>[k] - 1;
        }
        EXPECT_EQ((D - ExactDensity(active).numerator()) * squares, D * less_one) << active;
    }
}

// The first Q record needs x > -10^-12 exactly: the threshold lies just below.
TEST(ExactDensity, StartingThresholdIsMinusOneTrillionth) {
    const Int320 start = ExactDensity::q_start();
    EXPECT_LE(start * trillion, -D);         // X = start is not above -D / 10^12
    EXPECT_GT((start + 1) * trillion, -D);  // the next X is
}

// The fast scan's delta: floor(delta * 2^96), and delta * 2^32 rounded down and
// up; exact only for p = 2.
TEST(ExactDensity, FixedPointBracketsDelta) {
    for (int active = 1; active <= max_squares; ++active) {
        const ExactDensity density(active);
        const FixedDelta fixed = density.fixed(~0ull);
        const Int512 a(density.numerator()), d(D);
        const Int512 significand = (Int512(static_cast<std::uint64_t>(fixed.significand >> 64)) << 64) +
                                   static_cast<std::uint64_t>(fixed.significand);
        EXPECT_LE(significand * d, a << 96) << active;
        EXPECT_GT((significand + 1) * d, a << 96) << active;
        EXPECT_LE(Int512(fixed.delta_lo) * d, a << 32) << active;
        EXPECT_GE(Int512(fixed.delta_hi) * d, a << 32) << active;
        EXPECT_LE(fixed.delta_hi - fixed.delta_lo, 1) << active;
        EXPECT_EQ(fixed.slack, active == 1 ? 0 : 2) << active;
    }
    EXPECT_EQ(ExactDensity(1).fixed(~0ull).significand, static_cast<unsigned __int128>(1) << 94);
}

// "%.12f" of the exact value m * 10^-12, formed from m alone.
std::string decimals_of(std::uint64_t m, bool negative) {
    char text[40];
    std::snprintf(text, sizeof text, "%s%llu.%012llu", negative ? "-" : "",
                  static_cast<unsigned long long>(m / 1'000'000'000'000ull),
                  static_cast<unsigned long long>(m % 1'000'000'000'000ull));
    return text;
}

// Around each half-way point (m + 1/2) * 10^-12: X0 = floor((2m + 1) D / (2 * 10^12))
// is the last X below it, which rounds to m, and X0 + 1 the first above, which
// rounds to m + 1. Both signs; m = 0 gives the negative zero.
TEST(ExactDensity, PrintsTheCorrectlyRoundedDecimals) {
    std::mt19937_64 random(12);
    std::vector<std::uint64_t> ms = {0, 1, 999'999'999'999ull, 1'000'000'000'000ull,
                                     123'456'789'999'999'999ull};
    for (int k = 0; k < 2000; ++k) ms.push_back(random() % (std::uint64_t{1} << 54));
    for (const std::uint64_t m : ms) {
        const Int320 below = (2 * Int320(m) + 1) * D / (2 * trillion);
        EXPECT_EQ(ExactDensity::printed(below).data(), decimals_of(m, false)) << m;
        EXPECT_EQ(ExactDensity::printed(below + 1).data(), decimals_of(m + 1, false)) << m;
        EXPECT_EQ(ExactDensity::printed(-below).data(), decimals_of(m, true)) << m;
        EXPECT_EQ(ExactDensity::printed(-below - 1).data(), decimals_of(m + 1, true)) << m;
    }
    EXPECT_STREQ(ExactDensity::printed(0).data(), "0.000000000000");
    EXPECT_STREQ(ExactDensity::printed(-1).data(), "-0.000000000000");
    EXPECT_STREQ(ExactDensity::printed(D).data(), "1.000000000000");
    EXPECT_STREQ(ExactDensity::printed(-(D / 3)).data(), "-0.333333333333");
    // The largest excess there can be, |x| < 2^25, in full.
    EXPECT_STREQ(ExactDensity::printed(D * (1 << 25) - 1).data(), "33554432.000000000000");
}

}  // namespace
}  // namespace morvane
