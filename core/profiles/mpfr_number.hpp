// An MPFR number that frees itself: the enclosures of delta and of the
// excesses that the exact profile decides with.
#pragma once

#include <mpfr.h>

namespace morvane::exact {

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

}  // namespace morvane::exact
