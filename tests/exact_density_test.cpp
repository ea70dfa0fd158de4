// The exact profile's arithmetic: delta of each set against a product formed
// here, the fixed point handed to the fast scan, the printed decimals against
// an exact rounding done here, and the decisions of the enclosure for every
// prime, refined from a low precision, against MPFR at 2000 bits.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "profiles/big_integers.hpp"
#include "profiles/exact_density.hpp"

namespace morvane {
namespace {

using exact::BigInt;

const PrimeSet finite_sets[] = {{2, 2},  {3, 2},  {23, 2}, {97, 2},   {98, 2}, {101, 2},
                                {1000, 2}, {2, 3}, {97, 3}, {13, 7}, {2, 13}, {5, 63}};

bool prime(std::uint64_t q) {
    for (std::uint64_t d = 2; d * d <= q; ++d)
        if (q % d == 0) return false;
    return q >= 2;
}

// 1 - prod (1 - q^-k) as numerator and denominator, one prime at a time.
std::pair<BigInt, BigInt> density_here(const PrimeSet& set) {
    BigInt num = 1, den = 1;  // the product
    for (std::uint64_t q = 2; q <= set.bound; ++q) {
        if (!prime(q)) continue;
        BigInt s = 1;
        for (int i = 0; i < set.k; ++i) s *= q;
        num *= s - 1;
        den *= s;
    }
    return {den - num, den};
}

TEST(ExactDensity, DeltaIsTheTrueDensity) {
    for (const PrimeSet& set : finite_sets) {
        const auto [a, d] = density_here(set);
        const DeltaEnclosure& delta = DeltaEnclosure::of(set);
        ASSERT_TRUE(delta.numerator() != nullptr) << set.bound;  // no printer for mpz_srcptr
        EXPECT_EQ(BigInt(delta.numerator()) * d, a * BigInt(delta.denominator()))
            << set.bound << " k=" << set.k;
    }
    // 1/4, 1/3, 9/25 for squares; 1/2^k for p = 2.
    const auto fraction = [](PrimeSet set) {
        const DeltaEnclosure& delta = DeltaEnclosure::of(set);
        return std::pair<BigInt, BigInt>(delta.numerator(), delta.denominator());
    };
    EXPECT_EQ(fraction({2, 2}).first * 4, fraction({2, 2}).second);
    EXPECT_EQ(fraction({3, 2}).first * 3, fraction({3, 2}).second);
}

// floor(delta 2^96) and delta 2^32 rounded down and up; exact only for p = 2.
TEST(ExactDensity, FixedPointBracketsDelta) {
    for (const PrimeSet& set : finite_sets) {
        const auto [a, d] = density_here(set);
        const FixedDelta fixed = ExactDensity(set).fixed(~0ull);
        const BigInt significand = (BigInt(static_cast<std::uint64_t>(fixed.significand >> 64)) << 64) +
                                   BigInt(static_cast<std::uint64_t>(fixed.significand));
        SCOPED_TRACE(::testing::Message() << "p=" << set.bound << " k=" << set.k);
        EXPECT_LE(significand * d, a << 96);
        EXPECT_GT((significand + 1) * d, a << 96);
        EXPECT_LE(BigInt(fixed.delta_lo) * d, a << 32);
        EXPECT_GE(BigInt(fixed.delta_hi) * d, a << 32);
        EXPECT_LE(fixed.delta_hi - fixed.delta_lo, 1);
        EXPECT_EQ(fixed.slack, set.bound == 2 ? 0 : 2);
    }
    EXPECT_EQ(ExactDensity({2, 2}).fixed(~0ull).significand, static_cast<unsigned __int128>(1) << 94);
    // Every prime, k = 2: delta = 1 - 6 / pi^2 from MPFR's pi at 1000 bits.
    exact::Mpfr v(1000);
    mpfr_const_pi(v.get(), MPFR_RNDN);
    mpfr_sqr(v.get(), v.get(), MPFR_RNDN);
    mpfr_ui_div(v.get(), 6, v.get(), MPFR_RNDN);
    mpfr_ui_sub(v.get(), 1, v.get(), MPFR_RNDN);
    const BigInt expected = exact::floor_scaled(v.get());
    const auto low = DeltaEnclosure::of({PrimeSet::every_prime, 2}).fixed128();
    EXPECT_EQ(exact::to_u128(expected), low);
}

// "%.12f" of c - a n / d, rounded half to even, in integers.
std::string decimals_here(std::uint64_t n, std::uint64_t c, const BigInt& a, const BigInt& d, bool negate) {
    BigInt x = BigInt(c) * d - a * n;  // x * d
    if (negate) x = -x;
    const bool negative = x < 0;
    if (negative) x = -x;
    const BigInt twice = 2 * x * 1'000'000'000'000ull, whole = twice / (2 * d), rest = twice - whole * 2 * d;
    BigInt r = whole;
    if (rest > d || (rest == d && whole % 2 != 0)) r += 1;  // rest compares with d: a half
    const BigInt trillion = 1'000'000'000'000ull;
    const std::string decimals = BigInt(r % trillion).str();
    std::string text = negative && x != 0 ? "-" : "";
    text += BigInt(r / trillion).str();
    text += '.';
    text.append(12 - decimals.size(), '0');
    text += decimals;
    return text;
}

TEST(ExactDensity, PrintsTheCorrectlyRoundedDecimals) {
    std::mt19937_64 random(12);
    for (const PrimeSet& set : finite_sets) {
        const auto [a, d] = density_here(set);
        const ExactDensity density(set);
        for (int k = 0; k < 3000; ++k) {
            const std::uint64_t n = random() >> (random() % 64);
            // c near delta n: the excess within some thousands of zero.
            const BigInt expected = a * n / d;
            const std::uint64_t c =
                static_cast<std::uint64_t>(expected) + (random() % 4000) - std::min<std::uint64_t>(2000, static_cast<std::uint64_t>(expected));
            if (c > n) continue;
            const bool negate = k % 2 != 0;
            const ExactExcess x = negate ? -density.excess(n, c) : density.excess(n, c);
            ASSERT_EQ(ExactDensity::printed(x).data(), decimals_here(n, c, a, d, negate))
                << "p=" << set.bound << " k=" << set.k << " n=" << n << " c=" << c;
        }
    }
    // p = 2, k = 13: delta = 1/8192 and x 10^12 = 10^12 c - 5^12 n / 2, a tie at
    // every odd n, rounded to even.
    const ExactDensity tie({2, 13});
    EXPECT_STREQ(ExactDensity::printed(tie.excess(1, 1)).data(), "0.999877929688");  // ...6875
    EXPECT_STREQ(ExactDensity::printed(tie.excess(3, 1)).data(), "0.999633789062");  // ...0625
    EXPECT_STREQ(ExactDensity::printed(tie.excess(4, 0)).data(), "-0.000488281250");
    EXPECT_STREQ(ExactDensity::printed(ExactExcess(0)).data(), "0.000000000000");
    EXPECT_STREQ(ExactDensity::printed(ExactDensity({2, 2}).excess(4, 1)).data(), "0.000000000000");
}

// The constants: 0 above -10^-12, and an excess of p = 2 against both.
TEST(ExactDensity, StartingThresholdIsMinusOneTrillionth) {
    const ExactDensity quarter({2, 2});
    EXPECT_TRUE(ExactExcess(0) > ExactDensity::q_start());
    EXPECT_TRUE(quarter.excess(4, 1) > ExactDensity::q_start());   // 0
    EXPECT_FALSE(quarter.excess(5, 1) > ExactDensity::q_start());  // -1/4
    EXPECT_TRUE(quarter.excess(4, 1) == ExactExcess(0));
    EXPECT_TRUE(quarter.excess(4, 1).nudged(-1) < ExactExcess(0));
    EXPECT_TRUE(-quarter.excess(5, 1) < quarter.excess(5, 2));  // 1/4 against 3/4
}

// Every prime: the decisions from a first precision of 2 bits, refined, are
// those of MPFR at 2000 bits, for a - delta b near zero.
TEST(ExactDensity, RefinedDecisionsAreThoseOfFullPrecision) {
    std::mt19937_64 random(5);
    for (const int k : {2, 3, 4, 5}) {
        const DeltaEnclosure& delta = DeltaEnclosure::of({PrimeSet::every_prime, k});
        exact::Mpfr z(2000), t(2000);
        mpfr_zeta_ui(z.get(), static_cast<unsigned long>(k), MPFR_RNDN);
        mpfr_ui_div(z.get(), 1, z.get(), MPFR_RNDN);
        mpfr_ui_sub(z.get(), 1, z.get(), MPFR_RNDN);  // delta
        for (int i = 0; i < 300; ++i) {
            const auto b = static_cast<__int128>(random() >> (4 + random() % 60)) * (i % 3 == 0 ? -1 : 1);
            // a = round(delta b) + small: the sign is decided near the boundary.
            mpfr_mul_si(t.get(), z.get(), static_cast<long>(b), MPFR_RNDN);
            const auto a = static_cast<__int128>(mpfr_get_si(t.get(), MPFR_RNDN)) + (i % 5) - 2;
            mpfr_si_sub(t.get(), static_cast<long>(a), t.get(), MPFR_RNDN);
            const int expected = mpfr_sgn(t.get());
            DeltaEnclosure::set_first_precision_for_tests(2);
            const int refined = delta.sign(a, b);
            DeltaEnclosure::set_first_precision_for_tests(0);
            EXPECT_EQ(refined, expected) << "k=" << k;
            EXPECT_EQ(delta.sign(a, b), expected) << "k=" << k;
        }
    }
}

}  // namespace
}  // namespace morvane
