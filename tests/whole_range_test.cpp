// The whole 32-bit range, end to end: the programs' files (written by the fast
// engine) against files written by the plain per-n scan (plain_records) and
// kept in tests/data/whole-range. p = 97 has the most squares and the rarest
// records; p = 2 has exact ties at every Q-number.
#include <string>

#include <gtest/gtest.h>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

void expect_stored(const Program& program, const char* p) {
    SCOPED_TRACE(std::string(program.name) + " p=" + p);
    const std::string q = std::string("maxdevQ_") + p + "-1.txt";
    const std::string f = std::string("maxdevF_") + p + "-1.txt";
    const auto [got_q, got_f] = files_of(program.path, {p, "4294967295"}, q, f);
    const std::string stored = std::string("whole-range/") + program.data + "/";
    EXPECT_EQ(got_q, data_file(stored + q));
    EXPECT_EQ(got_f, data_file(stored + f));
}

TEST(WholeRange, NarrowMatchesThePlainScan) {
    expect_stored(narrow, "97");
    expect_stored(narrow, "2");
}

#ifdef MORVANE_L_PATH
TEST(WholeRange, ExtendedMatchesThePlainScan) {
    expect_stored(extended, "97");
    expect_stored(extended, "2");
}
#endif

}  // namespace
}  // namespace morvane::testing
