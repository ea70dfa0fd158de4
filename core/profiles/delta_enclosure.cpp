// delta's enclosures and the signs decided with them (delta_enclosure.hpp).
#include "profiles/delta_enclosure.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "arith/sieved_primes.hpp"
#include "profiles/big_integers.hpp"

namespace morvane {

namespace {

constexpr int unknown = 2;

// The first precision of the refinement, 0 for the engine's own; set only by
// the tests' hook.
mpfr_prec_t test_precision = 0;

// Bits of D = prod q^k over the primes up to p: about k * p / ln 2.
std::uint64_t denominator_bits_estimate(const PrimeSet& set) {
    if (set.all()) return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(1.4427 * static_cast<double>(set.bound) * set.k) + 64;
}

}  // namespace

struct DeltaEnclosure::Fraction {
    exact::BigInt numerator, denominator;
};

const DeltaEnclosure& DeltaEnclosure::of(const PrimeSet& set) {
    static std::mutex guard;
    static std::map<PrimeSet, std::unique_ptr<DeltaEnclosure>> made;
    const std::lock_guard<std::mutex> lock(guard);
    auto& d = made[set];
    if (!d) d.reset(new DeltaEnclosure(set));
    return *d;
}

DeltaEnclosure::DeltaEnclosure(const PrimeSet& set) : set_(set) {
    if (denominator_bits_estimate(set) <= exact_bits_limit)
        fixed_from_fraction();
    else
        fixed_from_bounds();
}

DeltaEnclosure::~DeltaEnclosure() = default;

mpz_srcptr DeltaEnclosure::numerator() const {
    return fraction_ ? fraction_->numerator.backend().data() : nullptr;
}

mpz_srcptr DeltaEnclosure::denominator() const {
    return fraction_ ? fraction_->denominator.backend().data() : nullptr;
}

void DeltaEnclosure::set_first_precision_for_tests(mpfr_prec_t precision) {
    test_precision = precision;
}

int DeltaEnclosure::sign(i128 a, i128 b) const {
    if (b == 0) return a > 0 ? 1 : a < 0 ? -1 : 0;
    if (const int s = fast_sign(a, b); s != unknown) return s;
    if (fraction_) {
        const exact::BigInt v =
            exact::big(a) * fraction_->denominator - exact::big(b) * fraction_->numerator;
        return v.sign();
    }
    return refined_sign(a, b);
}

// a 2^128 - b delta 2^128 lies between a 2^128 - b L and a 2^128 - b (L + w),
// in 256 bits: |a|, |b| < 2^110 and L < 2^128.
int DeltaEnclosure::fast_sign(i128 a, i128 b) const {
    if (test_precision != 0) return unknown;
    const exact::Int256 A = exact::wide(a) << 128, B = exact::wide(b);
    const exact::Int256 v1 = A - B * exact::wide(low_);
    if (width_ == 0) return v1.sign();
    const exact::Int256 v2 = v1 - B;  // a - b * (L + 1)
    if (v1.sign() > 0 && v2.sign() > 0) return 1;
    if (v1.sign() < 0 && v2.sign() < 0) return -1;
    return unknown;
}

// delta = A / D with D = prod q^k and A = D - prod (q^k - 1).
void DeltaEnclosure::fixed_from_fraction() {
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
    fraction_.reset(new Fraction{A, D});
}

// delta * 2^128 is not an integer here (see above): its floor is found once
// an enclosure is narrow enough to give both ends the same floor.
void DeltaEnclosure::fixed_from_bounds() {
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

const DeltaEnclosure::Bounds& DeltaEnclosure::bounds(mpfr_prec_t precision) const {
    const std::lock_guard<std::mutex> lock(refine_guard_);
    auto& b = bounds_[precision];
    if (!b) {
        b = std::make_unique<Bounds>(precision);
        enclose(b->lo.get(), b->hi.get());
    }
    return *b;
}

void DeltaEnclosure::enclose_at(mpfr_ptr lo, mpfr_ptr hi) const {
    const Bounds& b = bounds(mpfr_get_prec(lo));
    mpfr_set(lo, b.lo.get(), MPFR_RNDD);
    mpfr_set(hi, b.hi.get(), MPFR_RNDU);
}

// Every operation rounded away from delta's side: the product of the factors
// 1 - q^-k from below and from above, or 1/zeta(k) from both sides.
void DeltaEnclosure::enclose(mpfr_ptr lo, mpfr_ptr hi) const {
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

void DeltaEnclosure::enclose_difference(i128 a, i128 b, mpfr_prec_t precision, mpfr_ptr lo,
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
int DeltaEnclosure::refined_sign(i128 a, i128 b) const {
    const mpfr_prec_t start = test_precision != 0 ? test_precision : first_precision;
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
