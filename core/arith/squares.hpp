// The squares of the primes up to 97, and how many of them a bound p takes.
#pragma once

#include <array>
#include <cstdint>

namespace morvane {

inline constexpr int max_squares = 25;

// The squares of the 25 primes up to 97, then a sentinel that stops the walk for
// the active squares at p = 97. The sentinel is 2^32 - 1 in both profiles.
template <class Count>
inline constexpr std::array<Count, max_squares + 1> Squares = {
    4,    9,    25,   49,   121,  169,  289,  361,  529,  841,  961,  1369, 1681,
    1849, 2209, 2809, 3481, 3721, 4489, 5041, 5329, 6241, 6889, 7921, 9409, 0xFFFFFFFFu};

// Number of leading squares not above p^2: exactly the squares of the primes up
// to p, so p = 7..10 all give 4 (4, 9, 25, 49) and p = 11 gives 5.
template <class Count>
constexpr int active_square_count(std::int32_t p) {
    const Count p_squared = static_cast<Count>(p) * static_cast<Count>(p);
    int k = 0;
    while (Squares<Count>[k] <= p_squared) ++k;
    return k;
}

}  // namespace morvane
