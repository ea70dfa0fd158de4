// The Q-number detector: n is a Q-number when the square of a prime up to p
// divides it. Classification walks n = 1, 2, 3, ... in order and keeps, for every
// active square, its least multiple not below n, so it needs only comparisons and
// additions per n.
#pragma once

#include <array>
#include <cstdint>

#include "profile.hpp"

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

// The Q density delta = 1 - prod (1 - 1/s) over the active squares. Each factor
// is formed in binary64 in both profiles; the running product and the final
// difference round to the profile's Real, each operation on its own.
template <class Profile>
typename Profile::Real q_density(int active) {
    using Real = typename Profile::Real;
    Real product = 1;
    for (int k = 0; k < active; ++k) {
        const double reciprocal = 1.0 / static_cast<double>(Squares<std::uint32_t>[k]);
        const double factor = 1.0 - reciprocal;
        product = static_cast<Real>(factor) * product;
    }
    return Real(1) - product;
}

template <class Profile>
class QNumberDetector {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    // The detector expects n = first, first + 1, ... in turn. A run starts at 1;
    // a window may start later, for checking a window on its own.
    explicit QNumberDetector(std::int32_t p, Count first = 1)
        : Multiples(Squares<Count>),
          active_(active_square_count<Count>(p)),
          density_(q_density<Profile>(active_)) {
        if (first > 1) {
            // Least multiple of each square not below first (one division each,
            // at creation only).
            for (int k = 0; k < active_; ++k) {
                const Count s = Squares<Count>[k];
                Multiples[k] = ((first - 1) / s + 1) * s;
            }
        }
    }

    // Every active entry is visited: an n divisible by several squares moves
    // each of them on. An entry can wrap round only after its last match below
    // the end of the count range; a wrapped entry is below every later n, so it
    // never matches again.
    bool classify(Count n) {
        bool q = false;
        for (int k = 0; k < active_; ++k) {
            if (Multiples[k] == n) {
                q = true;
                Multiples[k] += Squares<Count>[k];
            }
        }
        return q;
    }

    Real density() const { return density_; }
    int active_count() const { return active_; }

private:
    std::array<Count, max_squares + 1> Multiples;
    int active_;
    Real density_;
};

}  // namespace morvane
