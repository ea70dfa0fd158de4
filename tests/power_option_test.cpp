// -k K and -kK, as morvane-x reads its power before p and morvane-merge and
// morvane-check after PROGRAM: where K is read, where the next argument
// starts, and the message of a bad K.
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "run/power_option.hpp"
#ifdef MORVANE_EXACT
#include "run/set_command_line.hpp"
#endif

namespace morvane {
namespace {

// Arguments as a program gets them: argv of writable strings.
struct Argv {
    explicit Argv(std::vector<std::string> a) : args(std::move(a)) {
        for (auto& arg : args) pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(args.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> args;
    std::vector<char*> pointers;
};

struct Read {
    std::string error;  // "" for none
    int i, k;
    bool operator==(const Read&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Read& r) {
    return out << "{\"" << r.error << "\", i=" << r.i << ", k=" << r.k << "}";
}

// read_power_option at argv[1], with k 2 before it.
Read read_at_one(std::vector<std::string> args) {
    args.insert(args.begin(), "morvane-merge");
    Argv a(std::move(args));
    int i = 1, k = 2;
    const char* error = read_power_option(a.argc(), a.argv(), i, k);
    return {error ? error : "", i, k};
}

TEST(Arguments, PowerOptionJoinedOrApart) {
    EXPECT_EQ(read_at_one({"-k3", "f"}), (Read{"", 2, 3}));
    EXPECT_EQ(read_at_one({"-k", "3", "f"}), (Read{"", 3, 3}));
    EXPECT_EQ(read_at_one({"-k63"}), (Read{"", 2, 63}));
    EXPECT_EQ(read_at_one({"-k", "03"}), (Read{"", 3, 3}));
    EXPECT_EQ(read_at_one({"-k2"}), (Read{"", 2, 2}));
}

TEST(Arguments, NoPowerOptionLeavesTheArguments) {
    EXPECT_EQ(read_at_one({}), (Read{"", 1, 2}));
    EXPECT_EQ(read_at_one({"maxdevQ_97-1.txt"}), (Read{"", 1, 2}));
    EXPECT_EQ(read_at_one({"-p", "5"}), (Read{"", 1, 2}));
    EXPECT_EQ(read_at_one({"k3"}), (Read{"", 1, 2}));
}

TEST(Arguments, BadPowerMessages) {
    const std::string nan = "Error: value of k is not a number";
    const std::string out = "Error: value of k out of range";
    EXPECT_EQ(read_at_one({"-k"}), (Read{nan, 3, 2}));  // no K: the empty text
    EXPECT_EQ(read_at_one({"-k", ""}), (Read{nan, 3, 2}));
    EXPECT_EQ(read_at_one({"-kx"}), (Read{nan, 2, 2}));
    EXPECT_EQ(read_at_one({"-k", "-3"}), (Read{nan, 3, 2}));
    EXPECT_EQ(read_at_one({"-k", "3 "}), (Read{nan, 3, 2}));
    EXPECT_EQ(read_at_one({"-k1"}), (Read{out, 2, 1}));
    EXPECT_EQ(read_at_one({"-k", "64"}), (Read{out, 3, 64}));
    EXPECT_EQ(read_at_one({"-k", "100"}), (Read{out, 3, 2}));
}

#ifdef MORVANE_EXACT
// morvane-x's own command line: the power first, then p, N and nmin.
struct SetRun {
    std::string error;  // "" for none
    PrimeSet set;
    std::string p_text;
    std::uint64_t N;
};
SetRun read_set(std::vector<std::string> args) {
    args.insert(args.begin(), "morvane-x");
    Argv a(std::move(args));
    RunParameters<ExactProfile> run{};
    run.N = 0;
    const char* error = read_set_arguments(a.argc(), a.argv(), run);
    return {error ? error : "", run.set, run.p_text, run.N};
}

TEST(Arguments, MorvaneXReadsItsPowerBeforeP) {
    const auto apart = read_set({"-k", "3", "all", "1000"});
    EXPECT_EQ(apart.error, "");
    EXPECT_EQ(apart.set, (PrimeSet{PrimeSet::every_prime, 3}));
    EXPECT_EQ(apart.p_text, "allk3");
    EXPECT_EQ(apart.N, 1000u);
    const auto joined = read_set({"-k4", "13"});
    EXPECT_EQ(joined.set, (PrimeSet{13, 4}));
    EXPECT_EQ(joined.p_text, "13k4");
    EXPECT_EQ(joined.N, 900u);
    const auto squares = read_set({"97", "2000"});
    EXPECT_EQ(squares.set, (PrimeSet{97, 2}));
    EXPECT_EQ(squares.p_text, "97");
    EXPECT_EQ(read_set({"-k", "3"}).N, 0u);  // no p: the usage text
    EXPECT_EQ(read_set({"-k"}).error, "Error: value of k is not a number");
    EXPECT_EQ(read_set({"-k", "64", "5"}).error, "Error: value of k out of range");
    EXPECT_EQ(read_set({"-k3", "1"}).error, "Error: value of p out of range");
}

// -r before p, on either side of -k, asks for the record runs.
TEST(Arguments, MorvaneXReadsRunsBeforeP) {
    const auto runs = [](std::vector<std::string> args) {
        args.insert(args.begin(), "morvane-x");
        Argv a(std::move(args));
        RunParameters<ExactProfile> run{};
        const char* error = read_set_arguments(a.argc(), a.argv(), run);
        return std::pair{std::string(error ? error : ""), run.runs ? run.set.k : 0};
    };
    EXPECT_EQ(runs({"-r", "-k", "3", "all", "10"}), (std::pair{std::string(), 3}));
    EXPECT_EQ(runs({"-k3", "-r", "all", "10"}), (std::pair{std::string(), 3}));
    EXPECT_EQ(runs({"-r", "97", "10"}), (std::pair{std::string(), 2}));
    EXPECT_EQ(runs({"97", "10"}), (std::pair{std::string(), 0}));
    EXPECT_EQ(runs({"-r", "-k", "1", "97"}).first, "Error: value of k out of range");
    EXPECT_EQ(runs({"97", "-r"}).first, "Error: value of N too small");
}
#endif

}  // namespace
}  // namespace morvane
