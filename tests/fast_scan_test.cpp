// The fast engine against the plain per-n scan: whole record files, byte for
// byte, over many windows; the count below nmin against walking; the sieve
// against the detector.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef MORVANE_EXACT
#include "profiles/exact_density.hpp"
#endif
#include "engine/fast_scan.hpp"
#include "engine/plain_scan.hpp"
#include "engine/q_count.hpp"
#include "engine/q_sieve.hpp"
#include "run/record_files.hpp"
#include "engine_copy_test.hpp"
#include "memory_records.hpp"

namespace morvane {
namespace {

class Engine : public testing::EngineCopyTest {};

using testing::MemoryRecords;
using testing::plain_reference;
using testing::records_in_memory;
using testing::fast_records;

// 64-bit counts for walking the detector; its Real is never used there.
struct WideCounts {
    using Count = std::uint64_t;
    using Real = double;
};

// Windows starting beyond this are not walked up to.
constexpr std::uint64_t walk_limit = 200000;

template <class Profile>
MemoryRecords plain_files(int p, typename Profile::Count N, typename Profile::Count nmin) {
    return plain_reference<Profile>(p, N, nmin, walk_limit);
}

// The engine with blocks where |x| reaches `reach` units (2^-32) evaluated at
// every n: the fallback that no real excess comes near.
template <class Profile>
MemoryRecords fast_files_within(int p, typename Profile::Count N, typename Profile::Count nmin,
                                std::int64_t reach) {
    using Count = typename Profile::Count;
    return records_in_memory<Profile>(N, [&](ScanState<Profile>& state, auto& files) {
        const std::uint64_t first = nmin > 1 ? nmin : 1;
        FastScan<Profile> engine(p, N, reach);
        state.count = Count(count_q_numbers(first - 1, active_square_count<Count>(p)));
        return engine.scan(first, N, state, files);
    });
}

void same_files(const MemoryRecords& plain, const MemoryRecords& fast) {
    EXPECT_TRUE(plain.written && fast.written);
    EXPECT_EQ(plain.q, fast.q);
    EXPECT_EQ(plain.f, fast.f);
}

struct Window {
    int p;
    std::uint64_t N, nmin;
};

template <class Profile>
void expect_same_records(const std::vector<Window>& windows) {
    using Count = typename Profile::Count;
    for (const Window& w : windows) {
        const MemoryRecords plain = plain_files<Profile>(w.p, Count(w.N), Count(w.nmin));
        const MemoryRecords fast = fast_records<Profile>(w.p, Count(w.N), Count(w.nmin));
        ASSERT_TRUE(plain.written && fast.written);
        ASSERT_EQ(plain.q, fast.q) << "p=" << w.p << " N=" << w.N << " nmin=" << w.nmin;
        ASSERT_EQ(plain.f, fast.f) << "p=" << w.p << " N=" << w.N << " nmin=" << w.nmin;
    }
}

// Windows from nmin to N for a scan whose counts have `bits` bits.
std::vector<Window> drawn_windows(unsigned bits, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const std::uint64_t top = bits == 32 ? 0xFFFFFFFFull : ~0ull;
    auto below = [&](std::uint64_t n) { return random() % n; };
    std::vector<Window> windows;
    auto add = [&](int p, std::uint64_t nmin, std::uint64_t length) {
        const std::uint64_t N = nmin + std::min(length, top - nmin);
        windows.push_back({p, std::max<std::uint64_t>(N, 2), nmin});
    };
    // Every p, near the start, where the extremes are still young.
    for (int p = 2; p <= 97; ++p)
        for (int k = 0; k < 4; ++k) add(p, below(walk_limit), below(70000));
    // Ties and near-ties are densest for small p; nmin at 0, 1, N - 1 and N.
    for (int p : {2, 3, 4, 5, 6, 7, 11, 13}) {
        for (int k = 0; k < 12; ++k) add(p, below(3000), below(100000));
        add(p, 0, 5000);
        add(p, 1, 5000);
        const std::uint64_t N = 1000 + below(100000);
        windows.push_back({p, N, N - 1});
        windows.push_back({p, N, N});
    }
    // Lengths at and around the sieve's word and block sizes.
    for (std::uint64_t length : {63ull, 64ull, 65ull, 32767ull, 32768ull, 32769ull, 65535ull,
                                 65536ull, 65537ull, 98303ull})
        for (int p : {2, 3, 13, 97}) add(p, 1 + below(1000), length - 1);
    // Far out: the end of the count range, and (64 bits) far beyond 2^32.
    for (int k = 0; k < 60; ++k) {
        const int p = 2 + int(below(96));
        const std::uint64_t length = below(60000);
        add(p, top - length, length);
    }
    // Far out the rounding of delta * n is largest (2^-23 near 2^32 in binary64,
    // up to 1/4 near 2^64 in the extended format), and for small p the excess
    // keeps returning to within it of its extremes: records decided by rounding.
    for (int p : {3, 4, 5, 7}) {
        add(p, top - 400000, 400000);
        if (bits == 64) add(p, std::uint64_t{1} << 62, 400000);
    }
    if (bits == 64) {
        for (int k = 0; k < 60; ++k) {
            const int p = 2 + int(below(96));
            add(p, (std::uint64_t{1} << 32) + below(std::uint64_t{1} << 62), below(60000));
        }
        for (std::uint64_t nmin : {1000000000000ull, 1000000000000000000ull, 1ull << 63})
            for (int p : {2, 3, 5, 13, 97}) add(p, nmin, 50000);
    }
    return windows;
}

TEST_F(Engine, SameRecordFilesAsThePlainScanNarrow) {
    const auto windows = drawn_windows(32, 20261208);
    ASSERT_GE(windows.size(), 600u);
    expect_same_records<NarrowProfile>(windows);
}

#ifdef MORVANE_EXTENDED
TEST_F(Engine, SameRecordFilesAsThePlainScanExtended) {
    const auto windows = drawn_windows(64, 20261209);
    ASSERT_GE(windows.size(), 600u);
    expect_same_records<ExtendedProfile>(windows);
}
#endif

#ifdef MORVANE_EXACT
// The exact excess: the drawn windows of the 64-bit range, and more at the
// places where the other profiles' delta * n has drifted furthest from the
// truth (2^32, 10^12, 10^15, 10^18 and the top), for every p.
TEST_F(Engine, SameRecordFilesAsThePlainScanExact) {
    auto windows = drawn_windows(64, 20261210);
    std::mt19937_64 random(20261211);
    for (const std::uint64_t start :
         {0xFFFFFFFFull - 20000, 1000000000000ull, 1000000000000000ull, 1000000000000000000ull,
          ~0ull - 30000})
        for (int p = 2; p <= 97; p += 1 + int(random() % 5))
            windows.push_back({p, start + 20000 + random() % 10000, start + random() % 1000});
    ASSERT_GE(windows.size(), 700u);
    expect_same_records<ExactProfile>(windows);
}

// The exact excess repeats with period prod q^2, so the run stops scanning one
// period after nmin and counts the rest: windows just shorter and longer than a
// period (36 for p = 3, 900 for 5, 44100 for 7, 5336100 for 11), near the
// start and far out, against the plain scan, which walks all of them.
TEST_F(Engine, ExactRunsStopAfterOnePeriod) {
    std::vector<Window> windows;
    for (const std::uint64_t nmin : {1ull, 1000000000000000000ull + 17}) {
        for (const auto& [p, period] : {std::pair{3, 36ull}, {5, 900ull}, {7, 44100ull}, {11, 5336100ull}}) {
            for (const std::uint64_t length : {period - 2, period - 1, period, period + 1, 2 * period + 5})
                windows.push_back({p, nmin + length, nmin});
            EXPECT_EQ(ExactDensity::excess_period(squares_set(p)), period);
        }
    }
    // Every place in the period for p = 3: in some window the period's extreme
    // is met first at its very last n.
    for (std::uint64_t nmin = 1; nmin <= 36; ++nmin) windows.push_back({3, nmin + 40, nmin});
    expect_same_records<ExactProfile>(windows);
    EXPECT_EQ(ExactDensity::excess_period(squares_set(23)),
              223092870ull * 223092870ull);
    EXPECT_EQ(ExactDensity::excess_period(squares_set(29)), 0u);
}

// x(n + 36) = x(n) exactly for p = 3: no window holds a record past its first
// 36 n, and windows in the same place of the period, however far apart, write
// the same excesses.
TEST_F(Engine, ExactExcessRepeatsEvery36ForPThree) {
    // Each record line as its n and its excess text; summary lines left out.
    struct Record {
        std::uint64_t n;
        std::string excess;
    };
    auto records = [](const std::string& file) {
        std::vector<Record> out;
        std::size_t at = 0;
        for (std::size_t end; (end = file.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = file.substr(at, end - at);
            const auto last_space = line.rfind(' ');
            if (line.find(' ') != last_space)
                out.push_back({std::stoull(line), line.substr(last_space + 1)});
        }
        return out;
    };
    std::mt19937_64 random(36);
    for (int k = 0; k < 60; ++k) {
        const std::uint64_t nmin = 37 + random() % (~0ull - 100000);
        const std::uint64_t near = 36 + nmin % 36;  // the same place in the period
        const std::uint64_t length = 36 + random() % 50000;
        SCOPED_TRACE(::testing::Message() << "nmin=" << nmin << " length=" << length);
        const MemoryRecords far_out = fast_records<ExactProfile>(3, nmin + length, nmin);
        const MemoryRecords start = fast_records<ExactProfile>(3, near + length, near);
        for (auto [far_file, near_file] : {std::pair{&far_out.q, &start.q}, {&far_out.f, &start.f}}) {
            const auto far_records = records(*far_file), near_records = records(*near_file);
            ASSERT_EQ(far_records.size(), near_records.size());
            ASSERT_FALSE(far_records.empty());
            for (std::size_t i = 0; i < far_records.size(); ++i) {
                EXPECT_LT(far_records[i].n, nmin + 36);
                EXPECT_EQ(far_records[i].n - nmin, near_records[i].n - near);
                EXPECT_EQ(far_records[i].excess, near_records[i].excess);
            }
        }
    }
}

// Records that beat the running extreme by the least step there is, 1/D: the
// window's own best Q and F excesses, with the extremes started just short of
// them, so that only the slack of the fixed point lets them through.
TEST_F(Engine, ExactRecordsByTheSmallestMargin) {
    using Real = ExactProfile::Real;
    struct Kept {
        std::vector<std::pair<std::uint64_t, Real>> q, f;
        bool q_record(std::uint64_t n, std::uint64_t, const Real& e) { return q.push_back({n, e}), true; }
        bool f_record(std::uint64_t n, std::uint64_t, const Real& e) { return f.push_back({n, e}), true; }
    };
    std::mt19937_64 random(1);
    int compared = 0;
    for (int k = 0; k < 500; ++k) {
        const int p = 11 + int(random() % 87);
        const std::uint64_t first = 1 + (random() >> (random() % 64)), last = first + random() % 40000;
        if (last < first) continue;
        const int active = active_square_count<std::uint64_t>(p);
        const std::uint64_t below = count_q_numbers(first - 1, active);
        auto run_plain = [&](ScanState<ExactProfile> state, Kept& kept) {
            state.count = below;
            QNumberDetector<ExactProfile> detector(p, first);
            plain_window(detector, first, last, state, kept);
        };
        Kept whole;
        run_plain({}, whole);
        if (whole.q.empty() || whole.f.empty()) continue;
        ScanState<ExactProfile> start;
        start.maxQ = whole.q.back().second.nudged(-1);
        start.minE = whole.f.back().second.nudged(1);
        Kept plain, fast;
        run_plain(start, plain);
        start.count = below;
        FastScan<ExactProfile>(p, last).scan(first, last, start, fast);
        SCOPED_TRACE(::testing::Message() << "p=" << p << " first=" << first << " last=" << last);
        ASSERT_EQ(plain.q.size(), 1u);
        ASSERT_EQ(plain.f.size(), 1u);
        EXPECT_EQ(fast.q, plain.q);
        EXPECT_EQ(fast.f, plain.f);
        ++compared;
    }
    EXPECT_GT(compared, 150);
}
#endif

// A window is cut into blocks and words; it must not matter where a window of
// the same run starts inside them. Every nmin from 1 to 200 for tie-heavy p.
TEST_F(Engine, EveryStartNearTheBeginning) {
    std::vector<Window> windows;
    for (int p : {2, 3, 7, 97})
        for (std::uint64_t nmin = 0; nmin <= 200; ++nmin) windows.push_back({p, 3000, nmin});
    expect_same_records<NarrowProfile>(windows);
#ifdef MORVANE_EXTENDED
    expect_same_records<ExtendedProfile>(windows);
#endif
#ifdef MORVANE_EXACT
    expect_same_records<ExactProfile>(windows);
#endif
}

// Windows starting at 3 * 2^k hold records that only the rounding of delta * n
// decides: the computed excess beats the running maximum where the exact one
// does not. A filter without the rounding margin loses them (the fuzz target
// found the first, at p = 3 and nmin = 3 * 2^24).
TEST_F(Engine, RecordsDecidedByTheRoundingOfDeltaN) {
    std::vector<Window> narrow, extended;
    for (int p : {3, 4, 5}) {
        for (int k = 22; k <= 30; ++k) narrow.push_back({p, (3ull << k) + 1000, 3ull << k});
        for (int k = 34; k <= 62; k += 4) extended.push_back({p, (3ull << k) + 2000, 3ull << k});
    }
    expect_same_records<NarrowProfile>(narrow);
#ifdef MORVANE_EXTENDED
    expect_same_records<ExtendedProfile>(extended);
#endif
#ifdef MORVANE_EXACT
    // Exactly, these are windows of ties and near-ties of the running extremes.
    expect_same_records<ExactProfile>(extended);
#endif
}

// Blocks evaluated at every n, alone (reach 0) and mixed with filtered ones
// (|x| of a few units comes and goes): the same files.
TEST_F(Engine, EveryNBlocksMixWithFilteredOnes) {
    for (int p : {2, 3, 11, 97}) {
        for (std::int64_t reach : {std::int64_t{0}, unit / 2, 2 * unit}) {
            SCOPED_TRACE(::testing::Message() << "p=" << p << " reach=" << reach);
            same_files(plain_files<NarrowProfile>(p, 150000, 7),
                       fast_files_within<NarrowProfile>(p, 150000, 7, reach));
#ifdef MORVANE_EXTENDED
            same_files(plain_files<ExtendedProfile>(p, 150000, 7),
                       fast_files_within<ExtendedProfile>(p, 150000, 7, reach));
#endif
#ifdef MORVANE_EXACT
            same_files(plain_files<ExactProfile>(p, 150000, 7),
                       fast_files_within<ExactProfile>(p, 150000, 7, reach));
#endif
        }
    }
}

TEST(QCount, AgreesWithWalkingTheDetector) {
    std::mt19937_64 random(7);
    for (int p : {2, 3, 5, 7, 11, 13, 31, 97}) {
        const int active = active_square_count<std::uint64_t>(p);
        QNumberDetector<WideCounts> detector(p);
        std::uint64_t walked = 0;
        EXPECT_EQ(count_q_numbers(0, active), 0u);
        for (std::uint64_t x = 1; x <= 3000000; ++x) {
            walked += detector.classify(x);
            if (x < 2000 || random() % 1500 == 0) {
                ASSERT_EQ(count_q_numbers(x, active), walked) << "p=" << p << " x=" << x;
            }
        }
    }
}

// Up to 10^9 the walk goes through the sieve, which is checked against the
// detector on its first ten million flags.
TEST(QCount, AgreesWithTheSieveUpToTenToTheNine) {
    for (int p : {3, 13, 97}) {
        const int active = active_square_count<std::uint64_t>(p);
        QNumberDetector<WideCounts> detector(p);
        QSieve<TablePrimes> sieve(squares_set(p), 1, ~0ull);
        std::vector<std::uint64_t> words(1 << 14);  // 2^20 n per fill
        std::uint64_t n = 0, walked = 0;
        std::mt19937_64 random(p);
        while (n < 1000000000) {
            sieve.fill(words.data(), 64 * words.size());
            for (std::uint64_t word : words) {
                if (n < 10000000) {
                    for (int i = 0; i < 64; ++i)
                        ASSERT_EQ(bool(word >> i & 1), detector.classify(n + 1 + i)) << n + 1 + i;
                }
                walked += std::popcount(word);
                n += 64;
                if (random() % 20000 == 0) {
                    ASSERT_EQ(count_q_numbers(n, active), walked) << "p=" << p << " x=" << n;
                }
            }
        }
    }
}

// Near 2^64: the squares' products must not overflow.
TEST(QCount, AtTheTopOfTheRange) {
    const std::uint64_t top = ~0ull;
    // p = 2: the multiples of 4 up to 2^64 - 1.
    EXPECT_EQ(count_q_numbers(top, 1), top / 4);
    // p = 3: multiples of 4 or 9, by hand.
    EXPECT_EQ(count_q_numbers(top, 2), top / 4 + top / 9 - top / 36);
    // The count grows by one exactly at the Q-numbers just below the top.
    for (int p : {5, 97}) {
        const int active = active_square_count<std::uint64_t>(p);
        QNumberDetector<WideCounts> detector(p, top - 200);
        std::uint64_t c = count_q_numbers(top - 201, active);
        for (std::uint64_t n = top - 200;; ++n) {
            c += detector.classify(n);
            ASSERT_EQ(count_q_numbers(n, active), c) << n;
            if (n == top) break;
        }
    }
}

}  // namespace
}  // namespace morvane
