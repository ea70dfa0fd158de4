// morvane-x's source of primes, from libprimesieve (Debian: libprimesieve-dev):
// the primes up to 2^32 a run far out needs, in segments, never all in memory.
#pragma once

#include <cstdint>
#include <primesieve.hpp>

namespace morvane {

struct SievedPrimes {
    // Calls f(q) for every prime q in [from, to], ascending.
    template <class F>
    static void each(std::uint64_t from, std::uint64_t to, F&& f) {
        primesieve::iterator it(from, to);
        for (std::uint64_t q = it.next_prime(); q <= to; q = it.next_prime()) f(q);
    }
};

}  // namespace morvane
