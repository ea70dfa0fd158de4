// The rules of a run's records have one home (record_rules.hpp and
// count_afresh.hpp), asked by a task's window check and by the reading of a
// record file, morvane-check's among them. A window's records, and the same
// records written as the program writes its files, pass both or fail both:
// unchanged, and under every fault a record can carry (a count, an excess, an
// n out of order or outside the run, a record that does not beat the one
// before it or the threshold, the count at the end).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "arith/prime_set.hpp"
#include "engine/q_count.hpp"
#include "program_run.hpp"
#include "run/record_files.hpp"
#include "windows/record_check.hpp"
#include "windows/record_lines.hpp"
#include "windows/window_check.hpp"

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

// Writes the window's records as the program writes the files of the run
// "p N a", and says whether morvane-check passes both.
template <class Profile>
bool files_pass(const Scratch& scratch, const std::string& program,
                const WindowRecords<Profile>& w) {
    ProgramLines<Profile> lines;
    bool pass = true;
    for (const char kind : {'Q', 'F'}) {
        const fs::path path = scratch.folder() / record_file_name(kind, "97", w.a);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            for (const auto& r : kind == 'Q' ? w.q : w.f) out << lines.line(kind, r.n, r.count, r.e);
            out << summary_line<Profile>(w.N, kind == 'Q' ? w.count : w.N - w.count);
        }
        try {
            check_record_file<Profile>(program, nullptr, path.string());
        } catch (const MergeRefusal&) {
            pass = false;
        }
    }
    return pass;
}

// A Q record at a Q-number n that is not a record: its own count and excess.
template <class Profile>
Record<Profile> q_number_record(const PrimeSet& set, std::uint64_t from, std::uint64_t to) {
    const typename Profile::Density density(set);
    for (std::uint64_t n = from; n < to; ++n) {
        const std::uint64_t c = count_q_numbers(n, set);
        if (c != count_q_numbers(n - 1, set))
            return {typename Profile::Count(n), typename Profile::Count(c), density.excess(n, c)};
    }
    return {0, 0, {}};
}

template <class Profile>
void expect_one_verdict(const std::string& program) {
    using Records = WindowRecords<Profile>;
    const PrimeSet set = squares_set(97);
    const typename Profile::Density density(set);
    // The window starts at a Q-number under the threshold: a Q record can
    // stand before its first.
    std::uint64_t a = 1000;
    while (!(density.excess(a, count_q_numbers(a, set)) <= density.q_start()) ||
           count_q_numbers(a, set) == count_q_numbers(a - 1, set))
        ++a;
    const Records good = scan_window<Profile>(set, a, a + 200000, density.q_start(), 0);
    ASSERT_GE(good.q.size(), 3u);
    ASSERT_GE(good.f.size(), 2u);
    const auto below_first = q_number_record<Profile>(set, good.a, good.q[0].n);
    // A Q-number between two Q records, which does not beat the first of them.
    std::size_t after = 0;
    Record<Profile> between{0, 0, {}};
    for (; between.n == 0 && after + 1 < good.q.size(); ++after)
        between = q_number_record<Profile>(set, good.q[after].n + 1, good.q[after + 1].n);
    ASSERT_NE(below_first.n, 0u);
    ASSERT_NE(between.n, 0u);
    const std::vector<std::pair<const char*, std::function<void(Records&)>>> faults = {
        {"count", [](Records& w) { w.q.front().count += 1; }},
        {"count with its excess",
         [&](Records& w) {
             auto& r = w.f.back();
             r.count += 1;
             r.e = density.excess(r.n, r.n - r.count);
         }},
        {"excess", [](Records& w) { w.f.front().e = w.f.front().e - 1; }},
        {"repeated", [](Records& w) { w.q.insert(w.q.begin() + 1, w.q.front()); }},
        {"out of order", [](Records& w) { std::swap(w.q[0], w.q[1]); }},
        {"below nmin", [](Records& w) { w.f.front().n = w.a - 1; }},
        {"beyond N", [](Records& w) { w.q.back().n = w.N + 1; }},
        {"under the threshold", [&](Records& w) { w.q.insert(w.q.begin(), below_first); }},
        {"not beating", [&](Records& w) { w.q.insert(w.q.begin() + after, between); }},
        {"count at N", [](Records& w) { w.count += 1; }},
    };
    Scratch scratch;
    EXPECT_TRUE(window_fault<Profile>(density, set, good).empty());
    EXPECT_TRUE(files_pass(scratch, program, good));
    for (const auto& [what, fault] : faults) {
        Records w = good;
        fault(w);
        EXPECT_FALSE(window_fault<Profile>(density, set, w).empty()) << program << ": " << what;
        EXPECT_FALSE(files_pass(scratch, program, w)) << program << ": " << what;
    }
}

TEST(RecordRules, WindowCheckAndFileCheckAgree) {
    expect_one_verdict<NarrowProfile>("morvane");
#ifdef MORVANE_EXTENDED
    expect_one_verdict<ExtendedProfile>("morvane-l");
#endif
}

}  // namespace
}  // namespace morvane::testing
