// The Q-number detector: n is a Q-number when the square of a prime up to p
// divides it. Classification walks n = 1, 2, 3, ... in order and keeps, for every
// active square, its least multiple not below n, so it needs only comparisons and
// additions per n.
#pragma once

#include <array>
#include <cstdint>

#include "engine/squares.hpp"

namespace morvane {

template <class Profile>
class QNumberDetector {
public:
    using Count = typename Profile::Count;

    // The detector expects n = first, first + 1, ... in turn. A run starts at 1;
    // a window may start later, for checking a window on its own.
    explicit QNumberDetector(std::int32_t p, Count first = 1)
        : Multiples(Squares<Count>), active_(active_square_count<Count>(p)) {
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

    int active_count() const { return active_; }

private:
    std::array<Count, max_squares + 1> Multiples;
    int active_;
};

}  // namespace morvane
