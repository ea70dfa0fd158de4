// Sets of any primes and any power: C(x) against published counts of the
// squarefree and cubefree numbers, against the detector's walk and against a
// plain Moebius sum; the fast scan against the plain walk for many sets, from
// 1 and far out (SetEngine.*, run in each copy of the loops); decisions driven
// through the enclosure's refinement against the ordinary ones.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/bucket_sieve.hpp"
#include "engine/fast_scan.hpp"
#include "engine/plain_scan.hpp"
#include "engine/q_count.hpp"
#include "engine_copy_test.hpp"
#include "memory_records.hpp"
#include "profiles/exact_density.hpp"

namespace morvane {
namespace {

constexpr std::uint64_t every = PrimeSet::every_prime;

std::string shown(const PrimeSet& set) {
    return (set.all() ? std::string("all") : std::to_string(set.bound)) + " k=" + std::to_string(set.k);
}

// The squarefree (OEIS A071172) and cubefree (A160112) numbers up to 10^e,
// e = 0..18.
TEST(SetCount, PublishedCountsOfSquarefreeAndCubefreeNumbers) {
    const std::uint64_t squarefree[] = {
        1, 7, 61, 608, 6083, 60794, 607926, 6079291, 60792694, 607927124, 6079270942,
        60792710280, 607927102274, 6079271018294, 60792710185947, 607927101854103,
        6079271018540405, 60792710185403794, 607927101854022750ull};
    const std::uint64_t cubefree[] = {
        1, 9, 85, 833, 8319, 83190, 831910, 8319081, 83190727, 831907372, 8319073719,
        83190737244, 831907372522, 8319073725828, 83190737258105, 831907372580692,
        8319073725807178, 83190737258070643, 831907372580707771ull};
    std::uint64_t x = 1;
    for (int e = 0; e <= 18; ++e, x *= 10) {
        EXPECT_EQ(x - count_q_numbers(x, PrimeSet{every, 2}), squarefree[e]) << "10^" << e;
        EXPECT_EQ(x - count_q_numbers(x, PrimeSet{every, 3}), cubefree[e]) << "10^" << e;
    }
}

// Below 101^2 = 10201 the squares of primes above 97 divide nothing: p = 97 and
// every prime count the same Q-numbers, and part at 10201.
TEST(SetCount, NinetySevenAndEveryPrimeAgreeBelow10201) {
    for (std::uint64_t x = 0; x < 10201; ++x)
        ASSERT_EQ(count_q_numbers(x, PrimeSet{97, 2}), count_q_numbers(x, PrimeSet{every, 2})) << x;
    EXPECT_EQ(count_q_numbers(10201, PrimeSet{97, 2}) + 1, count_q_numbers(10201, PrimeSet{every, 2}));
}

// C(x) at every x up to 3 * 10^5 against the walk, and far out the term by
// term sum against the sieve's (p up to 1024 takes the first).
TEST(SetCount, AgreesWithTheWalkAndAcrossMethods) {
    const PrimeSet sets[] = {{98, 2}, {101, 2}, {1000, 2}, {4096, 2}, {every, 2}, {2, 3},
                             {97, 3}, {every, 3}, {every, 4}, {13, 7}, {every, 7}, {3, 63}};
    for (const PrimeSet& set : sets) {
        QNumberDetector<ExactProfile> detector(set, 1, 300000);
        std::uint64_t walked = 0;
        for (std::uint64_t x = 1; x <= 300000; ++x) {
            walked += detector.classify(x);
            if (x % 997 == 0 || x < 3000) {
                ASSERT_EQ(count_q_numbers(x, set), walked) << shown(set) << " x=" << x;
            }
        }
    }
    std::mt19937_64 random(3);
    for (const std::uint64_t p : {2ull, 13ull, 97ull, 1000ull}) {
        for (int i = 0; i < 20; ++i) {
            const std::uint64_t x = random() >> (20 + random() % 40);  // D below 2^22
            const PrimeSet set{p, 2 + i % 3};
            EXPECT_EQ(count_q_numbers(x, set), x - free_count_sieved(x, set)) << shown(set) << " x=" << x;
        }
    }
}

// Every prime, k = 2, far enough out that the d beyond 2^24 go by the Mertens
// function: against the whole sum of mu(d) floor(x / d^2), mu from a sieve of
// its own here.
// The sieve of mu for every prime, which tells a prime left over by the sum of
// the logarithms alone, against mu by trial division, on segments from 2^18 to
// the top of 2^32.
TEST(SetCount, MobiusByLogarithmsIsMobius) {
    std::vector<signed char> mu;
    std::vector<std::uint16_t> tally;
    // Segments from a power of two, across one (where floor(log2 d) steps
    // up mid-segment), and at the top.
    for (const std::uint64_t lo : {std::uint64_t{1} << 18, std::uint64_t{1} << 24,
                                   (std::uint64_t{1} << 24) - 9999, (std::uint64_t{1} << 31) - 7,
                                   std::uint64_t{3000000007}, (std::uint64_t{1} << 32) - 20000}) {
        const std::uint64_t hi = std::min(lo + 20000, std::uint64_t{1} << 32);
        detail::every_prime_mobius(lo, hi, mu, tally);
        for (std::uint64_t d = lo; d < hi; ++d) {
            std::uint64_t m = d;
            int want = 1;
            for (std::uint64_t q = 2; q * q <= m && want != 0; ++q) {
                if (m % q != 0) continue;
                m /= q;
                want = m % q == 0 ? 0 : -want;
            }
            if (want != 0 && m > 1) want = -want;
            ASSERT_EQ(mu[d - lo], want) << "d=" << d;
        }
    }
}

// The Mertens function past its table (of 2^16 values here, as the smallest
// the count takes) against the running sum of mu from a plain sieve up to
// 2^24: at every y from the table's end, and at random y beyond, where its
// quotients are divided in binary64.
TEST(SetCount, MertensPastItsTableIsTheRunningSum) {
    constexpr std::uint32_t top = 1u << 24, table = 1u << 16;
    std::vector<signed char> mu(top + 1, 1);
    std::vector<bool> composite(top + 1, false);
    for (std::uint64_t q = 2; q <= top; ++q) {
        if (composite[q]) continue;
        for (std::uint64_t m = q; m <= top; m += q) {
            composite[m] = m > q;
            mu[m] = static_cast<signed char>(-mu[m]);
        }
        for (std::uint64_t m = q * q; m <= top; m += q * q) mu[m] = 0;
    }
    std::vector<std::int32_t> sums(top + 1, 0);
    for (std::uint32_t y = 1; y <= top; ++y) sums[y] = sums[y - 1] + mu[y];
    Mertens M(std::vector<std::int16_t>(sums.begin(), sums.begin() + table + 1));
    for (std::uint32_t y = table; y < table + 5000; ++y) ASSERT_EQ(M(y), sums[y]) << y;
    std::mt19937 random(24);
    for (int t = 0; t < 300; ++t) {
        const std::uint32_t y = table + random() % (top - table + 1);
        ASSERT_EQ(M(y), sums[y]) << y;
    }
}

// The floating root set right, against the binary search, at random x and on
// both sides of every power q^k near the top of 64 bits.
TEST(SetSieve, FloorRootIsTheIntegerRoot) {
    std::mt19937_64 random(63);
    for (int k = 2; k <= 63; ++k) {
        for (int t = 0; t < 2000; ++t) {
            const std::uint64_t x = random() >> (random() % 64);
            ASSERT_EQ(floor_root(x, k), integer_root(x, k)) << x << " " << k;
        }
        const std::uint64_t top = integer_root(~std::uint64_t{0}, k);
        for (std::uint64_t q = top > 50 ? top - 50 : 2; q <= top; ++q) {
            const std::uint64_t power = prime_power(q, k);
            for (const std::uint64_t x : {power - 1, power, power + 1})
                ASSERT_EQ(floor_root(x, k), integer_root(x, k)) << x << " " << k;
        }
    }
}

// The bucket sieve's marks over ranges of many stretches (its blocks' buckets,
// the stretches' buckets, the heap, the cofactors), block by block, against
// each power's multiples marked directly.
TEST(SetSieve, BucketsMarkEveryLargePowerOverManyStretches) {
    constexpr std::uint64_t block = BucketSieve::block_bits;
    const std::uint64_t stretch = block * BucketSieve::stretch_blocks;
    const std::uint64_t e15 = 1'000'000'000'000'000, top = ~std::uint64_t{0};
    struct Range {
        PrimeSet set;
        std::uint64_t first, length;
    };
    for (const Range& r : {Range{{PrimeSet::every_prime, 2}, 1, 70 * stretch + 12345},
                           Range{{PrimeSet::every_prime, 2}, e15 + 777, 9 * stretch + 5},
                           Range{{PrimeSet::every_prime, 3}, e15, 5 * stretch},
                           Range{{200000, 2}, top - 3 * stretch, 3 * stretch}}) {
        const std::uint64_t last = r.first + (r.length - 1);
        const std::uint64_t from = integer_root(block, r.set.k) + 1;
        BucketSieve sieve(r.set, from, r.first, last, SievedPrimes{});
        // Every prime's power marked directly, those below `from` apart: the
        // cofactors' q may be composite, and a composite q's multiples are
        // Q-numbers of its primes, some of them below `from`, marked by the
        // engine's patterns, so those Q-numbers count as marked either way.
        std::vector<std::uint64_t> want((r.length + 63) / 64, 0), small(want.size(), 0);
        const std::uint64_t largest = largest_needed_prime(r.set, last);
        SievedPrimes::each(2, largest, [&](std::uint64_t q) {
            const std::uint64_t m = prime_power(q, r.set.k);
            auto& into = q < from ? small : want;
            for (std::uint64_t i = (m - r.first % m) % m; i < r.length; i += m)
                into[i / 64] |= std::uint64_t{1} << (i % 64);
        });
        std::vector<std::uint64_t> words(block / 64);
        for (std::uint64_t done = 0; done < r.length; done += block) {
            std::fill(words.begin(), words.end(), 0);
            const std::uint64_t bits = std::min(block, r.length - done);
            sieve.mark(words.data(), bits);
            for (std::uint64_t w = 0; w < (bits + 63) / 64; ++w) {
                const std::uint64_t valid = bits - 64 * w >= 64 ? ~std::uint64_t{0}
                                                                 : (std::uint64_t{1} << (bits - 64 * w)) - 1;
                const std::uint64_t at = done / 64 + w;
                ASSERT_EQ((words[w] | small[at]) & valid, (want[at] | small[at]) & valid)
                    << "set " << r.set.bound << " k " << r.set.k << " from " << r.first
                    << " at n = " << r.first + done + 64 * w;
            }
        }
        EXPECT_TRUE(sieve.empty());
    }
}

TEST(SetCount, MertensGroupingAgreesWithTheWholeSum) {
    const std::uint64_t xs[] = {1000000000000000ull, 1000000000000000ull + 12345, 3000000000000000ull};
    const std::uint64_t D = integer_root(xs[2], 2);
    std::vector<signed char> mu(D + 1, 1);
    std::vector<bool> composite(D + 1, false);
    for (std::uint64_t q = 2; q <= D; ++q) {
        if (composite[q]) continue;
        for (std::uint64_t m = q; m <= D; m += q) {
            if (m > q) composite[m] = true;
            mu[m] = static_cast<signed char>(-mu[m]);
        }
        if (q <= D / q)
            for (std::uint64_t m = q * q; m <= D; m += q * q) mu[m] = 0;
    }
    for (const std::uint64_t x : xs) {
        std::int64_t free = 0;
        for (std::uint64_t d = 1; d * d <= x; ++d) free += mu[d] * static_cast<std::int64_t>(x / (d * d));
        EXPECT_EQ(count_q_numbers(x, PrimeSet{every, 2}), x - static_cast<std::uint64_t>(free)) << x;
    }
}

class SetEngine : public testing::EngineCopyTest {};

// The fast scan writes the plain walk's files for sets of every kind: more
// primes than 97, every prime, powers from 2 to 63, from 1 and in windows far
// out (as far as the walk's primes below 2^16 reach: 2^32 for squares of
// every prime, 2^64 for p = 1000 or powers from 4).
TEST_F(SetEngine, SameRecordFilesAsThePlainScan) {
    struct Case {
        PrimeSet set;
        std::uint64_t nmin, N;
    };
    const std::uint64_t top = ~0ull;
    const Case cases[] = {
        {{98, 2}, 1, 200000},
        {{101, 2}, 1, 300000},
        {{1000, 2}, 1, 400000},
        {{1000, 2}, 1000000000000000000ull, 1000000000000000000ull + 200000},
        {{1000, 2}, top - 150000, top},
        {{every, 2}, 1, 500000},
        {{every, 2}, 4000000000ull, 4000030000ull},
        {{every, 2}, (1ull << 32) - 30000, (1ull << 32) - 1},
        {{2, 3}, 1, 100000},
        {{97, 3}, 5, 200000},
        {{every, 3}, 1, 300000},
        {{every, 3}, 1000000000000ull, 1000000100000ull},
        {{every, 3}, 100000000000000ull, 100000000030000ull},
        {{every, 4}, 1, 200000},
        {{every, 4}, 1000000000000000000ull, 1000000000000030000ull},
        {{every, 4}, top - 30000, top},
        {{13, 7}, 1, 100000},
        {{every, 7}, 1, 100000},
        {{every, 7}, 1000000000000000ull, 1000000000100000ull},
        {{2, 13}, 1, 40000},
        {{5, 63}, 1, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(shown(c.set) + " nmin=" + std::to_string(c.nmin) + " N=" + std::to_string(c.N));
        const auto plain = testing::records_in_memory<ExactProfile>(c.N, [&](auto& state, auto& files) {
            QNumberDetector<ExactProfile> detector(c.set, c.nmin, c.N);
            state.count = count_q_numbers(c.nmin - 1, c.set);
            return plain_window(detector, c.nmin, c.N, state, files);
        });
        const auto fast = testing::records_in_memory<ExactProfile>(c.N, [&](auto& state, auto& files) {
            return fast_scan(c.set, c.N, c.nmin, state, files);
        });
        ASSERT_TRUE(plain.written && fast.written);
        EXPECT_EQ(fast.q, plain.q);
        EXPECT_EQ(fast.f, plain.f);
        EXPECT_EQ(fast.count, plain.count);
    }
}

// Every comparison, threshold and rounding of a scan of every prime decided
// from a first precision of 2 bits, refined: the files of the ordinary scan.
TEST(SetRefinement, DecisionsRefinedFromTwoBitsWriteTheSameFiles) {
    for (const PrimeSet set : {PrimeSet{every, 2}, PrimeSet{every, 3}}) {
        const auto scan = [&] {
            return testing::records_in_memory<ExactProfile>(200000, [&](auto& state, auto& files) {
                return fast_scan(set, std::uint64_t{200000}, std::uint64_t{1}, state, files);
            });
        };
        const auto ordinary = scan();
        DeltaEnclosure::set_first_precision_for_tests(2);
        const auto refined = scan();
        DeltaEnclosure::set_first_precision_for_tests(0);
        EXPECT_EQ(refined.q, ordinary.q) << shown(set);
        EXPECT_EQ(refined.f, ordinary.f) << shown(set);
        EXPECT_GT(ordinary.q.size(), 100u);
    }
}

}  // namespace
}  // namespace morvane
