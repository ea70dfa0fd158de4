// What both programs do alike: the usage text (morvane-x has its own), the
// checks, the record files of runs whose excesses are exact, file names, and
// failures to create or write the files. Each test runs the program in a fresh folder of its own.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

class BothPrograms : public ::testing::TestWithParam<Program> {
protected:
    Outcome run(const Args& args) const { return dir.run(GetParam().path, args); }

    // A run that must succeed silently.
    void run_ok(const Args& args) const {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
    }

    std::pair<std::string, std::string> files_of(const Args& args, const std::string& q_name,
                                                 const std::string& f_name) const {
        return morvane::testing::files_of(GetParam().path, args, q_name, f_name);
    }

    Scratch dir;
};

INSTANTIATE_TEST_SUITE_P(Programs, BothPrograms, ::testing::ValuesIn(all_programs()),
                         program_name);

// Byte for byte; the accents around n are U+0060 and U+00B4 in UTF-8.
const std::string usage =
    "Program usage: morvane p N [nmin]\n"
    "\n"
    "Let a number which is divisible by any of 4, 9, ... p^2 be called Q-number,\n"
    "and a number which is not, be called F-number. The program computes\n"
    "which numbers in [1, N] are Q-numbers and compares the total number\n"
    "of F-numbers in each interval [1, n] with the expected value, defined as\n"
    "n*(1-1/4)*...*(1-1/p^2). Let the difference of those two quantities be called\n"
    "the F-excess at n. The program outputs two files: one listing the successive\n"
    "maxima of the F-excesses and another one listing the succesive maxima of\n"
    "Q-excesses.\n"
    "    If the value of N is not provided the program will employ a default value\n"
    "for it (currently, 900). The maximum allowed value for p is 97.\n"
    "    If the extra argument nmin is provided, the maxima are kept starting\n"
    "from nmin.    The output files include in each row of text `n\xc2\xb4"
    ", the number of F- or\n"
    "Q-numbers in [1, n], and its the deviation from the expected vaue. The\n"
    "file is closed by a last line in which the values of N and the number of\n"
    "F- or Q-numbers in [1, N] is written\n";

// morvane-x's own, for its sets and powers, byte for byte.
const std::string set_usage =
    "Program usage: morvane-x [-r] [-k K] p|all N [nmin]\n"
    "\n"
    "Let a number which is divisible by any of 2^K, 3^K, 5^K, ... q^K, for the\n"
    "primes q up to p (every prime with the word all), be called Q-number, and a\n"
    "number which is not, be called F-number. The program computes which numbers\n"
    "in [1, N] are Q-numbers and compares the total number of F-numbers in each\n"
    "interval [1, n] with the expected value, defined as\n"
    "n*(1-1/2^K)*(1-1/3^K)*...*(1-1/q^K), taken exactly (n/zeta(K) for all). Let\n"
    "the difference of those two quantities be called the F-excess at n. The\n"
    "program outputs two files: one listing the successive maxima of the\n"
    "F-excesses and another one listing the successive maxima of Q-excesses.\n"
    "    If -k is not given, K is 2; it may be from 2 to 63. p may be from 2 to\n"
    "4294967295. If the value of N is not provided the program will employ a\n"
    "default value for it (currently, 900).\n"
    "    If the extra argument nmin is provided, the maxima are kept starting\n"
    "from nmin. The output files include in each row of text n, the number of F-\n"
    "or Q-numbers in [1, n], and its deviation from the expected value. The file\n"
    "is closed by a last line in which the values of N and the number of F- or\n"
    "Q-numbers in [1, N] are written. The file names carry kK when K is not 2.\n"
    "    With -r, a third file lists each run of consecutive Q-numbers in\n"
    "[nmin, N] longer than every run before it, as its first n and its length,\n"
    "and is closed by a line with N and the longest run.\n";

// morvane and morvane-l print morvane's usage text, morvane-x its own, also
// for a power without p.
TEST_P(BothPrograms, NoArgumentPrintsUsage) {
    const bool own_text = std::string(GetParam().name) == exact.name;
    std::vector<Args> cases = {{}};
    if (own_text)
        cases.insert(cases.end(), {{"-k", "3"}, {"-k3"}, {"-k", "02"}, {"-k63"}, {"-r"}, {"-r", "-k3"}});
    for (const Args& args : cases) {
        SCOPED_TRACE(args.empty() ? "no argument" : args[0]);
        Scratch own;
        const Outcome o = own.run(GetParam().path, args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, own_text ? set_usage : usage);
        EXPECT_EQ(o.out.rfind(std::string(GetParam().usage) + "\n", 0), 0u);
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(own.names().empty());
    }
}

// The checks run in order (p, then N, then nmin) and the first failure alone is
// reported; no file is created. morvane-x takes any p below 2^32 (its own
// refusals of K are in wide_program_test.cpp).
TEST_P(BothPrograms, ChecksInOrder) {
    const bool any_p = std::string(GetParam().name) == exact.name;
    expect_refusals(GetParam().path, {
        {{"1"}, bad_p},
        {{"98", "1"}, any_p ? small_N : bad_p},
        {{"0"}, bad_p},
        {{"-5"}, bad_p},
        {{"abc"}, bad_p},
        {{""}, bad_p},
        {{"-2"}, bad_p},
        {{"4294967394"}, bad_p},  // 2^32 + 98
        {{"2147483650", "0"}, any_p ? small_N : bad_p},
        {{"99999999999999999999"}, bad_p},
        {{"1", "1"}, bad_p},
        {{"98", "1", "5"}, any_p ? small_N : bad_p},
        {{"2", "1"}, small_N},
        {{"2", "0"}, small_N},
        {{"2", "abc"}, small_N},
        {{"2", ""}, small_N},
        {{"97", "1", "5"}, small_N},
        {{"2", "10", "11"}, big_nmin},
        {{"2", "10", "-1"}, big_nmin},
        {{"97", "2", "3"}, big_nmin},
        {{"2", "10", "11", "x"}, big_nmin},
    });
}

// Every n from nmin on may write a record; below it, Q-numbers are only counted.
TEST_P(BothPrograms, RecordsForPTwo) {
    const Args cases[] = {{"2", "10"}, {"2", "10", "1"}, {"2", "10", "1", "junk", "more"}};
    for (const auto& args : cases) {
        Scratch own;
        EXPECT_EQ(own.run(GetParam().path, args).status, 0);
        EXPECT_EQ(own.names(), (Names{"maxdevF_2-1.txt", "maxdevQ_2-1.txt"}));
        EXPECT_EQ(own.read("maxdevQ_2-1.txt"), p2_q);
        EXPECT_EQ(own.read("maxdevF_2-1.txt"), p2_f);
    }
}

TEST_P(BothPrograms, RecordsFromNmin) {
    auto [q, f] = files_of({"2", "10", "5"}, "maxdevQ_2-5.txt", "maxdevF_2-5.txt");
    EXPECT_EQ(q, "8 2 0.000000000000\n10 2\n");
    EXPECT_EQ(f, "5 4 0.250000000000\n6 5 0.500000000000\n7 6 0.750000000000\n10 8\n");

    std::tie(q, f) = files_of({"2", "7", "5"}, "maxdevQ_2-5.txt", "maxdevF_2-5.txt");
    EXPECT_EQ(q, "7 1\n");
    EXPECT_EQ(f, "5 4 0.250000000000\n6 5 0.500000000000\n7 6 0.750000000000\n7 6\n");

    // nmin equal to N: only n = N can write a record.
    std::tie(q, f) = files_of({"2", "10", "10"}, "maxdevQ_2-10.txt", "maxdevF_2-10.txt");
    EXPECT_EQ(q, "10 2\n");
    EXPECT_EQ(f, "10 8 0.500000000000\n10 8\n");

    // nmin = 0 scans like 1 but is named 0.
    std::tie(q, f) = files_of({"2", "10", "0"}, "maxdevQ_2-0.txt", "maxdevF_2-0.txt");
    EXPECT_EQ(q, p2_q);
    EXPECT_EQ(f, p2_f);

    // N = 2, the least accepted.
    std::tie(q, f) = files_of({"2", "2"}, "maxdevQ_2-1.txt", "maxdevF_2-1.txt");
    EXPECT_EQ(q, "2 0\n");
    EXPECT_EQ(f, "1 1 0.250000000000\n2 2 0.500000000000\n2 2\n");
}

// p is read from the whole argument, the p text only up to its first non-digit.
TEST_P(BothPrograms, PTextNamesTheFiles) {
    struct Case {
        std::string arg, canonical, text;
    };
    const Case cases[] = {
        {"05", "5", "05"},
        {"7x", "7", "7"},
        {" 7", "7", ""},
        {"+7", "7", ""},
        {"\t7", "7", ""},
        {"4294967298", "2", "4294967298"},  // 2^32 + 2: its low 32 bits
        {"-4294967294", "2", ""},
        {"97.5", "97", "97"},
    };
    for (const auto& c : cases) {
        // morvane-x refuses a p beyond 32 bits instead of cutting it.
        if (std::string(GetParam().name) == exact.name && c.arg.find("4294967") != std::string::npos) continue;
        SCOPED_TRACE("[" + c.arg + "]");
        const auto want = files_of({c.canonical, "100"}, "maxdevQ_" + c.canonical + "-1.txt",
                                   "maxdevF_" + c.canonical + "-1.txt");
        const auto got = files_of({c.arg, "100"}, "maxdevQ_" + c.text + "-1.txt",
                                  "maxdevF_" + c.text + "-1.txt");
        EXPECT_EQ(got, want);
    }
}

TEST_P(BothPrograms, NAndNminTexts) {
    for (const char* N : {" 10", "+10", "10x", "\v10", "0010", "10.9"}) {
        SCOPED_TRACE(N);
        EXPECT_EQ(files_of({"2", N}, "maxdevQ_2-1.txt", "maxdevF_2-1.txt"),
                  std::make_pair(p2_q, p2_f));
    }
    for (const char* nmin : {"+5", "\n5", "5th"}) {
        SCOPED_TRACE(nmin);
        const auto [q, f] = files_of({"2", "10", nmin}, "maxdevQ_2-5.txt", "maxdevF_2-5.txt");
        EXPECT_EQ(q, "8 2 0.000000000000\n10 2\n");
    }
    const auto [q, f] = files_of({"2", "10", "-0"}, "maxdevQ_2-0.txt", "maxdevF_2-0.txt");
    EXPECT_EQ(q, p2_q);
}

// p need not be prime: 4 selects the squares of 2 and 3, 10 those of 2 to 7.
TEST_P(BothPrograms, CompositePUsesThePrimesBelow) {
    EXPECT_EQ(files_of({"4", "200"}, "maxdevQ_4-1.txt", "maxdevF_4-1.txt"),
              files_of({"3", "200"}, "maxdevQ_3-1.txt", "maxdevF_3-1.txt"));
    EXPECT_EQ(files_of({"10", "3000"}, "maxdevQ_10-1.txt", "maxdevF_10-1.txt"),
              files_of({"7", "3000"}, "maxdevQ_7-1.txt", "maxdevF_7-1.txt"));
    EXPECT_NE(files_of({"11", "3000"}, "maxdevQ_11-1.txt", "maxdevF_11-1.txt"),
              files_of({"7", "3000"}, "maxdevQ_7-1.txt", "maxdevF_7-1.txt"));
}

// The default N = 900: checked against each program's files in tests/data.
TEST_P(BothPrograms, DefaultRunsMatchStoredFiles) {
    const std::string data = GetParam().data;
    for (const char* p : {"3", "67", "97"}) {
        SCOPED_TRACE(p);
        const std::string q = std::string("maxdevQ_") + p + "-1.txt";
        const std::string f = std::string("maxdevF_") + p + "-1.txt";
        const auto [got_q, got_f] = files_of({p}, q, f);
        EXPECT_EQ(got_q, data_file(data + "/" + q));
        EXPECT_EQ(got_f, data_file(data + "/" + f));
    }
}

// A folder in the way of the Q file: its message, without a newline; the F file
// is not created.
TEST_P(BothPrograms, FolderInTheWayOfQFile) {
    std::filesystem::create_directory(dir.folder() / "maxdevQ_2-1.txt");
    const Outcome o = run({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevQ_2-1.txt"));
    EXPECT_EQ(dir.names(), (Names{"maxdevQ_2-1.txt"}));
}

// A folder in the way of the F file: the Q file is left behind, empty.
TEST_P(BothPrograms, FolderInTheWayOfFFile) {
    std::filesystem::create_directory(dir.folder() / "maxdevF_2-1.txt");
    const Outcome o = run({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevF_2-1.txt"));
    EXPECT_EQ(dir.names(), (Names{"maxdevF_2-1.txt", "maxdevQ_2-1.txt"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.folder() / "maxdevQ_2-1.txt"));
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), "");
}

// The names are formed in full however long the p text: 240 zeros before 2 give
// names of 255 bytes, which can be created; 300 zeros give names too long for
// the file system, and the message carries the whole name.
TEST_P(BothPrograms, LongPText) {
    const std::string text = std::string(240, '0') + "2";
    const std::string q = "maxdevQ_" + text + "-1.txt", f = "maxdevF_" + text + "-1.txt";
    ASSERT_EQ(q.size(), 255u);
    EXPECT_EQ(files_of({text, "10"}, q, f), std::make_pair(p2_q, p2_f));

    const std::string longer = std::string(300, '0') + "2";
    const Outcome o = run({longer, "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevQ_" + longer + "-1.txt"));
    EXPECT_TRUE(dir.names().empty());
}

// A second run with the same p text and nmin replaces both files, whatever its N.
TEST_P(BothPrograms, SecondRunReplacesFiles) {
    run_ok({"2", "1000"});
    EXPECT_GT(dir.read("maxdevF_2-1.txt").size(), p2_f.size());
    run_ok({"2", "10"});
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), p2_q);
    EXPECT_EQ(dir.read("maxdevF_2-1.txt"), p2_f);

    dir.write("maxdevQ_2-1.txt", std::string(100000, 'x'));
    dir.write("maxdevF_2-1.txt", std::string(100000, 'y'));
    run_ok({"2", "10"});
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), p2_q);
    EXPECT_EQ(dir.read("maxdevF_2-1.txt"), p2_f);
}

// Writes into a full device fail when the file is flushed: the run says which
// file and ends with status 1.
TEST_P(BothPrograms, QFileOnFullDevice) {
    ASSERT_EQ(symlink("/dev/full", (dir.folder() / "maxdevQ_2-1.txt").c_str()), 0);
    const Outcome o = run({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, unwritable("maxdevQ_2-1.txt"));
    EXPECT_EQ(o.err, "");
}

TEST_P(BothPrograms, FFileOnFullDevice) {
    ASSERT_EQ(symlink("/dev/full", (dir.folder() / "maxdevF_2-1.txt").c_str()), 0);
    const Outcome o = run({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, unwritable("maxdevF_2-1.txt"));
    EXPECT_EQ(o.err, "");
    // The Q file was finished and closed first.
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), p2_q);
}

// Both on a full device: the first failure, the Q file's, is the only message.
TEST_P(BothPrograms, BothFilesOnFullDevice) {
    ASSERT_EQ(symlink("/dev/full", (dir.folder() / "maxdevQ_2-1.txt").c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", (dir.folder() / "maxdevF_2-1.txt").c_str()), 0);
    const Outcome o = run({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, unwritable("maxdevQ_2-1.txt"));
}

#ifdef MORVANE_X_PATH
// morvane-x -r: a third file of record runs beside the two, which do not
// change; -r and -k in either order; runs cut to [nmin, N]; a full device.
TEST(RunFile, RecordRunsBesideTheTwoFiles) {
    const auto files = [](const Args& args) {
        Scratch own;
        const Outcome o = own.run(exact.path, args);
        EXPECT_EQ(o.status, 0) << o.out;
        std::vector<std::string> bytes;
        for (const std::string& name : own.names()) bytes.push_back(name + ":" + own.read(name));
        return bytes;
    };
    const auto squares = files({"-r", "all", "1000000000"});
    ASSERT_EQ(squares.size(), 3u);
    EXPECT_EQ(squares[2],
              "maxrunQ_all-1.txt:4 1\n8 2\n48 3\n242 4\n844 5\n22020 6\n217070 7\n"
              "1092747 8\n8870024 9\n221167422 11\n1000000000 11\n");
    const auto without = files({"all", "1000000000"});
    EXPECT_EQ(std::vector(squares.begin(), squares.begin() + 2), without);
    EXPECT_EQ(files({"-k", "3", "-r", "all", "2000000000"})[2],
              "maxrunQ_allk3-1.txt:8 1\n80 2\n1375 3\n22624 4\n18035622 5\n2000000000 5\n");
    EXPECT_EQ(files({"-r", "-k3", "all", "2000000000"})[2].substr(0, 19), "maxrunQ_allk3-1.txt");
    // Inside the run of 9 from 8870024: cut at both ends.
    EXPECT_EQ(files({"-r", "all", "8870030", "8870026"})[2],
              "maxrunQ_all-8870026.txt:8870026 5\n8870030 5\n");
    EXPECT_EQ(files({"-r", "all", "8870040", "8870026"})[2],
              "maxrunQ_all-8870026.txt:8870026 7\n8870040 7\n");
    EXPECT_EQ(files({"-r", "5", "3"})[2], "maxrunQ_5-1.txt:3 0\n");

    Scratch full;
    ASSERT_EQ(symlink("/dev/full", (full.folder() / "maxrunQ_13-1.txt").c_str()), 0);
    const Outcome o = full.run(exact.path, {"-r", "13", "100000"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "Error: could not write the file maxrunQ_13-1.txt\n");
}
#endif

}  // namespace
}  // namespace morvane::testing
