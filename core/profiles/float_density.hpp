// The density and the excess of morvane and morvane-l: delta formed from
// binary64 factors, the excess C(n) - delta * n in the profile's floating-point
// format, each product and difference rounded on its own.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "arith/fixed_point.hpp"
#include "arith/prime_set.hpp"
#include "arith/squares.hpp"

namespace morvane {

// delta = 1 - prod (1 - 1/s) over the active squares. Each factor is formed in
// binary64 in both profiles; the running product and the final difference round
// to Real, each operation on its own.
template <class Real>
Real q_density(int active) {
    Real product = 1;
    for (int k = 0; k < active; ++k) {
        const double reciprocal = 1.0 / static_cast<double>(Squares<std::uint32_t>[k]);
        const double factor = 1.0 - reciprocal;
        product = static_cast<Real>(factor) * product;
    }
    return Real(1) - product;
}

// The number of the 25 squares a set of morvane or morvane-l takes.
inline int table_active(const PrimeSet& set) {
    const std::uint64_t p = std::min<std::uint64_t>(set.bound, largest_table_prime);
    return active_square_count<std::uint64_t>(static_cast<std::int32_t>(p));
}

template <class R>
class FloatDensity {
public:
    using Real = R;
    // What printf's %.12f receives: the excess rounded to binary64. An F record
    // shows the rounded excess negated; rounding is symmetric, so that is the
    // rounding of the negated excess.
    using Printed = double;

    // 1/4 <= delta < 1/2 for every p (delta is about 0.39 at p = 97), so delta
    // is its significand over 2^(precision + 1): 2^54 in binary64, 2^65 in the
    // extended format. From the fixed point to units is then a fixed shift.
    static constexpr int precision = std::numeric_limits<Real>::digits;
    static constexpr int scale = precision + 1;

    explicit FloatDensity(int active) : delta_(q_density<Real>(active)) {}
    // The squares of the primes up to p <= 97, the sets of morvane and morvane-l.
    explicit FloatDensity(const PrimeSet& set) : FloatDensity(table_active(set)) {}

    Real delta() const { return delta_; }

    // Two roundings, never fused: the product, then the difference. n and the
    // count convert exactly (below 2^32 in binary64, 2^64 in the extended format).
    Real excess(std::uint64_t n, std::uint64_t count) const {
        const Real expected = delta_ * static_cast<Real>(n);
        return static_cast<Real>(count) - expected;
    }

    // The first Q record needs an excess above -1e-12, so that an excess of
    // zero, or one below zero by rounding only, is recorded. The binary64
    // constant is widened exactly in the extended format.
    static Real q_start() { return static_cast<Real>(-1e-12); }

    static Printed printed(Real e) { return static_cast<double>(e); }

    // The computed excess never repeats exactly: fl(delta * n) drifts from the
    // true delta * n (0 stands for no period).
    static constexpr std::uint64_t excess_period(const PrimeSet& /*set*/) { return 0; }

    // e * 2^32 rounded down or up, within +-unit_limit.
    static std::int64_t units_floor(Real e) { return clamp(std::floor(std::ldexp(e, unit_bits))); }
    static std::int64_t units_ceil(Real e) { return clamp(std::ceil(std::ldexp(e, unit_bits))); }

    // How far the computed excess e(n) = C(n) - fl(delta * n) may lie from the
    // fixed point's x(n) = C(n) - delta * n, for n up to last:
    //   - fl(delta * n) is off by at most half an ulp of delta * n. With
    //     delta < 2^-1 and n <= last, delta * n < 2^(bitlen(last) - 1), so the
    //     error is at most 2^(bitlen(last) - precision - 2): 2^-23 in binary64
    //     below 2^32, but up to 2^-2 in the extended format near 2^64.
    //   - C(n) - fl(delta * n) is exact: both are multiples of the ulp of
    //     fl(delta * n) (C(n) is an integer and that ulp is at most 1), and their
    //     difference is far smaller than 2^precision such ulps. One unit of
    //     2^-32 is allowed for it all the same.
    //   - Cutting X to units loses less than one unit; delta * 2^32 is taken as
    //     floor or ceiling, whichever keeps each bound on its safe side.
    // When delta has so few significant bits that all of this is exact (p = 2,
    // delta = 1/4), the slack is zero: there every Q-excess is exactly 0 and ties
    // the running maximum, and any slack would send every Q-number to the slow
    // path.
    FixedDelta fixed(std::uint64_t last) const {
        constexpr int exponent = -1;  // delta = fraction * 2^-1, fraction in [1/2, 1)
        constexpr int shift = scale - unit_bits;
        const auto significand = static_cast<std::uint64_t>(std::ldexp(delta_, scale));
        const std::uint64_t cut = significand & ((std::uint64_t{1} << shift) - 1);
        FixedDelta fixed{significand, static_cast<std::int64_t>(significand >> shift), 0, 0};
        fixed.delta_hi = fixed.delta_lo + (cut != 0);
        // delta * n is exact for every n <= last when the odd part of the
        // significand times n fits the precision.
        const std::uint64_t odd = significand >> std::countr_zero(significand);
        const int last_bits = std::bit_width(last);
        const bool products_exact = odd == 1 || std::bit_width(odd) + last_bits <= precision;
        if (!products_exact || cut != 0) {
            const int half_ulp = exponent + last_bits - precision - 1 + unit_bits;
            fixed.slack = (half_ulp < 0 ? 1 : std::int64_t{1} << half_ulp) + 2;
        }
        return fixed;
    }

private:
    static std::int64_t clamp(Real scaled) {
        if (scaled > Real(unit_limit)) return unit_limit;
        if (scaled < Real(-unit_limit)) return -unit_limit;
        return static_cast<std::int64_t>(scaled);
    }

    Real delta_;
};

}  // namespace morvane
