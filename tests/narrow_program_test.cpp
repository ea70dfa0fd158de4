// morvane alone: binary64 records, 32-bit counts and their wrap.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

// At n = 9 the Q-excess is a tiny negative number that prints as -0; at n = 12
// it is exactly 0 and so a new maximum. That record is lost where the product
// delta*n and the difference are fused into one rounding.
TEST(Morvane, PThreeToTwenty) {
    const auto [q, f] = files_of(narrow.path, {"3", "20"}, "maxdevQ_3-1.txt", "maxdevF_3-1.txt");
    EXPECT_EQ(q,
              "9 3 -0.000000000000\n"
              "12 4 0.000000000000\n"
              "20 7 0.333333333333\n"
              "20 7\n");
    EXPECT_EQ(f,
              "1 1 0.333333333333\n"
              "2 2 0.666666666667\n"
              "3 3 1.000000000000\n"
              "7 6 1.333333333333\n"
              "20 13\n");
}

// With the default N, binary64 mostly hides delta's surplus over one third.
TEST(Morvane, PThreeDefaultRecordPositions) {
    const auto [q, f] = files_of(narrow.path, {"3"}, "maxdevQ_3-1.txt", "maxdevF_3-1.txt");
    EXPECT_EQ(record_ns(q), (Names{"9", "12", "20", "28"}));
    EXPECT_EQ(record_ns(f), (Names{"1", "2", "3", "7", "43", "187", "655"}));
    EXPECT_TRUE(q.ends_with("\n900 300\n"));
    EXPECT_TRUE(f.ends_with("\n900 600\n"));
}

// N and nmin are cut to their low 32 bits.
TEST(Morvane, CountsWrapTo32Bits) {
    for (const char* N : {"4294967306", "-4294967286", "8589934602"}) {
        SCOPED_TRACE(N);
        EXPECT_EQ(files_of(narrow.path, {"2", N}, "maxdevQ_2-1.txt", "maxdevF_2-1.txt"),
                  std::make_pair(p2_q, p2_f));
    }
    // 2^32 + 1 as nmin is 1; 2^32 + 5 is 5.
    EXPECT_EQ(files_of(narrow.path, {"2", "10", "4294967297"}, "maxdevQ_2-1.txt",
                       "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
    const auto [q, f] =
        files_of(narrow.path, {"2", "10", "4294967301"}, "maxdevQ_2-5.txt", "maxdevF_2-5.txt");
    EXPECT_EQ(q, "8 2 0.000000000000\n10 2\n");

    expect_refusals(narrow.path, {
        {{"2", "4294967296"}, small_N},
        {{"2", "4294967297"}, small_N},
        {{"2", "-4294967296"}, small_N},
        {{"2", "-99999999999999999999"}, small_N},  // saturates to -2^63, low bits 0
        {{"2", "10", "4294967307"}, big_nmin},
        {{"2", "10", "-2147483648"}, big_nmin},
    });
}

// N = -1 is 4294967295, the largest count: the scan classifies every n up to
// it and stops there.
TEST(Morvane, LargestN) {
    auto [q, f] = files_of(narrow.path, {"2", "-1"}, "maxdevQ_2-1.txt", "maxdevF_2-1.txt");
    EXPECT_EQ(q, "4 1 0.000000000000\n4294967295 1073741823\n");
    EXPECT_EQ(f,
              "1 1 0.250000000000\n"
              "2 2 0.500000000000\n"
              "3 3 0.750000000000\n"
              "4294967295 3221225472\n");

    // nmin = N = 4294967295: one n, an F-number whose F-excess is 3/4.
    std::tie(q, f) = files_of(narrow.path, {"2", "-1", "-1"}, "maxdevQ_2-4294967295.txt",
                              "maxdevF_2-4294967295.txt");
    EXPECT_EQ(q, "4294967295 1073741823\n");
    EXPECT_EQ(f, "4294967295 3221225472 0.750000000000\n4294967295 3221225472\n");
}

}  // namespace
}  // namespace morvane::testing
