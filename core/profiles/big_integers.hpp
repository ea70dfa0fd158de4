// The big integers of the exact profile, from Boost.Multiprecision: GMP's
// integers of any size (BigInt) and 256-bit integers on the stack (Int256),
// with the conversions from and to the 128-bit integers of the engine.
//
// Included only by the sources that compute with them (core/profiles/*.cpp and
// the tests): Boost.Multiprecision is by far the largest header of the tree, and
// the rest of it sees delta and the excesses through plain declarations.
#pragma once

#include <gmp.h>
#include <mpfr.h>

#include <boost/multiprecision/cpp_int.hpp>
#include <boost/multiprecision/gmp.hpp>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "profiles/mpfr_number.hpp"

namespace morvane::exact {

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

}  // namespace morvane::exact
