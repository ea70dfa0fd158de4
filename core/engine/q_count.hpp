// C(x), the number of Q-numbers in [1, x], without walking: by inclusion and
// exclusion over the squarefree products d of primes of the set,
//
//     x - C(x) = sum over d of mu(d) * floor(x / d^k),
//
// where only d with d^k <= x contribute (the others give floor 0). A set of
// primes below 2^16 takes the sum term by term, a product at a time; a larger
// one, every prime above all, sums mu over every d by a sieve
// (mobius_count.hpp). Even near 2^64 that starts a window far out in
// milliseconds instead of a walk over every n below it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mobius_count.hpp"
#include "arith/prime_set.hpp"
#include "engine/q_number_detector.hpp"

namespace morvane {

namespace detail {

// The sum of -mu(d') * floor(x / d'^k) over every d' = d * (a product of
// distinct primes of the set from index j on, at least one), where
// mu(d) = sign, with d^k = d_power and powers[j] = q_j^k ascending. The partial
// sums may leave the signed range near 2^64; the total is C(x), which fits, so
// the sum is kept modulo 2^64.
inline std::uint64_t q_sum(std::uint64_t x, const std::uint64_t* powers, int count,
                           std::uint64_t d_power, bool plus) {
    std::uint64_t sum = 0;
    for (int j = 0; j < count; ++j) {
        const std::uint64_t s = powers[j];
        // d^k * s <= x without overflow: d^k <= x / s.
        if (d_power > x / s) break;  // powers ascend: no later prime fits either
        const std::uint64_t e = d_power * s;
        const std::uint64_t term = x / e;
        sum += (plus ? term : -term) + q_sum(x, powers + j + 1, count - j - 1, e, !plus);
    }
    return sum;
}

// Term by term the sum has a term for each squarefree d <= x^(1/k) whose
// primes are all at most p, the sieve one for each d <= x^(1/k): never fewer.
// So a finite set goes term by term while its primes are below 2^16 (at
// p = 1000 and x = 10^18 that is some 10^7 products, against a sieve over
// 10^9 numbers); every prime, beyond the first 1024, by the sieve and the
// Mertens function.
inline bool term_by_term(const PrimeSet& set, std::uint64_t largest) {
    return set.all() ? largest <= 1024 : largest < (std::uint64_t{1} << 16);
}

}  // namespace detail

// The number of Q-numbers in [1, x] for the set.
inline std::uint64_t count_q_numbers(std::uint64_t x, const PrimeSet& set) {
    const std::uint64_t largest = largest_needed_prime(set, x);
    if (!detail::term_by_term(set, largest)) return x - free_count_sieved(x, set);
    std::vector<std::uint64_t> powers;
    for (std::uint64_t q = 2; q <= largest; ++q)
        if (is_small_prime(q)) powers.push_back(prime_power(q, set.k));
    // C(x) = x - (x + sum over d > 1 of mu(d) floor(x / d^k)): one prime adds,
    // two subtract, and so on.
    return detail::q_sum(x, powers.data(), static_cast<int>(powers.size()), 1, true);
}

// The number of Q-numbers in [1, x] for the first `active` prime squares.
inline std::uint64_t count_q_numbers(std::uint64_t x, int active) {
    return detail::q_sum(x, Squares<std::uint64_t>.data(), active, 1, true);
}

}  // namespace morvane
