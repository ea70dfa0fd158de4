// What morvane-par and morvane-plot ask morvane-merge: the names a run's
// program writes, the fields those names give back, a plan's fields, p's
// place among the arguments, the engine copies in the tasks' logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

const std::string merge = MORVANE_MERGE_PATH;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The runs whose names and plans are compared: each program's arguments as a
// user gives them, a p text without digits, leading zeros, a p beyond 32 bits.
struct Arguments {
    const char* program;
    const char* path;
    std::vector<std::string> args;
};

std::vector<Arguments> runs() {
    std::vector<Arguments> runs = {
        {"morvane", MORVANE_PATH, {"97", "1000"}},
        {"morvane", MORVANE_PATH, {"05", "1000", "007"}},
        {"morvane", MORVANE_PATH, {"+7", "1000"}},
        {"morvane", MORVANE_PATH, {"4294967298", "1000", "10"}},
    };
#ifdef MORVANE_X_PATH
    runs.push_back({"morvane-x", MORVANE_X_PATH, {"1000", "2000"}});
    runs.push_back({"morvane-x", MORVANE_X_PATH, {"-k", "3", "all", "2000", "5"}});
    runs.push_back({"morvane-x", MORVANE_X_PATH, {"-k4", "097", "2000"}});
#endif
    return runs;
}

std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// --names are the files the program writes, and --name-fields reads back from
// them what --plan reads from the arguments: p, k, the p text and nmin.
TEST(MergeQueries, NamesAreTheProgramsAndGiveBackItsPlan) {
    for (const Arguments& run : runs()) {
        Scratch dir;
        const Outcome written = dir.run(run.path, run.args);
        ASSERT_EQ(written.status, 0) << written.out;
        const Outcome names = dir.run(merge, with({"--names", run.program}, run.args));
        ASSERT_EQ(names.status, 0) << names.err;
        const auto files = lines_of(names.out);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(dir.names(), (std::vector<std::string>{files[1], files[0]})) << files[0];
        const Outcome plan = dir.run(merge, with({"--plan", "1", "1", "1", run.program}, run.args));
        dir.write("plan", plan.out);
        const auto plan_fields =
            lines_of(dir.run(merge, {"--plan-field", dir.folder().string(), "p", "k", "ptext",
                                     "nmin"})
                         .out);
        ASSERT_EQ(plan_fields.size(), 4u) << plan.out;
        for (std::size_t i = 0; i < 2; ++i) {
            const Outcome fields = dir.run(merge, {"--name-fields", files[i], "kind", "p", "k",
                                                   "ptext", "nmin"});
            ASSERT_EQ(fields.status, 0) << fields.out;
            const auto got = lines_of(fields.out);
            ASSERT_EQ(got.size(), 5u) << fields.out;
            EXPECT_EQ(got[0], i == 0 ? "Q" : "F");
            // An empty p text gives no p; the plan has p from the argument.
            if (!plan_fields[2].empty()) {
                EXPECT_EQ(got[1], plan_fields[0]) << files[i];
            }
            EXPECT_EQ(got[2], plan_fields[1]) << files[i];
            EXPECT_EQ(got[3], plan_fields[2]) << files[i];
            // The name keeps nmin as the argument wrote it; the plan its value.
            EXPECT_EQ(std::stoull(got[4]), std::stoull(plan_fields[3])) << files[i];
        }
    }
}

// The program's own message for refused arguments; no p at all is misuse.
TEST(MergeQueries, NamesRefuseAsTheProgram) {
    Scratch dir;
    Outcome o = dir.run(merge, {"--names", "morvane", "98"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, bad_p);
    o = dir.run(merge, {"--names", "morvane", "5", "10", "11"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, big_nmin);
    EXPECT_EQ(dir.run(merge, {"--names", "nonesuch", "97"}).status, 2);
    EXPECT_EQ(dir.run(merge, {"--names", "morvane"}).status, 2);
#ifdef MORVANE_X_PATH
    EXPECT_EQ(dir.run(merge, {"--names", "morvane-x", "-k", "3"}).status, 2);
#endif
    EXPECT_TRUE(dir.names().empty());
}

// Names that no program writes, each with its reason on standard output.
TEST(MergeQueries, NameFieldsRefuseNamesNoProgramWrites) {
    Scratch dir;
    const std::string unlike =
        ": not named like a record file (maxdevQ_<p>-<nmin>.txt or maxdevF_<p>-<nmin>.txt)\n";
    const std::string no_p = " in the file names gives no p of a run: not a record file name\n";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"records.txt", "records.txt" + unlike},
        {"dir/maxdevQ_97-.txt", "dir/maxdevQ_97-.txt" + unlike},
        {"maxdevQ_97k2-1.txt", "maxdevQ_97k2-1.txt" + unlike},
        {"maxdevQ_97k03-1.txt", "maxdevQ_97k03-1.txt" + unlike},
        {"maxdevQ_97k1-1.txt", "maxdevQ_97k1-1.txt" + unlike},
        {"maxdevF_97k64-1.txt",
         "maxdevF_97k64-1.txt: the power 64 in the file names is above 63: not a record file name\n"},
        {"maxdevF_97k100-1.txt",
         "maxdevF_97k100-1.txt: the power 100 in the file names is above 63: not a record file "
         "name\n"},
        // 2^32 + 98: beyond morvane-x's p, and 98 in morvane's 32 bits.
        {"maxdevQ_4294967394-1.txt", "maxdevQ_4294967394-1.txt: the p text 4294967394" + no_p},
        {"maxdevQ_1k3-1.txt", "maxdevQ_1k3-1.txt: the p text 1k3" + no_p},
        {"maxdevQ_18446744073709551713-1.txt",
         "maxdevQ_18446744073709551713-1.txt: the p text 18446744073709551713" + no_p},
    };
    for (const auto& [name, message] : refused) {
        const Outcome o = dir.run(merge, {"--name-fields", name});
        EXPECT_EQ(o.status, 1) << name;
        EXPECT_EQ(o.out, message);
    }
    // The fields of the name's form alone come without p.
    Outcome o = dir.run(merge, {"--name-fields", "maxdevF_1k3-01.txt", "kind", "pnumber", "nmin"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "F\n1\n01\n");
    o = dir.run(merge, {"--name-fields", "maxdevQ_k3-1.txt"});
    EXPECT_EQ(o.out, "kind Q\nptext k3\npnumber \np \nk 3\nnmin 1\n");
    EXPECT_EQ(dir.run(merge, {"--name-fields", "maxdevQ_97-1.txt", "nonesuch"}).status, 2);
    EXPECT_EQ(dir.run(merge, {"--name-fields"}).status, 2);
}

// A plan's fields, from the plan on standard input and in a work folder alike.
TEST(MergeQueries, PlanFieldsAreThePlans) {
    Scratch dir;
    const std::string plan = "'" + merge + "' --plan --head 2 0 0 morvane 97 -1 3";
    Outcome o = dir.run("/bin/sh", {"-c", plan + " | '" + merge +
                                              "' --plan-field - windows tasks head N N-argument "
                                              "nmin-argument k shifted program"});
    EXPECT_EQ(o.status, 0) << o.err;
    const Outcome text = dir.run("/bin/sh", {"-c", plan});
    const auto lines = lines_of(text.out);
    const auto got = lines_of(o.out);
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ("windows " + got[0] + "\ntasks " + got[1] + "\nhead " + got[2],
              lines[6] + "\n" + lines[7] + "\n" + lines[8]);
    EXPECT_EQ("N " + got[3] + " " + got[4], lines[3]);
    EXPECT_EQ(got[5], "3");
    EXPECT_EQ(got[6], "2");
    EXPECT_EQ(got[7], "0");
    EXPECT_EQ(got[8], "morvane");
    // The whole plan, as --plan printed it.
    dir.write("plan", text.out);
    EXPECT_EQ(dir.run(merge, {"--plan-field", dir.folder().string()}).out, text.out);
    EXPECT_EQ(dir.run(merge, {"--plan-field", dir.folder().string(), "nonesuch"}).status, 2);
    dir.write("plan", "program morvane\n");
    EXPECT_EQ(dir.run(merge, {"--plan-field", dir.folder().string(), "windows"}).status, 1);
}

// p's place among the arguments, as the program reads them.
TEST(MergeQueries, PPosition) {
    Scratch dir;
    const auto position = [&](std::vector<std::string> args) {
        return dir.run(merge, with({"--p-position"}, args)).out;
    };
    EXPECT_EQ(position({"morvane", "97", "1000"}), "1\n");
    EXPECT_EQ(position({"morvane", "-k", "3"}), "1\n");
    EXPECT_EQ(position({"morvane-x", "-k", "3", "97"}), "3\n");
    EXPECT_EQ(position({"morvane-x", "-k3", "97"}), "2\n");
    EXPECT_EQ(position({"morvane-x", "-k"}), "3\n");
    EXPECT_EQ(position({"morvane-x"}), "1\n");
    EXPECT_EQ(dir.run(merge, {"--p-position", "nonesuch", "97"}).status, 2);
}

// Every program named is one that --plan takes where this build has it.
TEST(MergeQueries, ProgramsAreThoseThePlanTakes) {
    Scratch dir;
    const auto names = lines_of(dir.run(merge, {"--programs"}).out);
    std::set<std::string> built;
    for (const Program& program : all_programs()) built.insert(program.data);
    EXPECT_EQ(names.size(), 3u);
    for (const std::string& name : names) {
        const Outcome o = dir.run(merge, {"--plan", "1", "0", "0", name, "97", "1000"});
        EXPECT_EQ(o.status, built.count(name) ? 0 : 2) << name;
    }
    for (const std::string& name : built)
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

// The engine copies named by the tasks' logs, each once, and the windows done.
TEST(MergeQueries, CopiesAndWindowsDoneOfARun) {
    Scratch dir;
    const std::string m = "'" + merge + "'";
    const Outcome o = dir.run(
        "/bin/sh", {"-c", "mkdir w && " + m + " --plan 1 4 2 morvane 97 100000 > w/plan && " +
                              "MORVANE_ENGINE=baseline " + m + " --task w 0 && " +
                              "MORVANE_ENGINE=baseline " + m + " --task w 1 && " + m +
                              " --status --done w && " + m + " --copies w"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "4\nbaseline\n");
    const Outcome none = dir.run("/bin/sh", {"-c", "mkdir v && " + m +
                                                       " --plan 1 4 2 morvane 97 100000 > v/plan && " +
                                                       m + " --status --done v && " + m +
                                                       " --copies v"});
    EXPECT_EQ(none.out, "0\n\n");
}

}  // namespace
}  // namespace morvane::testing
