// The density delta of a set, as morvane-x decides with it:
//
//     delta = 1 - prod over q in the set of (1 - q^-k),  and  1 - 1/zeta(k) for every prime.
//
// Every decision of the exact profile is the sign of a - delta * b for integers
// a and b below 2^110 in magnitude: two excesses compared, an excess against
// zero or against -10^-12 (both sides times 10^12), a rounding boundary.
//
// First from a fixed-point enclosure, L <= delta * 2^128 <= L + w (w = 0 when
// delta * 2^128 is an integer, else 1), in 256-bit integers: that decides
// unless a - delta * b lies within |b| * 2^-128 of zero. Then:
// - for a finite set with a denominator D = prod q^k of at most 2^24 bits
//   (every p up to 10^6 for squares), from delta = A / D exactly, ties
//   included;
// - otherwise from an enclosure of delta by MPFR (Debian: libmpfr-dev), each
//   operation rounded outwards, at 256 bits, then 512, ... up to 65536, until
//   it decides. For a finite set D then exceeds 2^(2^24), and a - delta * b = 0
//   would need D to divide b, so the sign is never zero and some precision
//   decides. For every prime, 1/zeta(k) is irrational for even k and for k = 3
//   (Apery), unproved for odd k >= 5: if 65536 bits do not decide, the run
//   stops with a message naming n (UndecidedExcess) instead of guessing.
#pragma once

#include <gmp.h>
#include <mpfr.h>

#include <boost/multiprecision/cpp_int.hpp>
#include <boost/multiprecision/gmp.hpp>
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arith/prime_set.hpp"
#include "arith/sieved_primes.hpp"

namespace morvane {

namespace exact {
namespace mp = boost::multiprecision;
using BigInt = mp::mpz_int;
using Int256 = mp::number<mp::cpp_int_backend<256, 256, mp::signed_magnitude, mp::unchecked, void>>;
using u128 = unsigned __int128;
using i128 = __int128;

inline Int256 wide(i128 v) {
    const bool negative = v < 0;
    const u128 m = negative ? -static_cast<u128>(v) : static_cast<u128>(v);
    Int256 w = Int256(static_cast<std::uint64_t>(m >> 64)) << 64;
    w |= Int256(static_cast<std::uint64_t>(m));
    return negative ? Int256(-w) : w;
}
inline Int256 wide(u128 v) { return wide(static_cast<i128>(v >> 1)) * 2 + Int256(unsigned(v & 1)); }

inline BigInt big(i128 v) {
    const bool negative = v < 0;
    const u128 m = negative ? -static_cast<u128>(v) : static_cast<u128>(v);
    BigInt b = BigInt(static_cast<std::uint64_t>(m >> 64)) << 64;
    b += BigInt(static_cast<std::uint64_t>(m));
    return negative ? BigInt(-b) : b;
}

// An MPFR number that frees itself.
class Mpfr {
public:
    explicit Mpfr(mpfr_prec_t precision) { mpfr_init2(v_, precision); }
    ~Mpfr() { mpfr_clear(v_); }
    Mpfr(const Mpfr&) = delete;
    Mpfr& operator=(const Mpfr&) = delete;
    mpfr_ptr get() { return v_; }
    mpfr_srcptr get() const { return v_; }

private:
    mpfr_t v_;
};

}  // namespace exact

// No precision up to the limit decided a comparison: the run cannot go on
// without guessing.
class UndecidedExcess : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DeltaEnclosure {
public:
    using u128 = exact::u128;
    using i128 = exact::i128;

    static constexpr mpfr_prec_t first_precision = 256, precision_limit = 65536;
    static constexpr std::uint64_t exact_bits_limit = std::uint64_t{1} << 24;

    // One per set and process, made on first use, never freed: excesses keep a
    // pointer to it.
    static const DeltaEnclosure& of(const PrimeSet& set) {
        static std::mutex guard;
        static std::map<PrimeSet, std::unique_ptr<DeltaEnclosure>> made;
        const std::lock_guard<std::mutex> lock(guard);
        auto& d = made[set];
        if (!d) d.reset(new DeltaEnclosure(set));
        return *d;
    }

    const PrimeSet& set() const { return set_; }

    // floor(delta * 2^128), and whether delta * 2^128 is an integer.
    u128 fixed128() const { return low_; }
    bool fixed_exact() const { return width_ == 0; }

    // delta = numerator / denominator in lowest terms, for a finite set whose
    // denominator has at most exact_bits_limit bits.
    const std::optional<std::pair<exact::BigInt, exact::BigInt>>& fraction() const {
        return fraction_;
    }

    // The sign of a - delta * b.
    int sign(i128 a, i128 b) const {
        if (b == 0) return a > 0 ? 1 : a < 0 ? -1 : 0;
        if (const int s = fast_sign(a, b); s != unknown) return s;
        if (fraction_) {
            const exact::BigInt v = exact::big(a) * fraction_->second - exact::big(b) * fraction_->first;
            return v.sign();
        }
        return refined_sign(a, b);
    }

    // delta in [lo, hi], both ends rounded outwards at the precision of lo
    // (which hi shares): the enclosure the decisions use, made once per
    // precision. For front ends that show delta, or an excess, to a chosen
    // number of digits.
    void enclose_at(mpfr_ptr lo, mpfr_ptr hi) const {
        const Bounds& b = bounds(mpfr_get_prec(lo));
        mpfr_set(lo, b.lo.get(), MPFR_RNDD);
        mpfr_set(hi, b.hi.get(), MPFR_RNDU);
    }

    // a - delta * b in [lo, hi], from delta's enclosure at `precision` bits,
    // each operation rounded outwards at the precision of lo (which hi shares).
    void enclose_difference(i128 a, i128 b, mpfr_prec_t precision, mpfr_ptr lo, mpfr_ptr hi) const;

    // The test hook: decisions as if the fixed point never decided and MPFR
    // started at `precision` bits (1 forces every decision through the
    // refinement). Not for runs.
    static void set_first_precision_for_tests(mpfr_prec_t precision) { test_precision() = precision; }

private:
    static constexpr int unknown = 2;

    explicit DeltaEnclosure(const PrimeSet& set);

    static mpfr_prec_t& test_precision() {
        static mpfr_prec_t p = 0;
        return p;
    }

    int fast_sign(i128 a, i128 b) const {
        if (test_precision() != 0) return unknown;
        const exact::Int256 A = exact::wide(a) << 128, B = exact::wide(b);
        const exact::Int256 v1 = A - B * exact::wide(low_);
        if (width_ == 0) return v1.sign();
        const exact::Int256 v2 = v1 - B;  // a - b * (L + 1)
        if (v1.sign() > 0 && v2.sign() > 0) return 1;
        if (v1.sign() < 0 && v2.sign() < 0) return -1;
        return unknown;
    }

    int refined_sign(i128 a, i128 b) const;
    // delta enclosed in [lo, hi] at `precision` bits, made once per precision.
    struct Bounds {
        exact::Mpfr lo, hi;
        explicit Bounds(mpfr_prec_t precision) : lo(precision), hi(precision) {}
    };
    const Bounds& bounds(mpfr_prec_t precision) const;
    void enclose(mpfr_ptr lo, mpfr_ptr hi) const;
    void fixed_from_fraction();
    void fixed_from_bounds();

    mutable std::mutex refine_guard_;
    mutable std::map<mpfr_prec_t, std::unique_ptr<Bounds>> bounds_;

    PrimeSet set_;
    u128 low_ = 0;
    int width_ = 1;
    std::optional<std::pair<exact::BigInt, exact::BigInt>> fraction_;
};

namespace exact {

// prod of the numbers in [from, to) of `factors`, by halves, so that the
// products stay balanced and GMP multiplies large numbers by large ones.
template <class F>
BigInt product_tree(const std::vector<std::uint64_t>& primes, std::size_t from, std::size_t to,
                    F factor) {
    if (to - from == 1) return factor(primes[from]);
    if (to == from) return 1;
    const std::size_t mid = from + (to - from) / 2;
    return product_tree(primes, from, mid, factor) * product_tree(primes, mid, to, factor);
}

// Bits of D = prod q^k over the primes up to p: about k * p / ln 2.
inline std::uint64_t denominator_bits_estimate(const PrimeSet& set) {
    if (set.all()) return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(1.4427 * static_cast<double>(set.bound) * set.k) + 64;
}

inline BigInt power(std::uint64_t q, int k) {
    BigInt r;
    mpz_ui_pow_ui(r.backend().data(), q, static_cast<unsigned long>(k));
    return r;
}

inline u128 to_u128(const BigInt& v) {
    const BigInt high = v >> 64;
    const BigInt low = v - (high << 64);
    return (u128(high.convert_to<std::uint64_t>()) << 64) | low.convert_to<std::uint64_t>();
}

// floor(v * 2^128) of an MPFR number in [0, 1).
inline BigInt floor_scaled(mpfr_srcptr v) {
    Mpfr scaled(mpfr_get_prec(v));
    mpfr_mul_2ui(scaled.get(), v, 128, MPFR_RNDN);  // exact
    BigInt r;
    mpfr_get_z(r.backend().data(), scaled.get(), MPFR_RNDD);
    return r;
}

}  // namespace exact

inline DeltaEnclosure::DeltaEnclosure(const PrimeSet& set) : set_(set) {
    if (exact::denominator_bits_estimate(set) <= exact_bits_limit)
        fixed_from_fraction();
    else
        fixed_from_bounds();
}

// delta = A / D with D = prod q^k and A = D - prod (q^k - 1).
inline void DeltaEnclosure::fixed_from_fraction() {
    std::vector<std::uint64_t> primes;
    SievedPrimes::each(2, set_.bound, [&](std::uint64_t q) { primes.push_back(q); });
    const int k = set_.k;
    const exact::BigInt D =
        exact::product_tree(primes, 0, primes.size(), [k](std::uint64_t q) { return exact::power(q, k); });
    const exact::BigInt E = exact::product_tree(
        primes, 0, primes.size(), [k](std::uint64_t q) { return exact::power(q, k) - 1; });
    const exact::BigInt A = D - E;
    const exact::BigInt scaled = A << 128;
    const exact::BigInt floor = scaled / D;  // both positive: truncation is floor
    low_ = exact::to_u128(floor);
    width_ = floor * D == scaled ? 0 : 1;
    fraction_.emplace(A, D);
}

// delta * 2^128 is not an integer here (see above): its floor is found once
// an enclosure is narrow enough to give both ends the same floor.
inline void DeltaEnclosure::fixed_from_bounds() {
    for (mpfr_prec_t precision = first_precision;; precision *= 2) {
        const Bounds& b = bounds(precision);
        const exact::BigInt lo = exact::floor_scaled(b.lo.get()), hi = exact::floor_scaled(b.hi.get());
        if (lo == hi) {
            low_ = exact::to_u128(lo);
            width_ = 1;
            return;
        }
        if (precision >= precision_limit)
            throw UndecidedExcess("delta's first 128 bits are not decided at the precision limit");
    }
}

inline const DeltaEnclosure::Bounds& DeltaEnclosure::bounds(mpfr_prec_t precision) const {
    const std::lock_guard<std::mutex> lock(refine_guard_);
    auto& b = bounds_[precision];
    if (!b) {
        b = std::make_unique<Bounds>(precision);
        enclose(b->lo.get(), b->hi.get());
    }
    return *b;
}

// Every operation rounded away from delta's side: the product of the factors
// 1 - q^-k from below and from above, or 1/zeta(k) from both sides.
inline void DeltaEnclosure::enclose(mpfr_ptr lo, mpfr_ptr hi) const {
    const mpfr_prec_t precision = mpfr_get_prec(lo);
    if (set_.all()) {
        exact::Mpfr z_lo(precision), z_hi(precision);
        mpfr_zeta_ui(z_lo.get(), static_cast<unsigned long>(set_.k), MPFR_RNDD);
        mpfr_zeta_ui(z_hi.get(), static_cast<unsigned long>(set_.k), MPFR_RNDU);
        // zeta keeps what it computed in MPFR's caches (this thread's): nothing
        // is needed again, and nothing should outlive the enclosure.
        mpfr_free_cache();
        // 1/zeta in [1/z_hi, 1/z_lo]; delta = 1 - 1/zeta.
        mpfr_ui_div(z_lo.get(), 1, z_lo.get(), MPFR_RNDU);
        mpfr_ui_div(z_hi.get(), 1, z_hi.get(), MPFR_RNDD);
        mpfr_ui_sub(lo, 1, z_lo.get(), MPFR_RNDD);
        mpfr_ui_sub(hi, 1, z_hi.get(), MPFR_RNDU);
        return;
    }
    exact::Mpfr p_lo(precision), p_hi(precision);
    mpfr_set_ui(p_lo.get(), 1, MPFR_RNDN);
    mpfr_set_ui(p_hi.get(), 1, MPFR_RNDN);
    const int k = set_.k;
    SievedPrimes::each(2, set_.bound, [&](std::uint64_t q) {
        if (const std::uint64_t s = prime_power(q, k); s != 0) {
            mpfr_mul_ui(p_lo.get(), p_lo.get(), s - 1, MPFR_RNDD);
            mpfr_div_ui(p_lo.get(), p_lo.get(), s, MPFR_RNDD);
            mpfr_mul_ui(p_hi.get(), p_hi.get(), s - 1, MPFR_RNDU);
            mpfr_div_ui(p_hi.get(), p_hi.get(), s, MPFR_RNDU);
        } else {
            const exact::BigInt s_big = exact::power(q, k), less = s_big - 1;
            mpfr_mul_z(p_lo.get(), p_lo.get(), less.backend().data(), MPFR_RNDD);
            mpfr_div_z(p_lo.get(), p_lo.get(), s_big.backend().data(), MPFR_RNDD);
            mpfr_mul_z(p_hi.get(), p_hi.get(), less.backend().data(), MPFR_RNDU);
            mpfr_div_z(p_hi.get(), p_hi.get(), s_big.backend().data(), MPFR_RNDU);
        }
    });
    mpfr_ui_sub(lo, 1, p_hi.get(), MPFR_RNDD);
    mpfr_ui_sub(hi, 1, p_lo.get(), MPFR_RNDU);
}

inline void DeltaEnclosure::enclose_difference(i128 a, i128 b, mpfr_prec_t precision, mpfr_ptr lo,
                                               mpfr_ptr hi) const {
    const Bounds& d = bounds(precision);
    // a and b below 2^110 are exact at 128 bits and more.
    const mpfr_prec_t exact_bits = std::max<mpfr_prec_t>(mpfr_get_prec(lo), 128);
    exact::Mpfr A(exact_bits), B(exact_bits);
    mpfr_set_z(A.get(), exact::big(a).backend().data(), MPFR_RNDN);
    mpfr_set_z(B.get(), exact::big(b).backend().data(), MPFR_RNDN);
    // For b >= 0, a - delta b lies in [a - hi b, a - lo b]; for b < 0 in
    // [a - lo b, a - hi b].
    mpfr_srcptr for_low = b >= 0 ? d.hi.get() : d.lo.get();
    mpfr_srcptr for_high = b >= 0 ? d.lo.get() : d.hi.get();
    mpfr_mul(lo, for_low, B.get(), MPFR_RNDU);
    mpfr_sub(lo, A.get(), lo, MPFR_RNDD);
    mpfr_mul(hi, for_high, B.get(), MPFR_RNDD);
    mpfr_sub(hi, A.get(), hi, MPFR_RNDU);
}

// a - delta * b from the enclosures at 256, 512, ... bits, worked at 128 bits
// at least.
inline int DeltaEnclosure::refined_sign(i128 a, i128 b) const {
    const mpfr_prec_t start = test_precision() != 0 ? test_precision() : first_precision;
    for (mpfr_prec_t precision = start; precision <= precision_limit; precision *= 2) {
        const mpfr_prec_t working = std::max<mpfr_prec_t>(precision, 128);
        exact::Mpfr low(working), high(working);
        enclose_difference(a, b, precision, low.get(), high.get());
        if (mpfr_sgn(low.get()) > 0) return 1;
        if (mpfr_sgn(high.get()) < 0) return -1;
    }
    throw UndecidedExcess("not decided at " + std::to_string(precision_limit) + " bits");
}

}  // namespace morvane
