// The squares of the primes up to 97, and how many of them a bound p takes.
#pragma once

#include <array>
#include <cstdint>

#include "arith/prime_set.hpp"

namespace morvane {

inline constexpr int max_squares = static_cast<int>(TablePrimes::table.size());

// The squares of the table's primes, formed at compile time, then a sentinel
// that stops the walk for the active squares at p = 97. The sentinel is
// 2^32 - 1 in both profiles.
template <class Count>
constexpr std::array<Count, max_squares + 1> squares_of_table() {
    std::array<Count, max_squares + 1> squares{};
    for (int k = 0; k < max_squares; ++k) {
        const Count q = TablePrimes::table[static_cast<std::size_t>(k)];
        squares[static_cast<std::size_t>(k)] = q * q;
    }
    squares[max_squares] = 0xFFFFFFFFu;
    return squares;
}

template <class Count>
inline constexpr std::array<Count, max_squares + 1> Squares = squares_of_table<Count>();

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
