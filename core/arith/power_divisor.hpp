// Whether one n is a Q-number, decided without a sieve of its neighbours: the
// least prime q of the set with q^K | n, or none (an F-number). The checks of
// record runs prove a few dozen numbers this way, far out and one at a time.
//
// Let B = floor(x^(1/(K+1))) for the largest n asked, x. Trial division by the
// primes of the set up to B finds every such q <= B. When the set holds every
// prime up to B and more, divide n by all of them: what is left, m, has only
// prime factors above B >= n^(1/(K+1)). K + 1 of them would exceed n, so m has
// at most K, counted with multiplicity, and a prime q > B has q^K | n exactly
// when m = q^K. If m = r^K, r is prime: a composite r has r >= (B + 1)^2, and
// then r^K >= (B + 1)^(2K) > n. At x near 2^64 with K = 2, B is about 2.6e6:
// some 190,000 primes, tested by a multiplication each.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "arith/prime_set.hpp"
#include "arith/sieved_primes.hpp"

namespace morvane {

class PowerDivisor {
public:
    // For the set's numbers up to `largest` (at least 1).
    PowerDivisor(const PrimeSet& set, std::uint64_t largest) : set_(set) {
        const std::uint64_t B = integer_root(largest, set.k + 1);
        complete_ = !set.all() && set.bound <= B;
        const std::uint64_t top = complete_ ? set.bound : B;
        if (top < 2) return;
        // pi(x) < 1.25506 x / ln x for x > 1 (Rosser and Schoenfeld): one allocation.
        trials_.reserve(static_cast<std::size_t>(1.26 * double(top) / std::log(double(top))) + 2);
        SievedPrimes::each(2, top, [&](std::uint64_t q) { trials_.push_back(trial(q)); });
    }

    // The least prime q of the set whose K-th power divides n (n >= 1, at most
    // `largest`), or 0; 0 for n = 0 too, no number of a run.
    std::uint64_t operator()(std::uint64_t n) const {
        if (n == 0) return 0;
        std::uint64_t m = n;
        for (const Trial& t : trials_) {
            if (!t.divides(m)) continue;
            int times = 0;
            do {
                m = t.quotient(m);
                ++times;
            } while (t.divides(m));
            if (times >= set_.k) return t.q;
        }
        if (complete_ || m == 1) return 0;
        const std::uint64_t r = floor_root(m, set_.k);
        if (prime_power(r, set_.k) != m || (!set_.all() && r > set_.bound)) return 0;
        return r;
    }
    int power() const { return set_.k; }

private:
    // Division by an odd q through its inverse modulo 2^64: q | m exactly when
    // m * q^-1 (mod 2^64) <= (2^64 - 1) / q, and the product is then m / q
    // (the products for the multiples of q are the quotients 0, 1, ...,
    // (2^64 - 1) / q, and the map is one to one). For q = 2, a shift.
    struct Trial {
        std::uint64_t q, inverse, most;
        bool divides(std::uint64_t m) const {
            return q == 2 ? (m & 1) == 0 : m * inverse <= most;
        }
        std::uint64_t quotient(std::uint64_t m) const { return q == 2 ? m >> 1 : m * inverse; }
    };
    static Trial trial(std::uint64_t q) {
        // Newton's iteration doubles the correct low bits: 3, 6, 12, 24, 48, 96.
        std::uint64_t inverse = q;
        for (int i = 0; i < 5; ++i) inverse *= 2 - q * inverse;
        return {q, inverse, ~std::uint64_t{0} / q};
    }

    PrimeSet set_;
    bool complete_ = false;  // every prime of the set is among the trials
    std::vector<Trial> trials_;
};

}  // namespace morvane
