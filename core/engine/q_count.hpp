// C(x), the number of Q-numbers in [1, x], without walking: by inclusion and
// exclusion over the squarefree products d of the active primes,
//
//     x - C(x) = sum over d of mu(d) * floor(x / d^2),
//
// where only d with d^2 <= x contribute (the others give floor 0). Even near
// 2^64 that is at most a few hundred thousand terms, so a window far out
// starts in milliseconds instead of a walk over every n below it.
#pragma once

#include <cstdint>

#include "engine/q_number_detector.hpp"

namespace morvane {

namespace detail {

inline constexpr std::uint32_t Primes[max_squares] = {
    2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71, 73, 79, 83, 89, 97};

// The sum of -mu(d') * floor(x / d'^2) over every d' = d * (a product of
// distinct active primes from index k on, at least one), where mu(d) = sign.
// The partial sums may leave the signed range near 2^64; the total is C(x),
// which fits, so the sum is kept modulo 2^64.
inline std::uint64_t q_sum(std::uint64_t x, int k, int active, std::uint64_t d_squared, bool plus) {
    std::uint64_t sum = 0;
    for (int j = k; j < active; ++j) {
        const std::uint64_t s = Squares<std::uint64_t>[j];
        // d^2 * s <= x without overflow: d^2 <= x / s.
        if (d_squared > x / s) break;  // squares ascend: no later prime fits either
        const std::uint64_t e = d_squared * s;
        const std::uint64_t term = x / e;
        sum += (plus ? term : -term) + q_sum(x, j + 1, active, e, !plus);
    }
    return sum;
}

}  // namespace detail

// The number of Q-numbers in [1, x] for the first `active` prime squares.
inline std::uint64_t count_q_numbers(std::uint64_t x, int active) {
    // C(x) = x - (x + sum over d > 1 of mu(d) floor(x / d^2)): one prime adds,
    // two subtract, and so on.
    return detail::q_sum(x, 0, active, 1, true);
}

}  // namespace morvane
