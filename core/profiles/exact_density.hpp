// morvane-x's arithmetic: the exact excess x(n) = C(n) - delta * n, with delta
// the true density 1 - prod (1 - 1/q^2), a rational number.
//
// Every excess is held as X = x * D, D = (2 * 3 * 5 * ... * 97)^2 the square of
// the product of all 25 primes a run can take (243 bits). D is a multiple of
// every p's own denominator prod q^2, so X is an integer for every p:
//
//     X(n) = C(n) * D - A * n,    A = delta * D = D - prod (q^2 - 1) * prod r^2,
//
// q over the active primes, r over the others. One D for all p makes X a plain
// value: comparing two excesses is comparing two integers, exactly, ties
// included, and the starting threshold and the printing need nothing but X.
//
// How big X gets. By inclusion and exclusion over the squarefree products d of
// the active primes (at most 2^25 of them),
//     x(n) = sum over d of mu(d) * (n / d^2 - floor(n / d^2)),
// floor taken only where d^2 <= n (it is 0 elsewhere, and n / d^2 < 1 there), so
// |x| < 2^25 * 1 and |X| < 2^268. Along the way C(n) * D and A * n stay below
// 2^64 * 2^243 = 2^307: 320 bits hold all of it, with no overflow check needed.
//
// Big integers are needed only where the fast scan evaluates an n in full and
// where a record is written; the scan's filters use delta in fixed point.
#pragma once

#include <array>
#include <boost/multiprecision/cpp_int.hpp>
#include <cstdint>
#include <cstdio>

#include "engine/fixed_point.hpp"
#include "engine/squares.hpp"

namespace morvane {

namespace exact {

namespace mp = boost::multiprecision;
// Fixed width, on the stack: no allocation in the scan's slow path.
using Int320 = mp::number<mp::cpp_int_backend<320, 320, mp::signed_magnitude, mp::unchecked, void>>;

// For the one-off products with 2^96 (fixed below), which need 340 bits.
using Int512 = mp::number<mp::cpp_int_backend<512, 512, mp::signed_magnitude, mp::unchecked, void>>;

// D = (97#)^2.
inline const Int320& denominator() {
    static const Int320 d = [] {
        Int320 product = 1;
        for (int k = 0; k < max_squares; ++k) product *= Squares<std::uint64_t>[k];
        return product;
    }();
    return d;
}

// floor(a / b) for b > 0; the library's division truncates towards zero.
inline Int320 floor_divide(const Int320& a, const Int320& b) {
    Int320 q, r;
    mp::divide_qr(a, b, q, r);
    if (r < 0) --q;
    return q;
}

}  // namespace exact

class ExactDensity {
public:
    // The excess times D.
    using Real = exact::Int320;
    // The excess's text, "%.12f" of the exact value, NUL-terminated: at most a
    // sign, 8 digits (|x| < 2^25), the point and 12 decimals.
    using Printed = std::array<char, 32>;

    // delta * 2^96 rounded down: over n < 2^64 that misses delta * n by less
    // than 2^-32, one unit (see fixed).
    static constexpr int scale = 96;

    explicit ExactDensity(int active) : a_(exact::denominator()) {
        Real kept = 1;  // prod (q^2 - 1) * prod r^2
        for (int k = 0; k < max_squares; ++k) {
            const std::uint64_t s = Squares<std::uint64_t>[k];
            kept *= k < active ? s - 1 : s;
        }
        a_ -= kept;
    }

    // delta as the fraction numerator() / D.
    const Real& numerator() const { return a_; }

    Real excess(std::uint64_t n, std::uint64_t count) const {
        Real x = exact::denominator() * count;
        x -= a_ * n;
        return x;
    }

    // The first Q record needs x > -10^-12, that is X > -D / 10^12, and for an
    // integer X that is X > floor(-D / 10^12).
    static Real q_start() {
        static const Real start =
            exact::floor_divide(-exact::denominator(), Real(1'000'000'000'000));
        return start;
    }

    // |x| rounded to 12 decimals: round(|X| * 10^12 / D). There is never a tie:
    // D = 4 * 25 * (odd, not divisible by 5), and 10^12 absorbs the 4 and the 25,
    // so what remains is a fraction with an odd denominator, never exactly a
    // half. The sign is X's, so a negative excess that rounds to zero prints
    // "-0.000000000000", as printf prints a negative double that does.
    static Printed printed(const Real& X) {
        const Real& d = exact::denominator();
        const Real scaled = 2 * abs(X) * 1'000'000'000'000ull + d;  // < 2^310
        const Real rounded = scaled / (2 * d);
        const auto whole = static_cast<unsigned long long>(rounded / 1'000'000'000'000ull);
        const auto decimals = static_cast<unsigned long long>(rounded % 1'000'000'000'000ull);
        Printed text{};
        std::snprintf(text.data(), text.size(), "%s%llu.%012llu", X < 0 ? "-" : "", whole,
                      decimals);
        return text;
    }

    // The Q flags repeat with period P = prod q^2 over the active primes, and a
    // period holds P - prod (q^2 - 1) = delta * P Q-numbers, so
    // x(n + P) = x(n) + delta * P - delta * P = x(n) exactly. Returns P where it
    // fits 64 bits (p up to 23: P = 223092870^2, about 5e16), else 0.
    static std::uint64_t excess_period(int active) {
        std::uint64_t period = 1;
        for (int k = 0; k < active; ++k) {
            const std::uint64_t s = Squares<std::uint64_t>[k];
            if (period > ~std::uint64_t{0} / s) return 0;
            period *= s;
        }
        return period;
    }

    // x * 2^32 rounded down or up, within +-unit_limit (|x| < 2^25 keeps it far
    // inside).
    static std::int64_t units_floor(const Real& X) {
        return static_cast<std::int64_t>(exact::floor_divide(X << unit_bits, exact::denominator()));
    }
    static std::int64_t units_ceil(const Real& X) {
        return -static_cast<std::int64_t>(
            exact::floor_divide(-(X << unit_bits), exact::denominator()));
    }

    // The fast scan's X'(n) = C(n) * 2^96 - floor(delta * 2^96) * n lies above
    // x(n) * 2^96 by less than n < 2^64, so x lies in (X' - 1 unit, X'] in units
    // of 2^-32. A bound taken from X' cut to units is then off by less than one
    // unit either way; the slack allows two. Where delta * 2^96 is an integer
    // (p = 2, delta = 1/4) everything is exact and the slack is zero, so that the
    // Q-excess 0, tied at every Q-number, sends none of them to the slow path.
    FixedDelta fixed(std::uint64_t /*last*/) const {
        using exact::Int512;
        const Int512 a(a_), d(exact::denominator());
        Int512 q, r;
        exact::mp::divide_qr(Int512(a << scale), d, q, r);  // q < 2^95: delta < 1/2
        const auto high = static_cast<std::uint64_t>(q >> 64);
        const auto low = static_cast<std::uint64_t>(q & ~std::uint64_t{0});
        FixedDelta fixed{(static_cast<unsigned __int128>(high) << 64) | low, 0, 0, r == 0 ? 0 : 2};
        exact::mp::divide_qr(Int512(a << unit_bits), d, q, r);
        fixed.delta_lo = static_cast<std::int64_t>(q);
        fixed.delta_hi = fixed.delta_lo + (r != 0);
        return fixed;
    }

private:
    Real a_;  // delta * D
};

// morvane-x: 64-bit counts, as morvane-l, and the exact excess.
struct ExactProfile {
    using Count = std::uint64_t;
    using Density = ExactDensity;
    using Real = Density::Real;
    using Printed = unsigned long long;
    static constexpr const char* record_format = "%llu %llu %s\n";
    static constexpr const char* summary_format = "%llu %llu\n";
};

}  // namespace morvane
