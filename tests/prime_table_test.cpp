// The table of the 25 primes up to 97 and the squares formed from it, which
// morvane's and morvane-l's records depend on byte for byte, and the sets each
// program takes: p from 2 to 97 with k = 2 for those two, any bound below 2^32
// or every prime with k from 2 to 63 for morvane-x.
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "arith/prime_set.hpp"
#include "arith/squares.hpp"
#include "run/by_name.hpp"

namespace morvane {
namespace {

constexpr std::uint64_t every = PrimeSet::every_prime;

// The primes up to last by trial division, apart from the table.
std::vector<std::uint64_t> primes_up_to(std::uint64_t last) {
    std::vector<std::uint64_t> primes;
    for (std::uint64_t q = 2; q <= last; ++q) {
        bool prime = true;
        for (std::uint64_t d = 2; d * d <= q; ++d) prime = prime && q % d != 0;
        if (prime) primes.push_back(q);
    }
    return primes;
}

TEST(PrimeSet, TableHoldsThePrimesUpToNinetySeven) {
    EXPECT_EQ(largest_table_prime, 97u);  // the largest p in morvane's usage text
    const std::vector<std::uint64_t> table(TablePrimes::table.begin(), TablePrimes::table.end());
    EXPECT_EQ(table, primes_up_to(largest_table_prime));
}

template <class Count>
void expect_squares_of_table() {
    ASSERT_EQ(Squares<Count>.size(), TablePrimes::table.size() + 1);
    for (std::size_t i = 0; i < TablePrimes::table.size(); ++i) {
        const std::uint64_t q = TablePrimes::table[i];
        EXPECT_EQ(Squares<Count>[i], q * q) << q;
    }
    EXPECT_EQ(Squares<Count>.back(), Count{0xFFFFFFFFu});
}

TEST(Squares, AreTheSquaresOfThePrimeTable) {
    expect_squares_of_table<std::uint32_t>();
    expect_squares_of_table<std::uint64_t>();
}

// The squares written out, as morvane and morvane-l have always had them,
// sentinel included.
TEST(Squares, AreTheValuesTheRecordsWereMadeWith) {
    const std::uint64_t written[] = {4,    9,    25,   49,   121,  169,  289,  361,  529,
                                     841,  961,  1369, 1681, 1849, 2209, 2809, 3481, 3721,
                                     4489, 5041, 5329, 6241, 6889, 7921, 9409, 0xFFFFFFFF};
    ASSERT_EQ(std::size(written), Squares<std::uint32_t>.size());
    for (std::size_t i = 0; i < std::size(written); ++i) {
        EXPECT_EQ(Squares<std::uint32_t>[i], written[i]) << i;
        EXPECT_EQ(Squares<std::uint64_t>[i], written[i]) << i;
    }
}

// p need not be prime: a bound takes the squares of the primes up to it.
TEST(Squares, ActiveCountIsTheNumberOfPrimesUpToP) {
    for (std::int32_t p = 2; p <= static_cast<std::int32_t>(largest_table_prime); ++p) {
        const auto primes = static_cast<int>(primes_up_to(static_cast<std::uint64_t>(p)).size());
        EXPECT_EQ(active_square_count<std::uint32_t>(p), primes) << p;
        EXPECT_EQ(active_square_count<std::uint64_t>(p), primes) << p;
    }
}

TEST(PrimeSet, MorvaneAndMorvaneLTakeTheSquaresUpTo97) {
    for (const PrimeSet set : {PrimeSet{2, 2}, PrimeSet{4, 2}, PrimeSet{97, 2}}) {
        EXPECT_TRUE(takes_set<NarrowProfile>(set)) << set.bound;
        EXPECT_TRUE(takes_set<ExtendedProfile>(set)) << set.bound;
    }
    for (const PrimeSet set : {PrimeSet{0, 2}, PrimeSet{1, 2}, PrimeSet{98, 2}, PrimeSet{97, 3},
                               PrimeSet{2, 1}, PrimeSet{every, 2}, PrimeSet{(1ull << 32) + 5, 2}}) {
        EXPECT_FALSE(takes_set<NarrowProfile>(set)) << set.bound << " k=" << set.k;
        EXPECT_FALSE(takes_set<ExtendedProfile>(set)) << set.bound << " k=" << set.k;
    }
}

TEST(PrimeSet, MorvaneXTakesEveryBoundItReadsAndPowersTo63) {
    for (const PrimeSet set : {PrimeSet{2, 2}, PrimeSet{98, 2}, PrimeSet{4294967295, 63},
                               PrimeSet{every, 2}, PrimeSet{every, 63}})
        EXPECT_TRUE(runnable_set(set)) << set.bound << " k=" << set.k;
    for (const PrimeSet set : {PrimeSet{1, 2}, PrimeSet{4294967296, 2}, PrimeSet{every, 1},
                               PrimeSet{every, 64}, PrimeSet{2, 64}})
        EXPECT_FALSE(runnable_set(set)) << set.bound << " k=" << set.k;
}

// p as morvane and morvane-l check it, every comparison unsigned.
TEST(PrimeSet, ArgumentCheckOfPAtTheEdges) {
    const char* out = "Error: value of p out of range";
    const std::vector<std::pair<std::int32_t, const char*>> cases = {
        {2, nullptr}, {97, nullptr}, {1, out}, {98, out}, {0, out}, {-1, out}, {INT32_MIN, out}};
    for (const auto& [p, error] : cases) {
        RunParameters<NarrowProfile> run{};
        run.p = p;
        run.N = 900;
        run.nmin = 1;
        const char* got = argument_error(run);
        EXPECT_EQ(got == nullptr ? std::string("none") : std::string(got),
                  error == nullptr ? std::string("none") : std::string(error))
            << p;
    }
}

}  // namespace
}  // namespace morvane
