// The set of a run: which prime powers make a Q-number.
//
// n is a Q-number when q^k divides n for some prime q of the set: the primes up
// to a bound p, or every prime. morvane and morvane-l take p from 2 to 97 and
// k = 2; morvane-x takes any p below 2^32, every prime, and k from 2 to 63.
// Only the powers q^k <= n can divide an n, so a run up to N needs the primes
// with q^k <= N: below 2^32 for k = 2, below 2^22 for k = 3, and so on.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace morvane {

struct PrimeSet {
    // The bound that stands for every prime.
    static constexpr std::uint64_t every_prime = ~std::uint64_t{0};
    static constexpr int min_power = 2, max_power = 63;

    std::uint64_t bound = 97;  // the primes q <= bound, or every_prime
    int k = 2;                 // the power

    bool all() const { return bound == every_prime; }
    friend bool operator==(const PrimeSet&, const PrimeSet&) = default;
    friend auto operator<=>(const PrimeSet&, const PrimeSet&) = default;
};

// q^k, or 0 when it passes 2^64 - 1 (then it divides no 64-bit n).
constexpr std::uint64_t prime_power(std::uint64_t q, int k) {
    std::uint64_t power = 1;
    for (int i = 0; i < k; ++i) {
        if (power > ~std::uint64_t{0} / q) return 0;
        power *= q;
    }
    return power;
}

// The largest r with r^k <= x: the primes beyond it have no power up to x.
constexpr std::uint64_t integer_root(std::uint64_t x, int k) {
    if (k == 1) return x;
    // Binary search on r; r^k is formed with the overflow check of prime_power.
    std::uint64_t lo = 0, hi = std::uint64_t{1} << (64 / k + 1);
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo + 1) / 2;
        const std::uint64_t power = prime_power(mid, k);
        if (power != 0 && power <= x)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

// The same as integer_root, faster where many roots are taken: a floating
// first guess, then set right with exact powers.
inline std::uint64_t floor_root(std::uint64_t x, int k) {
    if (k == 1 || x < 2) return x;
    auto r = static_cast<std::uint64_t>(std::pow(static_cast<long double>(x), 1.0L / k));
    const auto fits = [&](std::uint64_t q) {
        const std::uint64_t power = prime_power(q, k);
        return power != 0 && power <= x;
    };
    while (r > 1 && !fits(r)) --r;
    while (fits(r + 1)) ++r;
    return r;
}

// The set of morvane and morvane-l: the squares of the primes up to p.
inline PrimeSet squares_set(std::int32_t p) { return PrimeSet{static_cast<std::uint32_t>(p), 2}; }

// The largest prime a run up to `last` needs: min(p, root_k(last)).
inline std::uint64_t largest_needed_prime(const PrimeSet& set, std::uint64_t last) {
    const std::uint64_t root = integer_root(last, set.k);
    return set.all() || set.bound > root ? root : set.bound;
}

// The p text of a set in file names and messages, with the power when it is
// not 2: "97", "all", "allk3", "1000k7". Two different runs never share it.
inline std::string set_text(const std::string& p_text, int k) {
    return k == 2 ? p_text : p_text + "k" + std::to_string(k);
}

// The primes of the 25 up to 97: what morvane and morvane-l take. Each profile
// names its source of primes; this one needs nothing beyond the language.
struct TablePrimes {
    static constexpr std::uint32_t table[25] = {2,  3,  5,  7,  11, 13, 17, 19, 23, 29, 31, 37, 41,
                                                43, 47, 53, 59, 61, 67, 71, 73, 79, 83, 89, 97};
    // Calls f(q) for every prime q in [from, to], ascending.
    template <class F>
    static void each(std::uint64_t from, std::uint64_t to, F&& f) {
        for (const std::uint32_t q : table)
            if (q >= from && q <= to) f(q);
    }
};

inline constexpr int largest_table_prime = 97;  // the largest p of morvane and morvane-l

}  // namespace morvane
