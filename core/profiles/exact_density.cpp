// The exact excess in units of the fast scan and as printed
// (exact_density.hpp): 256-bit integers, exact.
#include "profiles/exact_density.hpp"

#include <cstdio>

#include "profiles/big_integers.hpp"

namespace morvane {

std::int64_t ExactDensity::units(const Real& x, bool up) {
    if (x.kind == Real::Kind::zero) return 0;
    if (x.kind == Real::Kind::start) return up ? 0 : -1;  // -10^-12 * 2^32 = -0.0043
    using exact::Int256;
    // x * 2^128 = a 2^128 - delta 2^128 b lies between a 2^128 - b L and
    // a 2^128 - b (L + 1).
    const Real::Form f = x.form();
    const Int256 end1 = (exact::wide(f.a) << 128) - exact::wide(f.b) * exact::wide(x.delta->fixed128());
    const Int256 end2 = end1 - exact::wide(f.b);
    const Int256 top = end1 > end2 ? end1 : end2, bottom = end1 > end2 ? end2 : end1;
    const Int256 v = up ? top : bottom;
    const Int256 unit96 = Int256(1) << 96;
    // Floor or ceiling of v / 2^96, on magnitudes.
    const Int256 m = v.sign() < 0 ? Int256(-v) : v;
    const bool away = (v.sign() < 0) != up;  // round the magnitude up
    Int256 q = away ? (m + unit96 - 1) >> 96 : m >> 96;
    if (q > Int256(unit_limit)) q = Int256(unit_limit);
    const auto u = static_cast<std::int64_t>(q);
    return v.sign() < 0 ? -u : u;
}

ExactDensity::Printed ExactDensity::printed(const Real& x) {
    Printed text{};
    if (x.kind != Real::Kind::value) {
        std::snprintf(text.data(), text.size(), "0.000000000000");
        return text;
    }
    const DeltaEnclosure& d = *x.delta;
    const Real::Form f = x.form();
    const int s = d.sign(f.a, f.b);
    if (s == 0) {
        std::snprintf(text.data(), text.size(), "0.000000000000");
        return text;
    }
    // |x| * 10^12 = s (a - delta b), a = 10^12 c and b = 10^12 n below 2^104
    // (both negated for a negated excess).
    const __int128 trillion = 1'000'000'000'000;
    const __int128 a = trillion * f.a;
    const __int128 b = trillion * f.b;
    // R, |x| 10^12 rounded, from the fixed point first, then moved by the
    // exact tests: R is right when R - 1/2 < |x| 10^12 < R + 1/2.
    using exact::Int256;
    Int256 t = (exact::wide(a) << 128) - exact::wide(b) * exact::wide(d.fixed128());
    if (s < 0) t = -t;
    Int256 estimate = (t + (Int256(1) << 127)) >> 128;
    if (estimate.sign() < 0) estimate = 0;
    auto R = static_cast<__int128>(estimate);
    // The sign of |x| 10^12 - (2R + e) / 2, e = -1 or 1.
    const auto against = [&](__int128 r, int e) {
        return s * d.sign(2 * a - s * (2 * r + e), 2 * b);
    };
    for (;;) {
        const int below = against(R, -1), above = against(R, 1);
        if (below > 0 && above < 0) break;
        if (below == 0) {  // |x| 10^12 = R - 1/2: the even one of R - 1 and R
            if (R % 2 != 0) --R;
            break;
        }
        if (above == 0) {
            if (R % 2 != 0) ++R;
            break;
        }
        R += below <= 0 ? -1 : 1;
    }
    const auto whole = static_cast<unsigned __int128>(R / trillion);
    const auto decimals = static_cast<unsigned long long>(R % trillion);
    // whole < 2^65 at most: two 64-bit halves in decimal.
    const auto high = static_cast<unsigned long long>(whole / 10'000'000'000'000'000'000ull);
    const auto low = static_cast<unsigned long long>(whole % 10'000'000'000'000'000'000ull);
    if (high != 0)
        std::snprintf(text.data(), text.size(), "%s%llu%019llu.%012llu", s < 0 ? "-" : "", high,
                      low, decimals);
    else
        std::snprintf(text.data(), text.size(), "%s%llu.%012llu", s < 0 ? "-" : "", low, decimals);
    return text;
}

}  // namespace morvane
