// Window runs merged into one run's files: the merged bytes against the files
// of one run over the whole range, for every program and many splits; every
// refusal of morvane-merge, with nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "memory_records.hpp"
#include "program_run.hpp"
#include "programs.hpp"
#include "windows/record_merge.hpp"
#include "windows/window_plan.hpp"
#ifdef MORVANE_MERGE_EXACT
#include "profiles/exact_density.hpp"
#endif

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spill(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every file under a folder, by its path there, with its bytes.
std::map<std::string, std::string> contents(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), dir).string()] = slurp(entry.path());
    return files;
}

template <class Profile>
struct Case {
    using Count = typename Profile::Count;
    const char* program;
    PrimeSet set;
    std::string p_text;
    Count N, nmin;
};

// Runs the windows that start at nmin and at each cut (ascending, above nmin)
// as runs of their own, merges their files, given in a shuffled order, and
// compares the result with one run over [nmin, N].
template <class Profile>
void expect_merge_is_run(const Case<Profile>& c, const std::vector<typename Profile::Count>& cuts,
                         std::mt19937_64& random, const char* p_argument = nullptr) {
    using Count = typename Profile::Count;
    Scratch windows_dir, out_dir;
    std::vector<std::string> paths;
    Count a = c.nmin;
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const Count b = k < cuts.size() ? cuts[k] - 1 : c.N;
        const MemoryRecords w = fast_records<Profile>(c.set, b, a);
        for (const char kind : {'Q', 'F'}) {
            const fs::path path =
                windows_dir.folder() / record_file_name(kind, c.p_text.c_str(), a);
            spill(path, kind == 'Q' ? w.q : w.f);
            paths.push_back(path.string());
        }
        if (k < cuts.size()) a = cuts[k];
    }
    std::shuffle(paths.begin(), paths.end(), random);
    const MemoryRecords whole = fast_records<Profile>(c.set, c.N, c.nmin);
    std::string shown = std::string(c.program) + " p=" + bound_text(c.set) + " k=" + std::to_string(c.set.k) + " [" + c.p_text +
                        "] N=" + std::to_string(c.N) + " nmin=" + std::to_string(c.nmin) + " cuts:";
    for (const Count cut : cuts) shown += " " + std::to_string(cut);
    try {
        merge_record_files<Profile>(c.program, p_argument, paths, out_dir.folder());
    } catch (const MergeRefusal& refusal) {
        ADD_FAILURE() << shown << ": refused: " << refusal.what();
        return;
    }
    const auto merged = contents(out_dir.folder());
    const std::string q_name = record_file_name('Q', c.p_text.c_str(), c.nmin);
    const std::string f_name = record_file_name('F', c.p_text.c_str(), c.nmin);
    ASSERT_EQ(merged.size(), 2u) << shown;
    EXPECT_EQ(merged.count(q_name), 1u) << shown;
    EXPECT_EQ(merged.count(f_name), 1u) << shown;
    EXPECT_EQ(merged.at(q_name), whole.q) << shown;
    EXPECT_EQ(merged.at(f_name), whole.f) << shown;
}

// Cuts for the splits every run gets: none (one window), every n (windows of
// length 1, short runs only), the windows morvane-par plans, and random ones.
template <class Profile>
void expect_splits(const Case<Profile>& c, std::mt19937_64& random, int random_splits) {
    using Count = typename Profile::Count;
    const Count first = c.nmin > 1 ? c.nmin : 1;
    const std::uint64_t length = std::uint64_t(c.N - first) + 1;
    expect_merge_is_run(c, {}, random);
    if (length <= 120) {
        std::vector<Count> every;
        for (Count n = std::max<Count>(first + 1, 3); n <= c.N; ++n) {
            every.push_back(n);
            if (n == c.N) break;
        }
        expect_merge_is_run(c, every, random);
    }
    for (const std::uint64_t count : {2u, 7u}) {
        std::vector<Count> cuts;
        for (const auto& w : split_windows<Count>(c.N, c.nmin, count))
            if (w.first != c.nmin) cuts.push_back(w.first);
        expect_merge_is_run(c, cuts, random);
    }
    for (int s = 0; s < random_splits && length > 2; ++s) {
        // A window must end at 2 or later; the others may be of any length.
        std::uniform_int_distribution<std::uint64_t> at(std::max<std::uint64_t>(first + 1ull, 3),
                                                        c.N);
        std::vector<Count> cuts;
        const int count = int(random() % 12) + 1;
        for (int k = 0; k < count; ++k) cuts.push_back(static_cast<Count>(at(random)));
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        expect_merge_is_run(c, cuts, random);
    }
}

// Short runs over every kind of p, nmin 0 and 1 and further out; windows of
// length 1; for p = 2 and 3, windows that start where the excess ties the
// running maximum (every multiple of 4 ties the Q-excess 0 at p = 2; at p = 3
// the excess repeats every 36 n).
template <class Profile>
void expect_short_runs(const char* program) {
    using Count = typename Profile::Count;
    std::mt19937_64 random(20261208);
    for (const int p : {2, 3, 5, 7, 11, 13, 31, 67, 97}) {
        const std::string text = std::to_string(p);
        for (const auto& [N, nmin] : std::vector<std::pair<Count, Count>>{{2, 0},
                                                                          {2, 2},
                                                                          {60, 0},
                                                                          {60, 1},
                                                                          {100, 37},
                                                                          {3000, 1},
                                                                          {20000, 0},
                                                                          {50000, 4321}}) {
            expect_splits(Case<Profile>{program, squares_set(p), text, N, nmin}, random, 3);
        }
    }
    // Every window starting on a tie of the running maximum.
    for (const auto& [p, period, offset] : std::vector<std::tuple<int, Count, Count>>{
             {2, 4, 0}, {2, 4, 1}, {3, 36, 7}, {3, 36, 0}, {3, 9, 0}}) {
        const Case<Profile> c{program, squares_set(p), std::to_string(p), 2000, 1};
        std::vector<Count> cuts;
        for (Count n = period + offset; n <= c.N; n += period)
            if (n >= 3) cuts.push_back(n);
        expect_merge_is_run(c, cuts, random);
    }
    // The p text as the program cuts it: leading zeros, huge texts that wrap to
    // a p in range, and no digits at all (p given with -p, as "+7" would).
    expect_splits(Case<Profile>{program, squares_set(97), "097", 5000, 1}, random, 2);
    if constexpr (!Profile::any_set) {  // morvane-x refuses such a p
        expect_splits(Case<Profile>{program, squares_set(2), "4294967298", 500, 0}, random, 2);
    }
    Case<Profile> empty{program, squares_set(7), "", 3000, 1};
    expect_merge_is_run(empty, {1000, 2000}, random, "+7");
    expect_merge_is_run(empty, {5, 6, 7}, random, " 07");
}

// Windows at the top of the count range, and for 64-bit counts across 2^32.
template <class Profile>
void expect_far_runs(const char* program) {
    using Count = typename Profile::Count;
    std::mt19937_64 random(97);
    constexpr Count top = std::numeric_limits<Count>::max();
    for (const int p : {2, 3, 97}) {
        const Case<Profile> c{program, squares_set(p), std::to_string(p), top, top - 30000};
        expect_splits(c, random, 2);
        expect_merge_is_run(c, {top - 1, top}, random);
        expect_merge_is_run(c, {top}, random);
        if constexpr (sizeof(Count) == 8) {
            const Count two32 = Count{1} << 32;
            const Case<Profile> across{program, squares_set(p), std::to_string(p), two32 + 20000,
                                        two32 - 20000};
            expect_splits(across, random, 2);
            expect_merge_is_run(across, {two32 - 1, two32, two32 + 1}, random);
        }
    }
}

// 300 windows, two damaged, given in reverse: the refusal names the first in
// window order, and nothing is written.
TEST(MergeRefuses, TheFirstFaultInWindowOrder) {
    Scratch windows_dir, out_dir;
    std::vector<std::string> paths;
    for (std::uint32_t k = 0; k < 300; ++k) {
        const std::uint32_t a = 1 + 1000 * k, b = a + 999;
        const MemoryRecords w = fast_records<NarrowProfile>(97, b, a);
        for (const char kind : {'Q', 'F'}) {
            const fs::path path = windows_dir.folder() / record_file_name(kind, "97", a);
            std::string bytes = kind == 'Q' ? w.q : w.f;
            if ((k == 250 && kind == 'Q') || (k == 40 && kind == 'F'))
                bytes.insert(bytes.begin(), '0');  // a leading zero
            spill(path, bytes);
            paths.push_back(path.string());
        }
    }
    std::reverse(paths.begin(), paths.end());
    for (int round = 0; round < 5; ++round) {
        try {
            merge_record_files<NarrowProfile>("morvane", nullptr, paths, out_dir.folder());
            ADD_FAILURE() << "merged";
        } catch (const MergeRefusal& refusal) {
            EXPECT_EQ(std::string(refusal.what()).rfind(
                          (windows_dir.folder() / "maxdevF_97-40001.txt").string() + ": line 1: ", 0),
                      0u)
                << refusal.what();
        }
        EXPECT_TRUE(contents(out_dir.folder()).empty());
    }
}

TEST(MergeIsOneRun, Morvane) {
    expect_short_runs<NarrowProfile>("morvane");
    expect_far_runs<NarrowProfile>("morvane");
}

#ifdef MORVANE_EXTENDED
TEST(MergeIsOneRun, MorvaneL) {
    expect_short_runs<ExtendedProfile>("morvane-l");
    expect_far_runs<ExtendedProfile>("morvane-l");
}
#endif

#ifdef MORVANE_MERGE_EXACT
TEST(MergeIsOneRun, MorvaneX) {
    expect_short_runs<ExactProfile>("morvane-x");
    expect_far_runs<ExactProfile>("morvane-x");
}

// Other sets and powers: their p texts name the set, and -p and -k given
// beside them must agree.
TEST(MergeIsOneRun, MorvaneXSets) {
    std::mt19937_64 random(18);
    constexpr PrimeSet all3{PrimeSet::every_prime, 3};
    using C = Case<ExactProfile>;
    expect_splits(C{"morvane-x", all3, "allk3", 30000, 1}, random, 3);
    expect_splits(C{"morvane-x", {PrimeSet::every_prime, 2}, "all", 30000, 1}, random, 2);
    expect_splits(C{"morvane-x", {1000, 2}, "1000", 30000, 0}, random, 2);
    expect_splits(C{"morvane-x", {13, 4}, "13k4", 20000, 50}, random, 2);
    const std::uint64_t e15 = 1'000'000'000'000'000;
    expect_merge_is_run(C{"morvane-x", all3, "allk3", e15 + 20000, e15}, {e15 + 7000}, random);
    expect_merge_is_run(C{"morvane-x", all3, "k3", 3000, 1}, {1000, 2000}, random, "all");
    // A p or power beside the names that they do not give.
    Scratch dir, out;
    const MemoryRecords w = fast_records<ExactProfile>(all3, 900, 1);
    std::vector<std::string> paths;
    for (const char kind : {'Q', 'F'}) {
        paths.push_back((dir.folder() / record_file_name(kind, "allk3", 1)).string());
        spill(paths.back(), kind == 'Q' ? w.q : w.f);
    }
    for (const auto& [given, fault] : std::vector<std::pair<NameArguments, std::string>>{
             {{nullptr, 2}, "its name gives k = 3, -k gives 2"},
             {{"97", 3}, "its p text gives p = all, -p gives 97"},
             {{"98x", 0}, "its p text gives p = all, -p gives 98"}}) {
        try {
            merge_record_files<ExactProfile>("morvane-x", given, paths, out.folder());
            ADD_FAILURE() << "merged with " << fault;
        } catch (const MergeRefusal& refusal) {
            EXPECT_NE(std::string(refusal.what()).find(fault), std::string::npos) << refusal.what();
        }
    }
    // morvane's files never name a set.
    try {
        merge_record_files<NarrowProfile>("morvane", nullptr, paths, out.folder());
        ADD_FAILURE() << "morvane merged files of cubes";
    } catch (const MergeRefusal& refusal) {
        EXPECT_NE(std::string(refusal.what()).find("is not one of morvane or morvane-l"),
                  std::string::npos)
            << refusal.what();
    }
    EXPECT_TRUE(contents(out.folder()).empty());
}
#endif

// The planned windows cover [nmin, N] in order, without gap or overlap, each
// ending at 2 or later, and there are as many as asked when the range allows.
TEST(WindowPlan, CoversTheRange) {
    using C = std::uint64_t;
    constexpr C top = std::numeric_limits<C>::max();
    for (const auto& [N, nmin] : std::vector<std::pair<C, C>>{{2, 0},
                                                              {2, 1},
                                                              {2, 2},
                                                              {3, 0},
                                                              {10, 1},
                                                              {900, 1},
                                                              {1000, 999},
                                                              {top, 0},
                                                              {top, top},
                                                              {top, 1}}) {
        for (const std::uint64_t count : {1u, 2u, 3u, 7u, 1000u}) {
            // With a head of 3 n where the range holds four of them, ahead of
            // the others.
            for (const std::uint64_t head : {0u, 3u}) {
                const auto windows = split_windows<C>(N, nmin, count, head);
                ASSERT_FALSE(windows.empty());
                EXPECT_EQ(windows.front().first, nmin);
                EXPECT_EQ(windows.back().second, N);
                const C length = N - std::max<C>(nmin, 2) + 1;
                const bool headed = head > 0 && length / 4 >= head;
                EXPECT_EQ(windows.size(),
                          headed + std::min<std::uint64_t>(count, length - headed * head));
                if (headed) {
                    EXPECT_EQ(windows[0].second, std::max<C>(nmin, 2) + head - 1);
                }
                for (std::size_t k = 0; k < windows.size(); ++k) {
                    EXPECT_LE(windows[k].first, windows[k].second);
                    EXPECT_GE(windows[k].second, 2u);
                    if (k > 0) {
                        EXPECT_EQ(windows[k].first, windows[k - 1].second + 1);
                    }
                }
            }
        }
    }
    // Short runs are one window; long ones at most a minute's length each.
    EXPECT_EQ(default_window_count(1'000'000, 2), 1u);
    EXPECT_EQ(default_window_count(19'999'999'999, 2), 1u);
    EXPECT_EQ(default_window_count(100'000'000'000, 2), 4u);
    EXPECT_EQ(default_window_count(10'000'000'000'000, 2), 11u);
    // Any number of them: a million to 10^18.
    EXPECT_EQ(default_window_count(std::uint64_t(1e18), 2), 1'000'001u);
}

// ---------------------------------------------------------------------------
// morvane-merge end to end: refusals, the output over an input of the same
// name, and the window plan.

const std::string merge_path = MORVANE_MERGE_PATH;

// Window files made by the program in dir: one window per [a, b].
void run_windows(const Scratch& dir, const std::string& program, const std::string& p,
                 const std::vector<std::pair<std::string, std::string>>& windows) {
    for (const auto& [a, b] : windows) {
        const Outcome o = dir.run(program, {p, b, a});
        ASSERT_EQ(o.status, 0) << o.out;
    }
}

struct Refused {
    std::string why;                      // for the failure message
    std::vector<std::string> args;        // after morvane-merge
    std::vector<std::string> in_message;  // pieces of the message
};

// Each case: status 1, one line on standard error that names the file and the
// fault, nothing on standard output, and the folder exactly as before.
void expect_refused(const Scratch& dir, const std::vector<Refused>& cases) {
    for (const auto& c : cases) {
        const auto before = contents(dir.folder());
        const Outcome o = dir.run(merge_path, c.args);
        EXPECT_EQ(o.status, 1) << c.why;
        EXPECT_EQ(o.out, "") << c.why;
        EXPECT_EQ(o.err.rfind("morvane-merge: ", 0), 0u) << c.why << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << c.why << ": " << o.err;
        for (const auto& piece : c.in_message)
            EXPECT_NE(o.err.find(piece), std::string::npos)
                << c.why << ": no '" << piece << "' in " << o.err;
        EXPECT_EQ(contents(dir.folder()), before) << c.why << ": the folder changed";
    }
}

TEST(MergeRefuses, EveryFaultWithNothingWritten) {
    Scratch dir;
    const std::string morvane = MORVANE_PATH;
    run_windows(dir, morvane, "97", {{"1", "1000"}, {"1001", "2000"}, {"2001", "3000"}});
    run_windows(dir, morvane, "97", {{"1500", "2500"}, {"3002", "4000"}});  // overlap, gap
    run_windows(dir, morvane, "097", {{"3001", "4000"}});
    run_windows(dir, morvane, "+7", {{"1", "500"}});
    // Incomplete files, as a stopped run leaves them, and damaged ones.
    const std::string q1 = "maxdevQ_97-1.txt", f1 = "maxdevF_97-1.txt";
    const std::string q2 = "maxdevQ_97-1001.txt", f2 = "maxdevF_97-1001.txt";
    const std::string q3 = "maxdevQ_97-2001.txt", f3 = "maxdevF_97-2001.txt";
    fs::create_directory(dir.folder() / "cut");
    const std::string q2_bytes = dir.read(q2);
    const auto cut = [&](const std::string& name, const std::string& bytes) {
        spill(dir.folder() / "cut" / name, bytes);
        return "cut/" + name;
    };
    const std::string no_summary =
        cut(q2, q2_bytes.substr(0, q2_bytes.rfind('\n', q2_bytes.size() - 2) + 1));
    const std::string cut_line = cut("maxdevF_97-1001.txt", dir.read(f2).substr(0, 20));
    fs::create_directory(dir.folder() / "empty");
    spill(dir.folder() / "empty" / q2, "");
    fs::create_directory(dir.folder() / "changed");
    std::string changed = q2_bytes;
    changed[changed.find(' ') + 1] ^= 1;  // another count
    spill(dir.folder() / "changed" / q2, changed);
    fs::create_directory(dir.folder() / "named");
    spill(dir.folder() / "named" / "records-97-1001.txt", q2_bytes);

    const std::vector<std::string> good = {"morvane", q1, f1, q2, f2, q3, f3};
    // The good files merge, in a copy of the folder, where the merged files
    // replace the first window's of the same names once every input is read.
    {
        Scratch copy;
        for (const auto& name : {q1, f1, q2, f2, q3, f3})
            spill(copy.folder() / name, dir.read(name));
        const Outcome o = copy.run(merge_path, good);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, "");
        const auto [q, f] = files_of(morvane, {"97", "3000"}, q1, f1);
        EXPECT_EQ(copy.read(q1), q);
        EXPECT_EQ(copy.read(f1), f);
        EXPECT_EQ(copy.names(), (std::vector<std::string>{f1, f2, f3, q1, q2, q3}));
    }
    expect_refused(
        dir,
        {
            {"gap", {"morvane", q1, f1, q3, f3}, {q3, "gap", "1000"}},
            {"gap after",
             {"morvane", q1, f1, q2, f2, q3, f3, "maxdevQ_97-3002.txt", "maxdevF_97-3002.txt"},
             {"maxdevQ_97-3002.txt", "gap", "3000"}},
            {"overlap",
             {"morvane", q1, f1, q2, f2, "maxdevQ_97-1500.txt", "maxdevF_97-1500.txt"},
             {"maxdevQ_97-1500.txt", "overlap", "2000"}},
            {"a file twice", {"morvane", q1, f1, q2, f2, q2}, {q2, "overlap"}},
            {"a window twice", {"morvane", q1, f1, q2, f2, "./" + q2, "./" + f2}, {q2, "overlap"}},
            {"no summary line", {"morvane", q1, f1, no_summary, f2}, {no_summary, "incomplete"}},
            {"a line cut", {"morvane", q1, f1, q2, cut_line}, {cut_line, "incomplete"}},
            {"empty", {"morvane", q1, f1, "empty/" + q2, f2}, {"empty/" + q2, "incomplete"}},
            {"missing Q", {"morvane", q1, f1, f2}, {f2, "Q partner", q2, "missing"}},
            {"missing F", {"morvane", q1, f1, q2, f2, q3}, {q3, "F partner", f3, "missing"}},
            {"mixed p texts",
             {"morvane", q1, f1, q2, f2, q3, f3, "maxdevQ_097-3001.txt", "maxdevF_097-3001.txt"},
             {"maxdevQ_097-3001.txt", "mixed p texts"}},
            {"a count changed",
             {"morvane", q1, f1, "changed/" + q2, f2},
             {"changed/" + q2, "line 1"}},
            {"the other program's files", {"morvane-l", q1, f1, q2, f2}, {"morvane-l computes"}},
            {"not a record file's name",
             {"morvane", q1, f1, "named/records-97-1001.txt", f2},
             {"named/records-97-1001.txt", "not named like a record file"}},
            {"no such file",
             {"morvane", q1, f1, "maxdevQ_97-1001.txt", "maxdevF_97-1001.txt",
              "maxdevQ_97-2002.txt", "maxdevF_97-2002.txt"},
             {"maxdevQ_97-2002.txt", "cannot be read"}},
            {"empty p text",
             {"morvane", "maxdevQ_-1.txt", "maxdevF_-1.txt"},
             {"maxdevQ_-1.txt", "-p"}},
            {"-p against the p text", {"-p", "5", "morvane", q1, f1}, {"p = 97", "-p gives 5"}},
            {"p out of range",
             {"-p", "+98", "morvane", "maxdevQ_-1.txt", "maxdevF_-1.txt"},
             {"out of range"}},
        });
    // An output name taken by a folder: refused before either output is written.
    {
        Scratch copy;
        for (const auto& name : {q1, f1}) spill(copy.folder() / name, dir.read(name));
        fs::create_directory(copy.folder() / "out");
        fs::create_directory(copy.folder() / "out" / f1);
        const auto before = contents(copy.folder());
        // From out/, where the F output's name is a folder.
        const Outcome in_out = copy.run("/bin/sh", {"-c", "cd out && exec '" + merge_path +
                                                              "' morvane ../" + q1 + " ../" + f1});
        EXPECT_EQ(in_out.status, 1);
        EXPECT_NE(in_out.err.find("in the way"), std::string::npos) << in_out.err;
        EXPECT_EQ(contents(copy.folder()), before);
    }
    // Wrong usage: status 2.
    for (const auto& args : std::vector<std::vector<std::string>>{{"morvane"},
                                                                  {"nonesuch", q1, f1},
                                                                  {"-p"},
                                                                  {"--plan", "2", "0", "morvane"},
                                                                  {"--plan", "2", "0", "0", "morvane"},
                                                                  {"--plan", "2", "x", "0", "morvane", "7"},
                                                                  {"--task", "w"},
                                                                  {"--task", "w", "-1"},
                                                                  {"--finish"},
                                                                  {"--status", "--line"},
                                                                  {"-x", q1}}) {
        const auto before = contents(dir.folder());
        const Outcome o = dir.run(merge_path, args);
        EXPECT_EQ(o.status, 2) << args[0];
        EXPECT_EQ(contents(dir.folder()), before);
    }
    // The files of "+7" merge with its p.
    const Outcome o =
        dir.run(merge_path, {"-p", "+7", "morvane", "maxdevQ_-1.txt", "maxdevF_-1.txt"});
    EXPECT_EQ(o.status, 0) << o.err;
}

// The plan reads the arguments as the program does, and refuses as it does.
TEST(MergePlan, ReadsArgumentsAsTheProgram) {
    Scratch dir;
    const auto plan = [&](std::vector<std::string> args) { return dir.run(merge_path, args); };
    // What every plan says, after the program, p and its text.
    const auto body = [](std::string N, std::string nmin, std::string last, std::string windows,
                         std::string tasks, std::string head) {
        return "N " + N + "\nnmin " + nmin + "\nlast " + last + "\nwindows " + windows +
               "\ntasks " + tasks + "\nhead " + head + "\n";
    };
    Outcome o = plan({"--plan", "1", "3", "2", "morvane", "097", "-1", "0"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "program morvane\np 97\nptext 097\n" +
                         body("4294967295 4294967295", "0 0", "4294967295", "3", "2", "0"));
    // A head ahead of the default windows, for a run long enough; tasks by
    // default four per job, no more than the windows.
    o = plan({"--plan", "--head", "1", "0", "0", "morvane", "2", "-1", "-1"});
    EXPECT_EQ(o.out, "program morvane\np 2\nptext 2\n" +
                         body("4294967295 4294967295", "4294967295 4294967295", "4294967295", "1",
                              "1", "0"));
#ifdef MORVANE_L_PATH
    o = plan({"--plan", "--head", "1", "0", "0", "morvane-l", "2", "30000000000"});
    EXPECT_EQ(o.out, "program morvane-l\np 2\nptext 2\n" +
                         body("30000000000 30000000000", "1 1", "30000000000", "3", "3",
                              "4000000000"));
    // 10^18: a million windows of a minute each.
    o = plan({"--plan", "2", "0", "0", "morvane-l", "97", "1000000000000000000"});
    EXPECT_EQ(o.out, "program morvane-l\np 97\nptext 97\n" +
                         body("1000000000000000000 1000000000000000000", "1 1",
                              "1000000000000000000", "1000000", "8", "0"));
#endif
    o = plan({"--plan", "2", "0", "0", "morvane", " 7x"});
    EXPECT_EQ(o.out, "program morvane\np 7\nptext \n" + body("900 900", "1 1", "900", "1", "1", "0"));
    o = plan({"--plan", "2", "2", "0", "morvane", "5", "4294967296"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, small_N);
    o = plan({"--plan", "2", "2", "0", "morvane", "98"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, bad_p);
    o = plan({"--plan", "2", "2", "0", "morvane", "5", "10", "11"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, big_nmin);
#ifdef MORVANE_L_PATH
    // Counts beyond the signed 64-bit range as texts that wrap to them.
    o = plan({"--plan", "2", "2", "0", "morvane-l", "5", "-1", "-1"});
    EXPECT_EQ(o.out, "program morvane-l\np 5\nptext 5\n" +
                         body("18446744073709551615 -1", "18446744073709551615 -1",
                              "18446744073709551615", "1", "1", "0"));
#endif
#ifdef MORVANE_X_PATH
    // The exact excess repeats: the windows end one period (36 n for p = 3,
    // 30030^2 for p = 13) after the scan's start; beyond 2^64 for p = 29.
    o = plan({"--plan", "2", "5", "0", "morvane-x", "3", "1000", "10"});
    EXPECT_EQ(o.out, "program morvane-x\np 3\nptext 3\n" +
                         body("1000 1000", "10 10", "45", "5", "5", "0"));
    o = plan({"--plan", "2", "0", "0", "morvane-x", "13", "-1"});
    EXPECT_EQ(o.out, "program morvane-x\np 13\nptext 13\n" +
                         body("18446744073709551615 -1", "1 1", "901800900", "1", "1", "0"));
    o = plan({"--plan", "2", "3", "0", "morvane-x", "29", "1000"});
    EXPECT_EQ(o.out, "program morvane-x\np 29\nptext 29\n" +
                         body("1000 1000", "1 1", "1000", "3", "3", "0"));
#endif
    EXPECT_TRUE(dir.names().empty());
}

}  // namespace
}  // namespace morvane::testing
