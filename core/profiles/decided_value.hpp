// Values decided from enclosures of the exact profile's numbers: the binary64
// value (or any other rounding) nearest to a real number is known once both
// ends of an enclosure of it round to the same one, since rounding to nearest
// is monotone. The enclosures narrow with the precision, from the engine's
// first up to its limit. For the front ends that show delta or an excess: the
// Python module and the library's API.
#pragma once

#include <mpfr.h>

#include <string>

#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "profiles/mpfr_number.hpp"

namespace morvane::decided {

using exact::Mpfr;

// delta in [lo, hi]: from A / D where the engine holds it, else from the
// engine's own enclosure (every prime: 1 - 1/zeta(k); a finite set too large
// for its fraction: the product).
void enclose_delta(const DeltaEnclosure& delta, mpfr_ptr lo, mpfr_ptr hi);

// The excess a - delta * b of a record (a = C(n), b = n, both negated for an
// F record) in [lo, hi]. With delta = A / D it is (a D - A b) / D, enclosed
// as tightly as the precision allows and exactly where it fits; else as the
// engine encloses it for its own decisions.
void enclose_excess(const ExactExcess& x, mpfr_ptr lo, mpfr_ptr hi);

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
