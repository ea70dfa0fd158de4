// x - C(x) for a set of many primes: the sum of mu(d) * floor(x / d^k) over
// the squarefree d whose primes are all in the set, d^k <= x, with mu(d) from
// a segmented sieve.
//
// d runs up to D = floor(x^(1/k)), below 2^32, so the sieve needs the primes
// up to sqrt(D) < 2^16 and finds the one prime factor of d above them, if any,
// as d over the product of the ones below. For every prime and a large D the
// sum over d > D1 is grouped by v = floor(x / d^k) instead, the Mertens
// function M(y) = sum of mu(d) for d <= y carrying the sum:
//
//     sum over D1 < d <= D of mu(d) floor(x / d^k)
//         = sum over v >= 1 of (M(floor((x / v)^(1/k))) - M(D1)),
//
// over the v with floor((x / v)^(1/k)) > D1 (each d counts once for every
// v <= x / d^k). M up to D1 comes from the sieve; above it from the identity
// sum over j = 1..y of M(floor(y / j)) = 1, remembered where met.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "arith/prime_set.hpp"

namespace morvane {

namespace detail {

// The primes below 2^16, by the sieve of Eratosthenes; they sieve every d.
// A plain function, not a lambda: a lambda is constexpr, and the compiler would
// run the whole sieve at compile time (C++20's vectors are constexpr) in every
// source that includes this header, about 2 s and 400 MB each, before giving up
// on a value that must live at run time.
inline std::vector<std::uint32_t> primes_below_2_16() {
    constexpr std::uint32_t limit = 1u << 16;
    std::vector<bool> composite(limit, false);
    std::vector<std::uint32_t> found;
    for (std::uint32_t i = 2; i < limit; ++i) {
        if (composite[i]) continue;
        found.push_back(i);
        for (std::uint64_t j = std::uint64_t{i} * i; j < limit; j += i) composite[j] = true;
    }
    return found;
}

inline const std::vector<std::uint32_t>& sieving_primes() {
    static const std::vector<std::uint32_t> primes = primes_below_2_16();
    return primes;
}

}  // namespace detail

// Whether q < 2^16 is prime.
inline bool is_small_prime(std::uint64_t q) {
    const auto& primes = detail::sieving_primes();
    return std::binary_search(primes.begin(), primes.end(), q);
}

namespace detail {

// mu(d) for d in [lo, hi), 2^18 <= lo < hi <= 2^32, every prime in the set.
// Whether a prime above the sieving ones divides d needs no product. Let S be
// the sum of floor(log2 q) over the sieving primes q of d, L = floor(log2 d).
// If they make all of d, S > log2 d - 9 >= L - 9 (each floor loses less than
// 1, and no d < 2^32 has 10 distinct primes: their product would pass
// 6469693230), so S >= L - 8. If a prime r is left over, r > sqrt(d) and
// S <= log2(d / r) < (L + 1) / 2, below L - 8 since L >= 18. So numbers are
// added where products were multiplied and divided: 16 S + (how many sieving
// primes), one addition a prime (S <= 31 and at most 9 primes: no carry out
// of the low four bits, nor past 16 bits); 2, 3, 5 and 7, half the additions,
// come from their pattern of period 210.
inline void every_prime_mobius(std::uint64_t lo, std::uint64_t hi, std::vector<signed char>& mu,
                               std::vector<std::uint16_t>& tally) {
    const auto step = [](std::uint32_t q) {
        return static_cast<std::uint16_t>(16 * (std::bit_width(q) - 1) + 1);
    };
    static const std::array<std::uint16_t, 2 * 210> wheel = [&] {
        std::array<std::uint16_t, 2 * 210> w{};
        for (std::uint32_t i = 0; i < w.size(); ++i)
            for (const std::uint32_t q : {2u, 3u, 5u, 7u})
                if (i % q == 0) w[i] = static_cast<std::uint16_t>(w[i] + step(q));
        return w;
    }();
    const std::uint64_t length = hi - lo;
    tally.resize(length);
    const std::uint16_t* const from = wheel.data() + lo % 210;  // d = lo, lo + 210, ...
    for (std::uint64_t i = 0; i < length; i += 210)
        std::copy_n(from, std::min<std::uint64_t>(210, length - i), tally.data() + i);
    const auto& primes = sieving_primes();
    for (const std::uint32_t q : primes) {
        if (std::uint64_t{q} * q >= hi) break;
        if (q <= 7) continue;
        const std::uint16_t add = step(q);
        for (std::uint64_t i = (q - lo % q) % q; i < length; i += q)
            tally[i] = static_cast<std::uint16_t>(tally[i] + add);
    }
    mu.resize(length);
    // Through plain pointers: a store of a char may alias anything, and
    // through the vectors the compiler would load their data anew for every
    // d, and keep a branch (twice the time of the whole sieve).
    signed char* const out = mu.data();
    const std::uint16_t* const in = tally.data();
    // L is the same up to the next power of two, which a segment passes at
    // most once: in two plain loops, which the compiler does in vectors.
    for (std::uint64_t i = 0; i < length;) {
        const int L = std::bit_width(lo + i) - 1;
        const std::uint64_t stop = std::min(length, (std::uint64_t{2} << L) - lo);
        const int least = L - 8;
        for (; i < stop; ++i) {
            const int t = in[i];
            // An odd number of primes: of the sieving ones, and one left over.
            const int odd = (t & 1) ^ ((t >> 4) < least ? 1 : 0);
            out[i] = static_cast<signed char>(1 - 2 * odd);
        }
    }
    for (const std::uint32_t q : primes) {
        const std::uint64_t square = std::uint64_t{q} * q;
        if (square >= hi) break;
        for (std::uint64_t i = (square - lo % square) % square; i < length; i += square) mu[i] = 0;
    }
}

}  // namespace detail

// mu(d) for d in [lo, hi), 0 where d has a prime outside the set, the
// segment of a sieve over 1 <= lo < hi <= 2^32.
inline void set_mobius(std::uint64_t lo, std::uint64_t hi, std::uint64_t bound,
                       std::vector<signed char>& mu, std::vector<std::uint64_t>& product) {
    if (lo >= (std::uint64_t{1} << 18) && bound >= hi - 1) {
        static thread_local std::vector<std::uint16_t> tally;
        return detail::every_prime_mobius(lo, hi, mu, tally);
    }
    const std::uint64_t length = hi - lo;
    mu.assign(length, 1);
    product.assign(length, 1);
    for (const std::uint32_t q : detail::sieving_primes()) {
        if (std::uint64_t{q} * q >= hi) break;
        const std::uint64_t first = (lo + q - 1) / q * q;
        for (std::uint64_t d = first; d < hi; d += q) {
            mu[d - lo] = q > bound ? 0 : -mu[d - lo];
            product[d - lo] *= q;
        }
        const std::uint64_t square = std::uint64_t{q} * q;
        for (std::uint64_t d = (lo + square - 1) / square * square; d < hi; d += square)
            mu[d - lo] = 0;
    }
    // What is left of d beyond the sieving primes is one prime r > sqrt(d).
    for (std::uint64_t i = 0; i < length; ++i) {
        if (mu[i] == 0 || product[i] == lo + i) continue;
        const std::uint64_t r = (lo + i) / product[i];
        mu[i] = r > bound ? 0 : -mu[i];
    }
}

// The Mertens function of every prime, from a table up to its length - 1 and
// the identity above it.
class Mertens {
public:
    explicit Mertens(std::vector<std::int16_t> table) : table_(std::move(table)) {}

    // M(y) for y < 2^32 (the d of a sum up to 2^64 stay below 2^32).
    std::int64_t operator()(std::uint32_t y) {
        if (y < table_.size()) return table_[y];
        if (const auto kept = far_.find(y); kept != far_.end()) return kept->second;
        // M(y) = 1 - sum over j = 2..y of M(floor(y / j)). With s = isqrt(y),
        // the j up to y / (s + 1) have quotients above s and go one by one;
        // the others, grouped by their quotient v <= s, take M(v) from the
        // table (s < 2^16), floor(y / v) - floor(y / (v + 1)) times: summed
        // by parts, floor(y / v) mu(v) for v <= s, less floor(y / (s + 1))
        // M(s). Every division stands on its own, in binary64, where it is
        // exact after the floor: y and v are exact, and a quotient that is
        // no integer lies at least 1 / v >= 2^-16 from one (v <= s + 1, and
        // j <= y / (s + 1) <= s + 1 alike), while its rounding moves it by
        // less than y 2^-53 / v < 2^-21.
        // The quotients y / j of the first loop past the table (j < y / its size)
        // come from far_ or are computed; the rest are read from the table
        // at once.
        const auto s = static_cast<std::uint32_t>(integer_root(y, 2));
        const std::uint32_t j_last = y / (s + 1);
        const double whole = y;
        const auto floor_over = [whole](std::uint32_t v) {
            return static_cast<std::int64_t>(whole / static_cast<double>(v));
        };
        std::int64_t m = 1;
        const std::uint64_t size = table_.size();
        std::uint32_t j = 2;
        for (; j <= j_last && y / j >= size; ++j) m -= (*this)(y / j);
        for (; j <= j_last; ++j) m -= table_[static_cast<std::size_t>(floor_over(j))];
        for (std::uint32_t v = 1; v <= s; ++v) m -= floor_over(v) * (table_[v] - table_[v - 1]);
        m += floor_over(s + 1) * table_[s];
        far_.emplace(y, m);
        return m;
    }

private:
    std::vector<std::int16_t> table_;
    std::unordered_map<std::uint32_t, std::int64_t> far_;
};

// The sum of mu(d) floor(x / d^k) over the d of the set: x - C(x).
inline std::uint64_t free_count_sieved(std::uint64_t x, const PrimeSet& set) {
    const std::uint64_t D = integer_root(x, set.k);
    // For every prime, the d beyond D1 go by the Mertens function, from a table
    // up to D1. The sieve costs D1 and the Mertens sums about x / D1^1.5 (for
    // squares), even near D1 = 2 x^(2/5), which also passes sqrt(D) as the
    // sums need; at most 2^24 values (32 MiB: there |M(y)| < 0.6 sqrt(y) <
    // 2^12, inside 16 bits), at least 2^16, a segment.
    constexpr std::uint64_t table_limit = std::uint64_t{1} << 24;
    const auto balanced = static_cast<std::uint64_t>(2 * std::pow(static_cast<double>(x), 0.4));
    const std::uint64_t D1 =
        set.all() ? std::min({D, table_limit, std::max(balanced, std::uint64_t{1} << 16)}) : D;
    const std::uint64_t bound = set.all() ? D : set.bound;

    // The sum is kept modulo 2^64: the total, x - C(x), fits.
    std::uint64_t sum = 0;
    std::vector<std::int16_t> mertens;
    if (D1 < D) mertens.assign(D1 + 1, 0);
    std::vector<signed char> mu;
    std::vector<std::uint64_t> product;
    constexpr std::uint64_t segment = std::uint64_t{1} << 16;
    std::int64_t running = 0;
    for (std::uint64_t lo = 1; lo <= D1; lo += segment) {
        const std::uint64_t hi = std::min(D1 + 1, lo + segment);
        set_mobius(lo, hi, bound, mu, product);
        for (std::uint64_t d = lo; d < hi; ++d) {
            const int m = mu[d - lo];
            if (m != 0) {
                const std::uint64_t term = x / prime_power(d, set.k);
                sum += m > 0 ? term : -term;
            }
            if (!mertens.empty()) mertens[d] = static_cast<std::int16_t>(running += m);
        }
    }
    if (D1 == D) return sum;

    const std::int64_t m1 = mertens[D1];
    Mertens M(std::move(mertens));
    // v <= x / (D1 + 1)^k, the v whose root passes D1.
    const std::uint64_t top = x / prime_power(D1 + 1, set.k);
    for (std::uint64_t v = 1; v <= top; ++v)
        sum += static_cast<std::uint64_t>(
            M(static_cast<std::uint32_t>(integer_root(x / v, set.k))) - m1);
    return sum;
}

}  // namespace morvane
