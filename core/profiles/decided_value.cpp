// Enclosures of delta and of the excesses, as tight as the precision allows
// (decided_value.hpp).
#include "profiles/decided_value.hpp"

#include <gmp.h>

#include <algorithm>

#include "profiles/big_integers.hpp"

namespace morvane::decided {

namespace {

// A GMP integer as an MPFR number, exactly.
void set_exact(Mpfr& to, mpz_srcptr v) {
    const auto bits = static_cast<mpfr_prec_t>(mpz_sizeinbase(v, 2));
    mpfr_set_prec(to.get(), std::max<mpfr_prec_t>(bits, MPFR_PREC_MIN));
    mpfr_set_z(to.get(), v, MPFR_RNDN);
}

// numerator / denominator in [lo, hi] at the precision of lo and hi.
void enclose_quotient(mpz_srcptr numerator, mpz_srcptr denominator, mpfr_ptr lo, mpfr_ptr hi) {
    Mpfr a(MPFR_PREC_MIN), d(MPFR_PREC_MIN);
    set_exact(a, numerator);
    set_exact(d, denominator);
    mpfr_div(lo, a.get(), d.get(), MPFR_RNDD);
    mpfr_div(hi, a.get(), d.get(), MPFR_RNDU);
}

}  // namespace

void enclose_delta(const DeltaEnclosure& delta, mpfr_ptr lo, mpfr_ptr hi) {
    if (delta.numerator())
        enclose_quotient(delta.numerator(), delta.denominator(), lo, hi);
    else
        delta.enclose_at(lo, hi);
}

void enclose_excess(const ExactExcess& x, mpfr_ptr lo, mpfr_ptr hi) {
    const ExactExcess::Form f = x.form();
    if (x.delta->numerator()) {
        const exact::BigInt A(x.delta->numerator()), D(x.delta->denominator());
        const exact::BigInt a_D_less_A_b = exact::big(f.a) * D - A * exact::big(f.b);
        enclose_quotient(a_D_less_A_b.backend().data(), D.backend().data(), lo, hi);
        return;
    }
    x.delta->enclose_difference(f.a, f.b, mpfr_get_prec(lo), lo, hi);
}

}  // namespace morvane::decided
