// morvane-x's arithmetic: the exact excess x(n) = C(n) - delta * n, with delta
// the true density of the set (delta_enclosure.hpp).
//
// An excess is kept as what defines it, the pair (n, C(n)), and every
// comparison, threshold and rounding is a sign of a - delta * b with exact
// integers a and b, decided by the set's DeltaEnclosure: from 128 bits of
// delta in most cases, else exactly (a finite set) or at a higher precision
// (every prime). Nothing is ever rounded on the way, so the records and the
// printed excesses are those of the true excess, whatever the set.
//
// Big integers are needed only where the fast scan evaluates an n in full and
// where a record is written (exact_density.cpp); the scan's filters use delta
// in fixed point.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "arith/fixed_point.hpp"
#include "arith/prime_set.hpp"
#include "arith/sieved_primes.hpp"
#include "profiles/delta_enclosure.hpp"

namespace morvane {

// x(n) = count - delta * n, or one of the two constants a scan starts from: 0
// (the lowest F-excess before any record) and -10^-12 (the level the first Q
// record must pass).
struct ExactExcess {
    enum class Kind : unsigned char { value, zero, start };

    const DeltaEnclosure* delta = nullptr;
    std::uint64_t n = 0, count = 0;
    Kind kind = Kind::zero;
    bool negated = false;  // -(count - delta * n): an F record shows the F-excess
    // An infinitesimal added (1) or taken away (-1): below or above every
    // excess of a run that is not equal to this one. For the tests of records
    // that beat the running extreme by the least possible step.
    signed char nudge = 0;

    ExactExcess() = default;
    // Only 0: the excess before any F record.
    ExactExcess(int zero) { (void)zero; }
    ExactExcess(const DeltaEnclosure& d, std::uint64_t at, std::uint64_t c)
        : delta(&d), n(at), count(c), kind(Kind::value) {}
    static ExactExcess start() {
        ExactExcess s;
        s.kind = Kind::start;
        return s;
    }

    // The excess as (a - delta * b) / scale.
    struct Form {
        __int128 a, b, scale;
    };
    Form form() const {
        const __int128 s = negated ? -1 : 1;
        switch (kind) {
            case Kind::value:
                return {s * static_cast<__int128>(count), s * static_cast<__int128>(n), 1};
            case Kind::zero:
                return {0, 0, 1};
            case Kind::start:
                break;
        }
        return {-s, 0, 1'000'000'000'000};
    }

    friend ExactExcess operator-(ExactExcess x) {
        x.negated = !x.negated;
        x.nudge = static_cast<signed char>(-x.nudge);
        return x;
    }
    ExactExcess nudged(int direction) const {
        ExactExcess x = *this;
        x.nudge = static_cast<signed char>(direction);
        return x;
    }

    // The sign of this excess minus the other: (a1 s2 - a2 s1) - delta (b1 s2 -
    // b2 s1), below 2^105 in magnitude.
    int compare(const ExactExcess& other) const {
        const Form x = form(), y = other.form();
        const __int128 a = x.a * y.scale - y.a * x.scale, b = x.b * y.scale - y.b * x.scale;
        const DeltaEnclosure* d = delta ? delta : other.delta;
        try {
            // Two constants have b = 0.
            const int s = d ? d->sign(a, b) : a > 0 ? 1 : a < 0 ? -1 : 0;
            return s != 0 ? s : nudge > other.nudge ? 1 : nudge < other.nudge ? -1 : 0;
        } catch (const UndecidedExcess&) {
            throw UndecidedExcess(undecided_message(kind == Kind::value ? n : other.n));
        }
    }

    static std::string undecided_message(std::uint64_t at) {
        return "Error: the excess at n = " + std::to_string(at) +
               " is not decided by delta to " + std::to_string(DeltaEnclosure::precision_limit) +
               " bits";
    }

    friend bool operator>(const ExactExcess& x, const ExactExcess& y) { return x.compare(y) > 0; }
    friend bool operator<(const ExactExcess& x, const ExactExcess& y) { return x.compare(y) < 0; }
    friend bool operator==(const ExactExcess& x, const ExactExcess& y) { return x.compare(y) == 0; }
};

class ExactDensity {
public:
    using Real = ExactExcess;
    // The excess's text, "%.12f" of the exact value, NUL-terminated: a sign,
    // up to 21 digits, the point and 12 decimals.
    using Printed = std::array<char, 64>;

    // delta * 2^96 rounded down: over n < 2^64 that misses delta * n by less
    // than 2^-32, one unit (see fixed).
    static constexpr int scale = 96;

    explicit ExactDensity(const PrimeSet& set) : delta_(&DeltaEnclosure::of(set)) {}

    const DeltaEnclosure& delta() const { return *delta_; }

    Real excess(std::uint64_t n, std::uint64_t count) const { return Real(*delta_, n, count); }

    // The first Q record needs x > -10^-12, so that an excess of zero is
    // recorded.
    static Real q_start() { return Real::start(); }

    // |x| rounded to 12 decimals, half to even (a tie needs a denominator that
    // divides 2 * 10^12 * n: p = 2 with k >= 13, say), with x's sign: a negative
    // excess that rounds to zero prints "-0.000000000000", as printf prints a
    // negative double that does.
    static Printed printed(const Real& x);

    // The Q flags repeat with period P = prod q^k over the primes of a finite
    // set, and a period holds P - prod (q^k - 1) = delta * P Q-numbers, so
    // x(n + P) = x(n) + delta * P - delta * P = x(n) exactly. Returns P where it
    // fits 64 bits (p up to 23 for squares: P = 223092870^2, about 5e16), else 0.
    static std::uint64_t excess_period(const PrimeSet& set) {
        if (set.all()) return 0;
        std::uint64_t period = 1;
        bool fits = true;
        SievedPrimes::each(2, set.bound, [&](std::uint64_t q) {
            const std::uint64_t s = prime_power(q, set.k);
            if (!fits || s == 0 || period > ~std::uint64_t{0} / s)
                fits = false;
            else
                period *= s;
        });
        return fits ? period : 0;
    }

    // x * 2^32 rounded down or up, within +-unit_limit; from the fixed-point
    // enclosure, so perhaps one unit further out, which only lets more n
    // through the scan's bounds.
    static std::int64_t units_floor(const Real& x) { return units(x, false); }
    static std::int64_t units_ceil(const Real& x) { return units(x, true); }

    // The fast scan's X'(n) = C(n) * 2^96 - floor(delta * 2^96) * n lies above
    // x(n) * 2^96 by less than n < 2^64, so x lies in (X' - 1 unit, X'] in units
    // of 2^-32. A bound taken from X' cut to units is then off by less than one
    // unit either way; the slack allows two. Where delta * 2^96 is an integer
    // (p = 2, delta = 2^-k) everything is exact and the slack is zero, so that
    // the Q-excess 0, tied at every Q-number, sends none of them to the slow
    // path.
    FixedDelta fixed(std::uint64_t /*last*/) const {
        const unsigned __int128 low = delta_->fixed128();
        const bool exact = delta_->fixed_exact();
        const unsigned __int128 below96 = low & ((static_cast<unsigned __int128>(1) << 96) - 1);
        FixedDelta fixed{low >> 32, static_cast<std::int64_t>(low >> 96), 0,
                         exact && (low & 0xFFFFFFFFu) == 0 ? 0 : 2};
        fixed.delta_hi = fixed.delta_lo + (exact && below96 == 0 ? 0 : 1);
        return fixed;
    }

private:
    static std::int64_t units(const Real& x, bool up);

    const DeltaEnclosure* delta_;
};

// morvane-x: 64-bit counts, as morvane-l, and the exact excess.
struct ExactProfile {
    using Count = std::uint64_t;
    using Primes = SievedPrimes;
    using Density = ExactDensity;
    using Real = Density::Real;
    using Printed = unsigned long long;
    // Any bound below 2^32 or every prime, any power from 2 to 63.
    static constexpr bool any_set = true;
    static constexpr const char* record_format = "%llu %llu %s\n";
    static constexpr const char* summary_format = "%llu %llu\n";
};

}  // namespace morvane
