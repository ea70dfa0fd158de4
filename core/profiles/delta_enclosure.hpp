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
//
// The arithmetic is in delta_enclosure.cpp; this header keeps Boost out of
// every source that only asks for signs.
#pragma once

#include <gmp.h>
#include <mpfr.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "arith/prime_set.hpp"
#include "profiles/mpfr_number.hpp"

namespace morvane {

// No precision up to the limit decided a comparison: the run cannot go on
// without guessing.
class UndecidedExcess : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DeltaEnclosure {
public:
    using u128 = unsigned __int128;
    using i128 = __int128;

    static constexpr mpfr_prec_t first_precision = 256, precision_limit = 65536;
    static constexpr std::uint64_t exact_bits_limit = std::uint64_t{1} << 24;

    // One per set and process, made on first use, never freed: excesses keep a
    // pointer to it.
    static const DeltaEnclosure& of(const PrimeSet& set);

    DeltaEnclosure(const DeltaEnclosure&) = delete;
    DeltaEnclosure& operator=(const DeltaEnclosure&) = delete;
    ~DeltaEnclosure();

    const PrimeSet& set() const { return set_; }

    // floor(delta * 2^128), and whether delta * 2^128 is an integer.
    u128 fixed128() const { return low_; }
    bool fixed_exact() const { return width_ == 0; }

    // delta = numerator / denominator, as the product makes them (not in
    // lowest terms), for a finite set whose denominator has at most
    // exact_bits_limit bits; both null otherwise.
    mpz_srcptr numerator() const;
    mpz_srcptr denominator() const;

    // The sign of a - delta * b.
    int sign(i128 a, i128 b) const;

    // delta in [lo, hi], both ends rounded outwards at the precision of lo
    // (which hi shares): the enclosure the decisions use, made once per
    // precision. For front ends that show delta, or an excess, to a chosen
    // number of digits.
    void enclose_at(mpfr_ptr lo, mpfr_ptr hi) const;

    // a - delta * b in [lo, hi], from delta's enclosure at `precision` bits,
    // each operation rounded outwards at the precision of lo (which hi shares).
    void enclose_difference(i128 a, i128 b, mpfr_prec_t precision, mpfr_ptr lo, mpfr_ptr hi) const;

    // The test hook: decisions as if the fixed point never decided and MPFR
    // started at `precision` bits (1 forces every decision through the
    // refinement). Not for runs.
    static void set_first_precision_for_tests(mpfr_prec_t precision);

private:
    struct Fraction;
    // delta enclosed in [lo, hi] at `precision` bits, made once per precision.
    struct Bounds {
        exact::Mpfr lo, hi;
        explicit Bounds(mpfr_prec_t precision) : lo(precision), hi(precision) {}
    };

    explicit DeltaEnclosure(const PrimeSet& set);

    int fast_sign(i128 a, i128 b) const;
    int refined_sign(i128 a, i128 b) const;
    const Bounds& bounds(mpfr_prec_t precision) const;
    void enclose(mpfr_ptr lo, mpfr_ptr hi) const;
    void fixed_from_fraction();
    void fixed_from_bounds();

    mutable std::mutex refine_guard_;
    mutable std::map<mpfr_prec_t, std::unique_ptr<Bounds>> bounds_;

    PrimeSet set_;
    u128 low_ = 0;
    int width_ = 1;
    std::unique_ptr<const Fraction> fraction_;
};

}  // namespace morvane
