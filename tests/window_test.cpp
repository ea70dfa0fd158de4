// Scans at the far end of each profile's count range, in process: a detector
// placed at the window's first n, the count before it supplied, records written
// through the record files. For p = 2 every excess is a multiple of 1/4 and
// exact, so the lines are known in advance.
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "engine/plain_scan.hpp"
#include "profiles/profile.hpp"
#include "program_run.hpp"
#include "run/record_files.hpp"

namespace morvane::testing {
namespace {

// The Q file and F file of a scan over first..last, starting from the count of
// Q-numbers below first.
template <class Profile>
std::pair<std::string, std::string> window_files(int p, typename Profile::Count first,
                                                 typename Profile::Count last,
                                                 typename Profile::Count count_before) {
    Scratch dir;
    std::FILE* q = std::fopen((dir.folder() / "q").c_str(), "w");
    std::FILE* f = std::fopen((dir.folder() / "f").c_str(), "w");
    if (!q || !f) {
        ADD_FAILURE() << "cannot create the record files";
        if (q) std::fclose(q);
        if (f) std::fclose(f);
        return {};
    }
    {
        RecordFiles<Profile> files(q, f);
        ScanState<Profile> state;
        state.count = count_before;
        QNumberDetector<Profile> detector(p, first);
        EXPECT_TRUE(plain_window(detector, first, last, state, files));
        EXPECT_TRUE(files.close_q(last, state.count));
        EXPECT_TRUE(files.close_f(last, last - state.count));
    }
    return {dir.read("q"), dir.read("f")};
}

// Up to 2^32 - 1: the window ends on the largest count.
TEST(FarWindow, NarrowUpToLargestCount) {
    constexpr std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
    const std::uint32_t first = top - 99;  // a multiple of 4
    const auto [q, f] = window_files<NarrowProfile>(2, first, top, (first - 1) / 4);
    EXPECT_EQ(q,
              "4294967196 1073741799 0.000000000000\n"
              "4294967295 1073741823\n");
    EXPECT_EQ(f,
              "4294967197 3221225398 0.250000000000\n"
              "4294967198 3221225399 0.500000000000\n"
              "4294967199 3221225400 0.750000000000\n"
              "4294967295 3221225472\n");
}

#ifdef MORVANE_EXTENDED
// Up to 2^64 - 1. Every n here needs all 64 significand bits: a binary64 Real
// would not even hold n exactly, let alone n/4.
TEST(FarWindow, ExtendedUpToLargestCount) {
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t first = top - 99;
    const auto [q, f] = window_files<ExtendedProfile>(2, first, top, (first - 1) / 4);
    EXPECT_EQ(q,
              "18446744073709551516 4611686018427387879 0.000000000000\n"
              "18446744073709551615 4611686018427387903\n");
    EXPECT_EQ(f,
              "18446744073709551517 13835058055282163638 0.250000000000\n"
              "18446744073709551518 13835058055282163639 0.500000000000\n"
              "18446744073709551519 13835058055282163640 0.750000000000\n"
              "18446744073709551615 13835058055282163712\n");
}

// Just past 2^32, where morvane's counts would have wrapped.
TEST(FarWindow, ExtendedPast32Bits) {
    const std::uint64_t first = (std::uint64_t{1} << 32) + 5;
    const auto [q, f] = window_files<ExtendedProfile>(2, first, first + 100, (first - 1) / 4);
    EXPECT_EQ(q,
              "4294967304 1073741826 0.000000000000\n"
              "4294967401 1073741850\n");
    EXPECT_EQ(f,
              "4294967301 3221225476 0.250000000000\n"
              "4294967302 3221225477 0.500000000000\n"
              "4294967303 3221225478 0.750000000000\n"
              "4294967401 3221225551\n");
}

// File names carry nmin in full.
TEST(FarWindow, NamesCarryNminInFull) {
    EXPECT_EQ(record_file_name<std::uint64_t>('Q', "2", 4294967301u), "maxdevQ_2-4294967301.txt");
    EXPECT_EQ(record_file_name<std::uint64_t>('F', "97", std::numeric_limits<std::uint64_t>::max()),
              "maxdevF_97-18446744073709551615.txt");
    EXPECT_EQ(record_file_name<std::uint32_t>('Q', "", 4294967295u), "maxdevQ_-4294967295.txt");
}
#endif

}  // namespace
}  // namespace morvane::testing
