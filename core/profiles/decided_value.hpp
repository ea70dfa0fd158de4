// Values decided from enclosures of the exact profile's numbers: the binary64
// value (or any other rounding) nearest to a real number is known once both
// ends of an enclosure of it round to the same one, since rounding to nearest
// is monotone. The enclosures narrow with the precision, from the engine's
// first up to its limit. For the front ends that show delta or an excess: the
// Python module and the library's API.
#pragma once

#include <gmp.h>
#include <mpfr.h>

#include <algorithm>
#include <string>

#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"

namespace morvane::decided {

using exact::Mpfr;

// A GMP integer as an MPFR number, exactly.
inline void set_exact(Mpfr& to, const exact::BigInt& v) {
    const auto bits = static_cast<mpfr_prec_t>(mpz_sizeinbase(v.backend().data(), 2));
    mpfr_set_prec(to.get(), std::max<mpfr_prec_t>(bits, MPFR_PREC_MIN));
    mpfr_set_z(to.get(), v.backend().data(), MPFR_RNDN);
}

// numerator / denominator in [lo, hi] at the precision of lo and hi.
inline void enclose_quotient(const exact::BigInt& numerator, const exact::BigInt& denominator,
                             mpfr_ptr lo, mpfr_ptr hi) {
    Mpfr a(MPFR_PREC_MIN), d(MPFR_PREC_MIN);
    set_exact(a, numerator);
    set_exact(d, denominator);
    mpfr_div(lo, a.get(), d.get(), MPFR_RNDD);
    mpfr_div(hi, a.get(), d.get(), MPFR_RNDU);
}

// delta in [lo, hi]: from A / D where the engine holds it, else from the
// engine's own enclosure (every prime: 1 - 1/zeta(k); a finite set too large
// for its fraction: the product).
inline void enclose_delta(const DeltaEnclosure& delta, mpfr_ptr lo, mpfr_ptr hi) {
    if (const auto& f = delta.fraction())
        enclose_quotient(f->first, f->second, lo, hi);
    else
        delta.enclose_at(lo, hi);
}

// The excess a - delta * b of a record (a = C(n), b = n, both negated for an
// F record) in [lo, hi]. With delta = A / D it is (a D - A b) / D, enclosed
// as tightly as the precision allows and exactly where it fits; else as the
// engine encloses it for its own decisions.
inline void enclose_excess(const ExactExcess& x, mpfr_ptr lo, mpfr_ptr hi) {
    const ExactExcess::Form f = x.form();
    if (const auto& fraction = x.delta->fraction()) {
        const auto& [A, D] = *fraction;
        enclose_quotient(exact::big(f.a) * D - A * exact::big(f.b), D, lo, hi);
        return;
    }
    x.delta->enclose_difference(f.a, f.b, mpfr_get_prec(lo), lo, hi);
}

inline double rounded_double(mpfr_srcptr v) { return mpfr_get_d(v, MPFR_RNDN); }

// round(value), once both ends of enclose(lo, hi) give the same.
template <class Enclose, class Round>
auto decide(Enclose&& enclose, Round&& round) {
    for (mpfr_prec_t precision = DeltaEnclosure::first_precision;; precision *= 2) {
        Mpfr lo(precision), hi(precision);
        enclose(lo.get(), hi.get());
        auto low = round(lo.get());
        if (low == round(hi.get())) return low;
        if (precision >= DeltaEnclosure::precision_limit)
            throw UndecidedExcess("not decided to " +
                                  std::to_string(DeltaEnclosure::precision_limit) + " bits");
    }
}

}  // namespace morvane::decided
