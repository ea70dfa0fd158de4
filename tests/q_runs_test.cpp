// The record runs of Q-numbers: the fast scan's, found a block and a word at a
// time behind a byte filter, against a plain walk that sieves the window on
// its own and takes one n at a time; and the published first runs.
#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fast_scan.hpp"
#include "engine/q_count.hpp"
#include "engine/q_runs.hpp"
#include "profiles/exact_density.hpp"
#include "engine_copy_test.hpp"

namespace morvane {
namespace {

class RunsEngine : public testing::EngineCopyTest {};

using Lines = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// Takes the runs, and the excess records without keeping them.
struct KeptRuns {
    Lines lines;
    bool q_record(std::uint64_t, std::uint64_t, const ExactProfile::Real&) { return true; }
    bool f_record(std::uint64_t, std::uint64_t, const ExactProfile::Real&) { return true; }
    bool run_record(std::uint64_t n, std::uint64_t length) {
        lines.push_back({n, length});
        return true;
    }
};

constexpr std::uint64_t every = PrimeSet::every_prime;

// The primes up to 10^7, once: a sieve of Eratosthenes of the test's own.
const std::vector<std::uint64_t>& test_primes() {
    static const std::vector<std::uint64_t> primes = [] {
        constexpr std::uint64_t top = 10000000;
        std::vector<bool> composite(top + 1);
        std::vector<std::uint64_t> found;
        for (std::uint64_t p = 2; p <= top; ++p) {
            if (composite[p]) continue;
            found.push_back(p);
            for (std::uint64_t m = p * p; m <= top; m += p) composite[m] = true;
        }
        return found;
    }();
    return primes;
}

// The Q flags of [first, last] by marking the multiples of q^K of every prime
// of the set (last below 10^14 for squares).
std::vector<bool> window_flags(const PrimeSet& set, std::uint64_t first, std::uint64_t last) {
    const std::uint64_t root = integer_root(last, set.k);
    const std::uint64_t top = set.all() ? root : std::min(root, set.bound);
    EXPECT_LE(top, 10000000u);
    std::vector<bool> q(last - first + 1);
    for (const std::uint64_t p : test_primes()) {
        if (p > top) break;
        const std::uint64_t s = prime_power(p, set.k);
        for (std::uint64_t m = (first + s - 1) / s * s; m <= last && m >= s; m += s)
            q[m - first] = true;
    }
    return q;
}

// The runs one n at a time, from a longest run of `longest`, closed at last.
Lines plain_runs(const PrimeSet& set, std::uint64_t first, std::uint64_t last,
                 std::uint64_t longest, std::uint64_t* longest_after = nullptr) {
    const std::vector<bool> q = window_flags(set, first, last);
    KeptRuns kept;
    QRuns runs{0, longest};
    for (std::uint64_t n = first;; ++n) {
        run_step(runs, n, q[n - first], kept);
        if (n == last) break;
    }
    finish_runs(runs, last, kept);
    if (longest_after) *longest_after = runs.longest;
    return kept.lines;
}

Lines fast_runs(const PrimeSet& set, std::uint64_t first, std::uint64_t last,
                std::uint64_t longest, std::uint64_t* longest_after = nullptr) {
    KeptRuns kept;
    ScanState<ExactProfile> state;
    state.count = count_q_numbers(first - 1, set);
    state.runs.longest = longest;
    EXPECT_TRUE(FastScan<ExactProfile>(set, last).scan(first, last, state, kept));
    finish_runs(state.runs, last, kept);
    if (longest_after) *longest_after = state.runs.longest;
    return kept.lines;
}

// Windows around the first long runs, from every longest run below theirs
// (so that each test of the filter decides), with the run at the window's
// start, inside a word, across a word's edge, across a block's edge (32768 n
// from the window's start), and cut by the window's start; where the run is
// one longer than the record, at every place in the first byte of the first
// block and of the second. The windows go on for 700 n or more, so that the
// vector loops of the filter (eight words at a time) see the run.
TEST_F(RunsEngine, LongRunsFromEveryRecordAndAcrossEveryEdge) {
    struct LongRun {
        PrimeSet set;
        std::uint64_t start, length;
    };
    const LongRun long_runs[] = {
        {{every, 2}, 221167422, 11},      {{every, 2}, 47255689915, 12},
        {{every, 2}, 82462576220, 13},    {{every, 2}, 1043460553364, 14},
        {{every, 2}, 79180770078548, 15}, {{every, 3}, 4379776620, 6},
        {{every, 3}, 1204244328624, 7},   {{97, 2}, 671346, 7},
        {{every, 2}, 1092747, 8},         {{every, 2}, 8870024, 9},
        {{every, 2}, 262315467, 10}};  // the first run of exactly 10
    std::mt19937_64 random(26);
    int found = 0;
    for (const LongRun& run : long_runs)
        for (std::uint64_t longest = 0; longest <= run.length; ++longest) {
            const std::int64_t cut = -std::int64_t(1 + random() % (run.length - 1));
            std::vector<std::int64_t> starts = {
                0, cut, std::int64_t(random() % 60),
                std::int64_t(64 * (1 + random() % 8)) - std::int64_t(random() % run.length),
                std::int64_t(32768) - std::int64_t(random() % (run.length + 1))};
            // Where the run is one longer than the record, at every place in a byte.
            if (longest + 1 == run.length)
                for (std::int64_t at = 1; at < 8; ++at) {
                    starts.push_back(at);
                    starts.push_back(32768 + at);
                }
            for (const std::int64_t before : starts) {
                const std::uint64_t first = run.start - before,
                                    last = run.start + run.length + 700 + random() % 300;
                SCOPED_TRACE(::testing::Message() << "k=" << run.set.k << " first=" << first
                                                  << " last=" << last << " longest=" << longest);
                std::uint64_t plain_longest = 0, fast_longest = 0;
                const Lines plain = plain_runs(run.set, first, last, longest, &plain_longest);
                EXPECT_EQ(fast_runs(run.set, first, last, longest, &fast_longest), plain);
                EXPECT_EQ(fast_longest, plain_longest);
                const std::uint64_t seen = run.length - (before < 0 ? -before : 0);
                const bool record = longest < seen;
                found += record;
                EXPECT_EQ(std::count(plain.begin(), plain.end(),
                                     std::pair{std::max(first, run.start), seen}),
                          record);
            }
        }
    EXPECT_GT(found, 300);
}

// Random sets, powers and windows.
TEST_F(RunsEngine, SameRunsAsThePlainWalk) {
    std::mt19937_64 random(27);
    int with_records = 0;
    for (int c = 0; c < 80; ++c) {
        const std::uint64_t bounds[] = {2, 3, 5, 7, 13, 97, 1000, every};
        const PrimeSet set{bounds[random() % 8], 2 + int(random() % 3)};
        const std::uint64_t first = 1 + (random() >> (24 + random() % 40)),
                            last = first + random() % 120000, longest = random() % 5;
        SCOPED_TRACE(::testing::Message() << "bound=" << set.bound << " k=" << set.k
                                          << " first=" << first << " last=" << last
                                          << " longest=" << longest);
        std::uint64_t plain_longest = 0, fast_longest = 0;
        const Lines plain = plain_runs(set, first, last, longest, &plain_longest);
        EXPECT_EQ(fast_runs(set, first, last, longest, &fast_longest), plain);
        EXPECT_EQ(fast_longest, plain_longest);
        with_records += !plain.empty();
    }
    EXPECT_GT(with_records, 30);
}

// The whole run as morvane-x makes it: the first runs of at least 1 to 11
// non-squarefree numbers (OEIS A045882; none is of exactly 10) and of 1 to 5
// non-cube-free numbers.
TEST_F(RunsEngine, PublishedFirstRuns) {
    const auto whole = [](PrimeSet set, std::uint64_t N) {
        KeptRuns kept;
        ScanState<ExactProfile> state;
        EXPECT_TRUE(fast_scan(set, N, std::uint64_t{1}, state, kept));
        kept.lines.push_back({N, state.runs.longest});
        return kept.lines;
    };
    EXPECT_EQ(whole({every, 2}, 1000000000),
              (Lines{{4, 1}, {8, 2}, {48, 3}, {242, 4}, {844, 5}, {22020, 6}, {217070, 7},
                     {1092747, 8}, {8870024, 9}, {221167422, 11}, {1000000000, 11}}));
    EXPECT_EQ(whole({every, 3}, 2000000000),
              (Lines{{8, 1}, {80, 2}, {1375, 3}, {22624, 4}, {18035622, 5}, {2000000000, 5}}));
}

// Small sets stop after two periods of their flags (900 n for p = 5, 44100 for
// p = 7, 27000 for cubes to 5); the runs are those of the whole scan.
TEST_F(RunsEngine, PeriodStopKeepsTheRunsOfTheWholeScan) {
    std::mt19937_64 random(7);
    for (const PrimeSet set : {PrimeSet{3, 2}, PrimeSet{5, 2}, PrimeSet{7, 2}, PrimeSet{5, 3}})
        for (int c = 0; c < 6; ++c) {
            const std::uint64_t nmin = 1 + random() % 50000, N = nmin + random() % 150000;
            SCOPED_TRACE(::testing::Message() << set.bound << " k=" << set.k << " nmin=" << nmin
                                              << " N=" << N);
            KeptRuns kept;
            ScanState<ExactProfile> state;
            EXPECT_TRUE(fast_scan(set, N, nmin, state, kept));
            std::uint64_t longest = 0;
            EXPECT_EQ(kept.lines, plain_runs(set, nmin, N, 0, &longest));
            EXPECT_EQ(state.runs.longest, longest);
        }
}

}  // namespace
}  // namespace morvane
