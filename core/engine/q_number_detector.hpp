// The Q-number detector: n is a Q-number when q^k divides it for a prime q of
// the set. Classification walks n = 1, 2, 3, ... in order and keeps, for every
// power q^k up to the last n, its least multiple not below n, so it needs only
// comparisons and additions per n. It is the plain reference the sieve is
// checked against, for sets whose primes stay below 2^16.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "engine/mobius_count.hpp"
#include "arith/prime_set.hpp"
#include "arith/squares.hpp"

namespace morvane {

template <class Profile>
class QNumberDetector {
public:
    using Count = typename Profile::Count;

    // The detector expects n = first, first + 1, ..., last in turn. A run
    // starts at 1; a window may start later, for checking a window on its own.
    QNumberDetector(const PrimeSet& set, Count first, Count last) : set_(set) {
        const std::uint64_t largest = largest_needed_prime(set, last);
        if (largest >= std::uint64_t{1} << 16)
            throw std::length_error("the detector walks primes below 2^16 only");
        for (std::uint64_t q = 2; q <= largest; ++q) {
            if (!is_small_prime(q)) continue;
            const auto s = static_cast<Count>(prime_power(q, set.k));
            powers_.push_back(s);
            // Least multiple of each power not below first (one division each,
            // at creation only).
            multiples_.push_back(first > 1 ? ((first - 1) / s + 1) * s : s);
        }
    }
    // morvane's and morvane-l's sets: the squares of the primes up to p.
    explicit QNumberDetector(std::int32_t p, Count first = 1)
        : QNumberDetector(squares_set(p), first, ~Count{0}) {}

    // Every power is visited: an n divisible by several moves each of them on.
    // An entry can wrap round only after its last match below the end of the
    // count range; a wrapped entry is below every later n, so it never matches
    // again.
    bool classify(Count n) {
        bool q = false;
        for (std::size_t k = 0; k < powers_.size(); ++k) {
            if (multiples_[k] == n) {
                q = true;
                multiples_[k] += powers_[k];
            }
        }
        return q;
    }

    int active_count() const { return static_cast<int>(powers_.size()); }
    const PrimeSet& set() const { return set_; }

private:
    PrimeSet set_;
    std::vector<Count> powers_, multiples_;
};

}  // namespace morvane
