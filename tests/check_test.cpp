// morvane-check: the count afresh against other counts, the files of real runs
// of every program passing, and every fault caught at its line, with nothing
// touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "arith/prime_set.hpp"
#include "engine/q_count.hpp"
#include "run/set_arguments.hpp"
#include "program_run.hpp"
#include "programs.hpp"
#include "windows/record_check.hpp"
#ifdef MORVANE_MERGE_EXACT
#include "profiles/exact_density.hpp"
#endif

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

const std::string check_path = MORVANE_CHECK_PATH;

// ---------------------------------------------------------------------------
// The count afresh and its walk.

// Whether n is a Q-number of the set, by trial division alone: the primes up
// to n^(1/(k+1)) divided out, what is left has at most k prime factors, all
// larger, so q^k divides it only when it is q^k itself.
bool q_by_trial(std::uint64_t n, const PrimeSet& set) {
    std::uint64_t m = n;
    for (std::uint64_t q = 2;
         q <= set.bound && prime_power(q, set.k + 1) != 0 && prime_power(q, set.k + 1) <= n; ++q) {
        int e = 0;
        while (m % q == 0) m /= q, ++e;
        if (e >= set.k && q <= set.bound) return true;  // q is prime once smaller ones are out
    }
    const std::uint64_t r = integer_root(m, set.k);
    return r > 1 && prime_power(r, set.k) == m && r <= set.bound;
}

const PrimeSet walk_sets[] = {{2, 2},     {13, 2}, {97, 2}, {1000, 2}, {PrimeSet::every_prime, 2},
                              {13, 4},    {PrimeSet::every_prime, 3},  {PrimeSet::every_prime, 7},
                              {70001, 2}};

std::string shown(const PrimeSet& set) { return set_text(bound_text(set), set.k); }

TEST(CountAfresh, MatchesTrialDivisionPublishedCountsAndTheEngine) {
    for (const PrimeSet& set : walk_sets) {
        std::uint64_t walked = 0;
        for (std::uint64_t x = 1; x <= 20000; ++x) {
            walked += q_by_trial(x, set);
            if (x % 97 == 0 || x < 300) {
                ASSERT_EQ(q_count_afresh(x, set), walked) << shown(set) << " x=" << x;
            }
        }
    }
    // Below 101^2 the squares up to 97^2 are those of every prime: 100 - 61.
    EXPECT_EQ(q_count_afresh(100, squares_set(97)), 39u);
    EXPECT_EQ(q_count_afresh(10000, squares_set(97)), 10000u - 6083u);
    // The squarefree and cubefree numbers up to 10^18 (OEIS A071172, A160112).
    constexpr std::uint64_t e18 = 1'000'000'000'000'000'000ull;
    EXPECT_EQ(q_count_afresh(e18, {PrimeSet::every_prime, 2}), e18 - 607927101854022750ull);
    EXPECT_EQ(q_count_afresh(e18, {PrimeSet::every_prime, 3}), e18 - 831907372580707771ull);
    // p = 2: the multiples of 4.
    EXPECT_EQ(q_count_afresh(~std::uint64_t{0}, squares_set(2)), ~std::uint64_t{0} / 4);
    // Far out, nested divisions against the engine's products of powers.
    std::mt19937_64 random(14);
    for (int t = 0; t < 200; ++t) {
        const PrimeSet set{2 + random() % 3000, 2 + int(random() % 4)};
        const std::uint64_t x = t < 10 ? ~std::uint64_t{0} - t : random() >> (random() % 40);
        ASSERT_EQ(q_count_afresh(x, set), count_q_numbers(x, set)) << shown(set) << " x=" << x;
    }
}

// The walk against counts afresh and trial division: from 1 and far out, across
// gaps within a block, to the next blocks (sieved on the way) and far ahead
// (counted afresh), back again, and at the end of the count range.
TEST(CountAfresh, WalkAcrossBlocksIsExact) {
    std::mt19937_64 random(1814);
    constexpr std::uint64_t top = ~std::uint64_t{0};
    constexpr std::uint64_t block = CountWalk::block;
    for (const PrimeSet& set : walk_sets) {
        for (const std::uint64_t start : {std::uint64_t{1}, std::uint64_t{1} << 32,
                                          std::uint64_t(1e18) - 3 * block, top - 40 * block}) {
            // Every prime's count afresh takes a second at 10^18: fewer looks.
            // A finite set of primes past 2^16 sums every d <= root(x): only
            // from 1 and at 2^32.
            const bool far = start > (std::uint64_t{1} << 40);
            if (far && !set.all() && set.bound >= (1u << 16)) continue;
            const bool dear = far && set.all() && set.k == 2;
            if (dear && start > top / 2) continue;
            const int steps = dear ? 3 : 12;
            CountWalk walk(set);
            std::uint64_t n = start;
            for (int step = 0; step < steps; ++step) {
                const std::uint64_t c = walk.at(n);
                if (step == 0 || step == steps - 1 || !dear) {
                    ASSERT_EQ(c, q_count_afresh(n, set)) << shown(set) << " n=" << n;
                }
                // A few n after it, each against trial division.
                std::uint64_t m = n, cm = c;
                for (int i = 0; i < 40 && m < top; ++i) {
                    const bool q = q_by_trial(++m, set);
                    ASSERT_EQ(walk.is_q_number(m), q) << shown(set) << " n=" << m;
                    ASSERT_EQ(walk.at(m), cm += q) << shown(set) << " n=" << m;
                }
                const std::uint64_t gaps[] = {1, random() % 100, block - 1, block + 1,
                                              random() % (6 * block), 30 * block + random() % block};
                const std::uint64_t gap = gaps[dear ? 2 + random() % 4 : random() % 6];
                if (top - m < gap) break;
                n = m + gap;
            }
            if (start > top / 2) {
                ASSERT_EQ(walk.at(top), q_count_afresh(top, set)) << shown(set);
            }
            if (!dear) {  // back below where it went
                ASSERT_EQ(walk.at(start), q_count_afresh(start, set)) << shown(set);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// morvane-check end to end.

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> contents(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), dir).string()] = slurp(entry.path());
    return files;
}

std::vector<std::string> lines_of(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line;
    return bytes;
}

struct Run {
    std::string program_path;
    std::string program;  // as morvane-check names it
    Args args;            // p N nmin
};

// Runs the program in dir; the names of the two files it wrote (its nmin as
// its count, so "-1" is named by 2^32 - 1 or 2^64 - 1).
std::pair<std::string, std::string> run_in(const Scratch& dir, const Run& run) {
    const auto before = dir.names();
    const Outcome o = dir.run(run.program_path, run.args);
    EXPECT_EQ(o.status, 0) << o.out;
    std::vector<std::string> made;
    for (const auto& name : dir.names())
        if (std::find(before.begin(), before.end(), name) == before.end()) made.push_back(name);
    EXPECT_EQ(made.size(), 2u);
    if (made.size() != 2) return {"", ""};
    return {made[1], made[0]};  // sorted: maxdevF_ before maxdevQ_
}

// Checking these files: status 0, nothing printed, nothing touched.
void expect_good(const Scratch& dir, const std::string& program, const Args& files,
                 const std::string& why) {
    const auto before = contents(dir.folder());
    Args args{program};
    args.insert(args.end(), files.begin(), files.end());
    const Outcome o = dir.run(check_path, args);
    EXPECT_EQ(o.status, 0) << why << ": " << o.err;
    EXPECT_EQ(o.out, "") << why;
    EXPECT_EQ(o.err, "") << why;
    EXPECT_EQ(contents(dir.folder()), before) << why;
}

// Checking this one bad file: status 1, one line on standard error naming the
// file, its line and the fault's words; nothing touched.
void expect_bad(const Scratch& dir, const std::string& program, const std::string& file,
                const std::string& line, const std::string& fault, const std::string& why) {
    const auto before = contents(dir.folder());
    const Outcome o = dir.run(check_path, {program, file});
    EXPECT_EQ(o.status, 1) << why;
    EXPECT_EQ(o.out, "") << why;
    const std::string head = "morvane-check: " + file + ": " + line;
    EXPECT_EQ(o.err.rfind(head, 0), 0u) << why << ": want " << head << "..., got " << o.err;
    EXPECT_NE(o.err.find(fault), std::string::npos) << why << ": no '" << fault << "' in " << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << why << ": " << o.err;
    EXPECT_EQ(contents(dir.folder()), before) << why << ": the folder changed";
}

std::pair<std::uint64_t, std::uint64_t> n_count(const std::string& line) {
    std::istringstream in(line);
    std::uint64_t n = 0, count = 0;
    in >> n >> count;
    return {n, count};
}

// Runs of every kind pass: tie-heavy p, far windows, the ends of the count
// ranges, a p text with a leading zero, nmin 0.
void expect_real_runs_pass(const Program& program, const std::string& name, bool wide) {
    std::vector<Args> runs = {{"2", "20000"},    {"3", "20000", "0"},    {"097", "300000"},
                              {"13", "1000000"}, {"2", "-1", "-300000"}, {"97", "-1", "-200000"}};
    if (!wide) {
        runs.push_back({"97", "4000200000", "4000000000"});
    } else {
        // Far windows, near 10^12 and 10^18.
        runs.push_back({"97", "1000000200000", "1000000000000"});
        runs.push_back({"5", "1000000100000", "1000000000000"});
        runs.push_back({"97", "4295067296", "4294867296"});  // across 2^32
        runs.push_back({"3", "4295067296", "4294967295"});
        runs.push_back({"97", "1000000000100000000", "1000000000000000000"});
    }
    for (const auto& args : runs) {
        Scratch dir;
        const auto [q, f] = run_in(dir, {program.path, name, args});
        std::string why = name;
        for (const auto& a : args) why += " " + a;
        expect_good(dir, name, {q, f}, why);
        // Records in one file at least (far out, one of the two excesses
        // stays below its threshold); the test would prove little otherwise.
        EXPECT_GT(lines_of(dir.read(q)).size() + lines_of(dir.read(f)).size(), 3u) << why;
    }
}

TEST(CheckPasses, RealRunsOfMorvane) { expect_real_runs_pass(narrow, "morvane", false); }
#ifdef MORVANE_L_PATH
TEST(CheckPasses, RealRunsOfMorvaneL) { expect_real_runs_pass(extended, "morvane-l", true); }
#endif
#ifdef MORVANE_X_PATH
TEST(CheckPasses, RealRunsOfMorvaneX) { expect_real_runs_pass(exact, "morvane-x", true); }

// Other sets and powers: from 1 and far out, the files pass, and a count one
// off with its excess printed for it is caught by the count afresh alone.
TEST(CheckPasses, RealRunsOfMorvaneXSets) {
    const std::vector<Args> runs = {{"-k", "3", "all", "300000"},
                                    {"all", "1000000"},
                                    {"1000", "300000", "0"},
                                    {"-k4", "13", "200000"},
                                    {"all", "1000000000000200000", "1000000000000000000"},
                                    {"-k", "3", "all", "-1", "-100000"}};
    for (const auto& args : runs) {
        Scratch dir;
        const auto [q, f] = run_in(dir, {exact.path, "morvane-x", args});
        std::string why = "morvane-x";
        for (const auto& a : args) why += " " + a;
        expect_good(dir, "morvane-x", {q, f}, why);
        const auto q_lines = lines_of(dir.read(q));
        ASSERT_GT(q_lines.size(), 2u) << why;
        const std::string name = fs::path(q).filename().string();
        const PrimeSet set = set_of_name<ExactProfile>(
            name.substr(8, name.rfind('-') - 8), {}, name);
        // The last record's count one too high, its excess reprinted.
        auto lines = q_lines;
        const std::size_t k = lines.size() - 2;
        const auto [n, count] = n_count(lines[k]);
        const ExactDensity density(set);
        ProgramLines<ExactProfile> printed;
        lines[k] = printed.line('Q', n, count + 1, density.excess(n, count + 1));
        fs::create_directory(dir.folder() / "bad");
        dir.write("bad/" + name, joined(lines));
        expect_bad(dir, "morvane-x", "bad/" + name, "line " + std::to_string(k + 1) + ": ",
                   "the count is not C(n) = " + std::to_string(count), why);
    }
}
#endif

// A record line in the profile's own print, as the program would write it.
template <class Profile>
std::string line_of(char kind, int p, std::uint64_t n, std::uint64_t q_count) {
    using Count = typename Profile::Count;
    const typename Profile::Density density(squares_set(p));
    ProgramLines<Profile> lines;
    const auto e = density.excess(n, q_count);
    return std::string(lines.line(kind, Count(n), Count(kind == 'Q' ? q_count : n - q_count), e));
}


// Every fault, each in a file of its own, caught at its line.
template <class Profile>
void expect_faults_caught(const std::string& path, const std::string& name) {
    Scratch dir;
    // A window far out (p = 97), and a run from 1 with F records (p = 13).
    using Count = typename Profile::Count;
    // A window far out with records in both files, and a run from 1.
    const Args far = sizeof(Count) == 4 ? Args{"13", "4294967295", "4294667296"}
                                        : Args{"13", "1000000300000", "1000000000000"};
    const auto [q, f] = run_in(dir, {path, name, far});
    const auto [q13, f13] = run_in(dir, {path, name, {"13", "200000"}});
    const int p = 13;
    const auto q_lines = lines_of(dir.read(q));
    const auto f_lines = lines_of(dir.read(f));
    ASSERT_GE(q_lines.size(), 12u);
    ASSERT_GE(f_lines.size(), 8u);
    int made = 0;
    // Writes the lines as a file of this name in a folder of its own.
    const auto faulty = [&](const std::string& file, const std::vector<std::string>& lines) {
        const std::string folder = "fault" + std::to_string(++made);
        fs::create_directory(dir.folder() / folder);
        dir.write(folder + "/" + file, joined(lines));
        return folder + "/" + file;
    };

    // A count off by one, its excess printed as the program would for it: the
    // line is consistent, and only the count afresh sees it. In the last record
    // line, the merge takes it (nothing after it has to beat it).
    {
        auto lines = q_lines;
        const std::size_t k = lines.size() - 2;
        const auto [n, count] = n_count(lines[k]);
        lines[k] = line_of<Profile>('Q', p, n, count + 1);
        ASSERT_NE(lines[k], q_lines[k]);
        const std::string bad = faulty(q, lines);
        expect_bad(dir, name, bad, "line " + std::to_string(k + 1) + ": ",
                   "the count is not C(n) = " + std::to_string(count), "a Q count one too high");
        fs::copy_file(dir.folder() / f, dir.folder() / fs::path(bad).parent_path() / f);
        const Outcome merged =
            dir.run(MORVANE_MERGE_PATH, {name, bad, fs::path(bad).parent_path() / f});
        EXPECT_EQ(merged.status, 0) << "the merge alone accepts it: " << merged.err;
    }
    {
        auto lines = f_lines;
        const std::size_t k = f_lines.size() - 3;
        const auto [n, count] = n_count(lines[k]);
        const std::uint64_t c = n - count;  // C(n)
        ASSERT_EQ(c, q_count_afresh(n, squares_set(p)));
        lines[k] = line_of<Profile>('F', p, n, c - 1);
        expect_bad(dir, name, faulty(f, lines), "line " + std::to_string(k + 1) + ": ",
                   "the count is not n - C(n) = " + std::to_string(count),
                   "an F count one too high");
    }
    // n and count moved together to the next Q-number, the excess reprinted:
    // right for the n before the move, wrong at the new n.
    {
        CountWalk walk(squares_set(p));
        bool moved = false;
        for (std::size_t k = 1; k + 2 < q_lines.size() && !moved; ++k) {
            auto lines = q_lines;
            const auto [n, count] = n_count(lines[k]);
            const std::uint64_t next_n = n_count(lines[k + 1]).first;
            std::uint64_t m = n + 1;
            while (!walk.is_q_number(m)) ++m;
            if (m >= next_n) continue;
            lines[k] = line_of<Profile>('Q', p, m, count);
            const std::string bad = faulty(q, lines);
            const Outcome o = dir.run(check_path, {name, bad});
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.err.rfind("morvane-check: " + bad + ": line " + std::to_string(k + 1), 0),
                      0u)
                << o.err;
            moved = true;
        }
        EXPECT_TRUE(moved);
    }
    // A changed excess digit.
    {
        auto lines = q_lines;
        lines[3][lines[3].size() - 2] = lines[3][lines[3].size() - 2] == '1' ? '2' : '1';
        expect_bad(dir, name, faulty(q, lines), "line 4: ", "the excess is not the one",
                   "a digit of the excess changed");
    }
    // A record not above the one before: a Q-number between two records, with
    // its true count and excess, that does not beat the first of them.
    {
        auto lines = q_lines;
        const typename Profile::Density density(squares_set(p));
        CountWalk walk(squares_set(p));
        bool found = false;
        for (std::size_t k = 2; k + 1 < lines.size() - 1 && !found; ++k) {
            const auto [a, ca] = n_count(lines[k]);
            const auto [b, cb] = n_count(lines[k + 1]);
            const auto ea = density.excess(a, ca);
            for (std::uint64_t m = a + 1; m < b && !found; ++m) {
                if (!walk.is_q_number(m)) continue;
                const std::uint64_t c = walk.at(m);
                if (density.excess(m, c) > ea) continue;
                lines[k + 1] = line_of<Profile>('Q', p, m, c);
                expect_bad(dir, name, faulty(q, lines), "line " + std::to_string(k + 2) + ": ",
                           "does not beat the records before it", "a record not above");
                found = true;
            }
            (void)cb;
        }
        EXPECT_TRUE(found) << "no Q-number below a record's excess between two records";
    }
    // First records not above their thresholds: the first Q-number whose
    // Q-excess is at most -1e-12, the first F-number whose F-excess is at most
    // 0, each with its true count, as the first line of a file.
    {
        CountWalk walk(squares_set(p));
        const typename Profile::Density density(squares_set(p));
        for (const char kind : {'Q', 'F'}) {
            std::uint64_t m = 1;
            for (;; ++m) {
                if (walk.is_q_number(m) != (kind == 'Q')) continue;
                const auto e = density.excess(m, walk.at(m));
                if (kind == 'Q' ? !(e > Profile::Density::q_start()) : !(e < 0)) break;
            }
            const std::string file = std::string("maxdev") + kind + "_13-1.txt";
            const std::string bad =
                faulty(file, {line_of<Profile>(kind, 13, m, walk.at(m)),
                              lines_of(dir.read(kind == 'Q' ? q13 : f13)).back()});
            expect_bad(dir, name, bad, "line 1: ",
                       kind == 'Q' ? "not above -1e-12, the first Q record's threshold"
                                   : "not above 0, the first F record's threshold",
                       std::string("a first ") + kind + " record at the threshold");
        }
    }
    // A record line at an F-number in the Q file, count and excess right.
    {
        CountWalk walk(squares_set(97));
        const typename Profile::Density density(squares_set(97));
        std::uint64_t m = 2;
        while (walk.is_q_number(m) ||
               !(density.excess(m, walk.at(m)) > Profile::Density::q_start()))
            ++m;
        const std::string bad = faulty(
            "maxdevQ_97-1.txt", {line_of<Profile>('Q', 97, m, walk.at(m)), "1000000 390958\n"});
        expect_bad(dir, name, bad, "line 1: ", "is not a Q-number for p = 97",
                   "a Q line at an F-number");
    }
    // Wrong summary counts, one off each way, in both files.
    for (const int off : {1, -1}) {
        for (const auto& [file, lines0] : {std::pair{q, q_lines}, std::pair{f, f_lines}}) {
            auto lines = lines0;
            auto [N, count] = n_count(lines.back());
            lines.back() = std::to_string(N) + " " + std::to_string(count + off) + "\n";
            expect_bad(dir, name, faulty(file, lines),
                       "line " + std::to_string(lines.size()) + ": ", "the summary count is not",
                       "a summary count off by one");
        }
    }
    // Truncated: the summary line gone, a line cut, the file empty.
    {
        auto lines = q_lines;
        lines.pop_back();
        expect_bad(dir, name, faulty(q, lines), "line " + std::to_string(q_lines.size()) + ": ",
                   "incomplete", "no summary line");
        lines.resize(4);
        lines[3].resize(lines[3].size() / 2);
        expect_bad(dir, name, faulty(q, lines), "line 4: ", "incomplete", "a line cut");
        expect_bad(dir, name, faulty(q, {}), "line 1: ", "incomplete", "an empty file");
    }
    // Lines swapped, a line twice.
    {
        auto lines = q_lines;
        std::swap(lines[6], lines[7]);
        expect_bad(dir, name, faulty(q, lines), "line 8: ", "n is not above", "lines swapped");
        lines = q_lines;
        lines.insert(lines.begin() + 2, lines[2]);
        expect_bad(dir, name, faulty(q, lines), "line 4: ", "n is not above", "a line twice");
    }
    // The Q file under the F file's name.
    expect_bad(dir, name, faulty(f, q_lines), "line 1: ", "", "a Q file named as an F file");
}

TEST(CheckCatches, EveryFaultAtItsLine) {
    expect_faults_caught<NarrowProfile>(MORVANE_PATH, "morvane");
#ifdef MORVANE_L_PATH
    expect_faults_caught<ExtendedProfile>(MORVANE_L_PATH, "morvane-l");
#endif
#ifdef MORVANE_X_PATH
    expect_faults_caught<ExactProfile>(MORVANE_X_PATH, "morvane-x");
#endif
}

// Files of one program checked as another's: refused at the first line whose
// print differs, or, beyond 2^32, as counts morvane cannot hold.
TEST(CheckCatches, AnotherProgramsFiles) {
    const std::vector<std::pair<std::string, std::string>> programs = {
        {"morvane", MORVANE_PATH},
#ifdef MORVANE_L_PATH
        {"morvane-l", MORVANE_L_PATH},
#endif
#ifdef MORVANE_X_PATH
        {"morvane-x", MORVANE_X_PATH},
#endif
    };
    int compared = 0;
    for (const Args& args : std::vector<Args>{{"97", "4294967295", "4294767296"},
                                              {"97", "1000000200000", "1000000000000"}}) {
        Scratch dir;
        const bool narrow_too = args[1].size() == 10;  // within morvane's counts
        for (const auto& [name, path] : programs) {
            if (name == "morvane" && !narrow_too) continue;
            fs::create_directory(dir.folder() / name);
            const Outcome o =
                dir.run("/bin/sh", {"-c", "cd " + name + " && exec '" + path + "' " + args[0] +
                                              " " + args[1] + " " + args[2]});
            ASSERT_EQ(o.status, 0);
        }
        for (const auto& [writer, writer_path] : programs) {
            for (const auto& [reader, reader_path] : programs) {
                if (writer == reader ||
                    (!narrow_too && (writer == "morvane" || reader == "morvane")))
                    continue;
                // morvane's top is 2^32 - 1, which its own count range holds.
                const auto folder = dir.folder() / writer;
                for (const auto& entry : fs::directory_iterator(folder)) {
                    const std::string file = writer + "/" + entry.path().filename().string();
                    const auto mine = lines_of(slurp(entry.path()));
                    const auto theirs =
                        lines_of(slurp(dir.folder() / reader / entry.path().filename()));
                    if (mine == theirs) continue;  // the same bytes are good files of both
                    std::size_t k = 0;
                    while (k < mine.size() && k < theirs.size() && mine[k] == theirs[k]) ++k;
                    ++compared;
                    const Outcome o = dir.run(check_path, {reader, file});
                    EXPECT_EQ(o.status, 1) << writer << " as " << reader << ": " << file;
                    EXPECT_EQ(
                        o.err.rfind(
                            "morvane-check: " + file + ": line " + std::to_string(k + 1) + ": ", 0),
                        0u)
                        << writer << " as " << reader << ": " << o.err;
                }
            }
        }
    }
    EXPECT_GT(compared, 0) << "no two programs wrote different files";
#ifdef MORVANE_L_PATH
    // Beyond 2^32, a morvane-l file is none of morvane's.
    Scratch dir;
    ASSERT_EQ(dir.run(MORVANE_L_PATH, {"97", "4294977296", "4294967296"}).status, 0);
    const Outcome o = dir.run(check_path, {"morvane", "maxdevQ_97-4294967296.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("is not a count of morvane"), std::string::npos) << o.err;
    ASSERT_EQ(dir.run(MORVANE_L_PATH, {"2", "4294977296", "1"}).status, 0);
    const Outcome far = dir.run(check_path, {"morvane", "maxdevQ_2-1.txt"});
    EXPECT_EQ(far.status, 1);
    EXPECT_EQ(far.err, "morvane-check: maxdevQ_2-1.txt: line 2: not a summary line of morvane\n");
#endif
}

// Several files at once: good ones silent, one line for each bad one, in the
// order given; names and p texts as the merge reads them.
TEST(CheckFiles, OneLineForEachBadFile) {
    Scratch dir;
    ASSERT_EQ(dir.run(MORVANE_PATH, {"97", "100000"}).status, 0);
    ASSERT_EQ(dir.run(MORVANE_PATH, {"+7", "100000"}).status, 0);
    ASSERT_EQ(dir.run(MORVANE_PATH, {"13", "100000", "5000"}).status, 0);
    fs::create_directory(dir.folder() / "bad");
    std::string cut = dir.read("maxdevF_97-1.txt");
    cut.pop_back();
    dir.write("bad/maxdevF_97-1.txt", cut);
    dir.write("bad/records.txt", dir.read("maxdevQ_97-1.txt"));
    expect_good(dir, "morvane",
                {"maxdevQ_97-1.txt", "maxdevF_13-5000.txt", "maxdevF_97-1.txt",
                 "maxdevQ_13-5000.txt", "maxdevQ_97-1.txt"},
                "good files, one twice");
    const auto before = contents(dir.folder());
    const Outcome o = dir.run(
        check_path, {"morvane", "maxdevQ_97-1.txt", "bad/maxdevF_97-1.txt", "maxdevF_13-5000.txt",
                     "bad/records.txt", "maxdevQ_-1.txt", "maxdevF_97-7.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    const auto lines = lines_of(o.err);
    ASSERT_EQ(lines.size(), 4u) << o.err;
    EXPECT_EQ(lines[0].rfind("morvane-check: bad/maxdevF_97-1.txt: line ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("incomplete"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("morvane-check: bad/records.txt: not named like a record file", 0),
              0u);
    EXPECT_EQ(lines[2].rfind("morvane-check: maxdevQ_-1.txt: ", 0), 0u);
    EXPECT_NE(lines[2].find("give p with -p"), std::string::npos);
    EXPECT_EQ(lines[3].rfind("morvane-check: maxdevF_97-7.txt: cannot be read", 0), 0u);
    EXPECT_EQ(contents(dir.folder()), before);
    // The p of "+7" given as the program read it; another p refused.
    EXPECT_EQ(
        dir.run(check_path, {"-p", "+7", "morvane", "maxdevQ_-1.txt", "maxdevF_-1.txt"}).status, 0);
    EXPECT_EQ(dir.run(check_path, {"-p7", "--", "morvane", "maxdevQ_-1.txt"}).status, 0);
    const Outcome other = dir.run(check_path, {"-p", "11", "morvane", "maxdevQ_-1.txt"});
    EXPECT_EQ(other.status, 1);
    const Outcome against = dir.run(check_path, {"-p", "11", "morvane", "maxdevQ_97-1.txt"});
    EXPECT_NE(against.err.find("its p text gives p = 97, -p gives 11"), std::string::npos)
        << against.err;
}

TEST(CheckUsage, WrongUsageIsStatus2) {
    Scratch dir;
    ASSERT_EQ(dir.run(MORVANE_PATH, {"97", "1000"}).status, 0);
    const auto before = contents(dir.folder());
    for (const auto& [args, message] : std::vector<std::pair<Args, std::string>>{
             {{}, "no PROGRAM"},
             {{"-p", "7"}, "no PROGRAM"},
             {{"-p"}, "-p needs a value"},
             {{"morvane"}, "no FILE"},
             {{"nonesuch", "maxdevQ_97-1.txt"}, "unknown PROGRAM 'nonesuch'"},
             {{"-x", "morvane", "maxdevQ_97-1.txt"}, "unknown option -x"},
             {{"morvane-x", "-k", "64", "maxdevQ_97-1.txt"}, "Error: value of k out of range"},
             {{"morvane-x", "-kx", "maxdevQ_97-1.txt"}, "Error: value of k is not a number"},
             {{"morvane-x", "-k3"}, "no FILE"}}) {
        const Outcome o = dir.run(check_path, args);
        EXPECT_EQ(o.status, 2) << message;
        EXPECT_EQ(o.out, "") << message;
        EXPECT_EQ(
            o.err.rfind(
                "morvane-check: " + message +
                    "\nUsage: morvane-check [-p P] PROGRAM [-k K] FILE...\n",
                0),
            0u)
            << o.err;
    }
    for (const std::string help : {"-h", "--help"}) {
        const Outcome o = dir.run(check_path, {help});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out.rfind("Usage: morvane-check [-p P] PROGRAM [-k K] FILE...\n", 0), 0u);
        EXPECT_EQ(o.err, "");
    }
    EXPECT_EQ(contents(dir.folder()), before);
}

}  // namespace
}  // namespace morvane::testing
