// morvane-l alone: 64-bit counts and extended-precision excesses, and where its
// records differ from morvane's.
#include <unistd.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

std::vector<std::string> lines_of(const std::string& file) {
    std::vector<std::string> lines;
    std::istringstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// In the extended format the Q-excess at n = 12 lies below the one at n = 9,
// and the F-excess at n = 6 above the one at n = 3 though both print as 1.
TEST(MorvaneL, PThreeToTwenty) {
    const auto [q, f] =
        files_of(extended.path, {"3", "20"}, "maxdevQ_3-1.txt", "maxdevF_3-1.txt");
    EXPECT_EQ(q,
              "9 3 -0.000000000000\n"
              "20 7 0.333333333333\n"
              "20 7\n");
    EXPECT_EQ(f,
              "1 1 0.333333333333\n"
              "2 2 0.666666666667\n"
              "3 3 1.000000000000\n"
              "6 5 1.000000000000\n"
              "7 6 1.333333333333\n"
              "20 13\n");
}

// delta's surplus over one third survives in the extended products, so each
// 36-number period's peak of the F-excess is a new maximum.
TEST(MorvaneL, PThreeDefaultRecordPositions) {
    const auto [q, f] = files_of(extended.path, {"3"}, "maxdevQ_3-1.txt", "maxdevF_3-1.txt");
    EXPECT_EQ(record_ns(q), (Names{"9", "20", "28"}));
    const auto lines = lines_of(f);
    ASSERT_EQ(lines.size(), 30u);
    EXPECT_EQ(record_ns(f).size(), 29u);
    EXPECT_EQ(lines[3], "6 5 1.000000000000");
    for (int k = 0; k < 25; ++k) {
        const int n = 7 + 36 * k;
        EXPECT_EQ(lines[4 + k], std::to_string(n) + " " + std::to_string(n - n / 4 - n / 9 + n / 36) +
                                    " 1.333333333333");
    }
    EXPECT_EQ(lines.back(), "900 600");
    EXPECT_TRUE(q.ends_with("\n900 300\n"));
}

// The same n as morvane, but the printed excess differs in its last decimal at
// one record: an F record for p = 67, a Q record for p = 97.
TEST(MorvaneL, DiffersFromMorvaneInTheLastDecimal) {
    struct Case {
        const char* p;
        char kind;
        const char* n;
    };
    for (const Case c : {Case{"67", 'F', "39"}, Case{"97", 'Q', "876"}}) {
        SCOPED_TRACE(c.p);
        const std::string q = std::string("maxdevQ_") + c.p + "-1.txt";
        const std::string f = std::string("maxdevF_") + c.p + "-1.txt";
        const auto narrow_files = files_of(narrow.path, {c.p}, q, f);
        const auto extended_files = files_of(extended.path, {c.p}, q, f);
        for (char kind : {'Q', 'F'}) {
            const auto& a = kind == 'Q' ? narrow_files.first : narrow_files.second;
            const auto& b = kind == 'Q' ? extended_files.first : extended_files.second;
            const auto la = lines_of(a), lb = lines_of(b);
            ASSERT_EQ(la.size(), lb.size());
            int differing = 0;
            for (std::size_t i = 0; i < la.size(); ++i) {
                if (la[i] == lb[i]) continue;
                ++differing;
                EXPECT_EQ(kind, c.kind);
                EXPECT_EQ(record_ns(la[i]), Names{c.n});
                EXPECT_EQ(la[i].size(), lb[i].size());
                EXPECT_EQ(la[i].substr(0, la[i].size() - 1), lb[i].substr(0, lb[i].size() - 1));
            }
            EXPECT_EQ(differing, kind == c.kind ? 1 : 0) << kind;
        }
    }
}

// A full disk in the middle of the scan: p = 3 writes an F record every 36
// numbers, far more than a stream buffer holds, so a record line fails.
TEST(MorvaneL, WriteFailsDuringScan) {
    Scratch dir;
    ASSERT_EQ(symlink("/dev/full", (dir.folder() / "maxdevF_3-1.txt").c_str()), 0);
    const Outcome o = dir.run(extended.path, {"3", "100000"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, unwritable("maxdevF_3-1.txt"));
    EXPECT_EQ(o.err, "");
}

}  // namespace
}  // namespace morvane::testing
