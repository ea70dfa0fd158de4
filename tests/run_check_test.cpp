// The record runs outside the scan: the proof that one n is a Q- or an
// F-number (power_divisor.hpp) against counts by inclusion and exclusion far
// out; morvane-check of a file of record runs, which refuses every record
// moved or lengthened by one at its own line; and morvane-merge of window
// runs' three files, given in any order, against one run.
#ifdef MORVANE_MERGE_EXACT
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "arith/power_divisor.hpp"
#include "engine/q_count.hpp"
#include "memory_records.hpp"
#include "profiles/exact_density.hpp"
#include "program_run.hpp"
#include "run/run_file.hpp"
#include "windows/record_check.hpp"

namespace morvane {
namespace {

using testing::fast_run_file;
using testing::Scratch;
constexpr std::uint64_t every = PrimeSet::every_prime;

bool is_prime(std::uint64_t q) {
    if (q < 2) return false;
    for (std::uint64_t d = 2; d * d <= q; ++d)
        if (q % d == 0) return false;
    return true;
}

// In windows near 10^12, 10^18 and 2^64: the numbers the divisor calls
// Q-numbers each have the q^K it names (q a prime of the set, and no smaller
// one), and there are C(b) - C(a - 1) of them, so that no Q-number is missed.
// n = 101 * 100003^2 is a Q-number by its cofactor for every prime and for
// p = 200000, not for p = 100000.
TEST(PowerDivisor, NamesAPowerOfEveryQNumberAndMissesNone) {
    const std::uint64_t top = ~std::uint64_t{0}, e12 = 1000000000000, e18 = e12 * 1000000;
    const std::uint64_t cofactor = 1010060600909 + 1000;
    struct Case {
        PrimeSet set;
        std::uint64_t b;
    };
    const Case cases[] = {{{every, 2}, e12},      {{every, 2}, e18},      {{every, 2}, cofactor},
                          {{100000, 2}, cofactor}, {{200000, 2}, cofactor}, {{97, 2}, top},
                          {{1000, 2}, e18},       {{every, 3}, e18},      {{every, 3}, top},
                          {{every, 7}, top},      {{every, 63}, top},     {{3, 5}, top}};
    for (const auto& [set, b] : cases) {
        const std::uint64_t a = b - 1999;
        const PowerDivisor divisor(set, b);
        std::uint64_t found = 0;
        for (std::uint64_t n = a;; ++n) {
            if (const std::uint64_t q = divisor(n)) {
                ++found;
                const std::uint64_t power = prime_power(q, set.k);
                ASSERT_TRUE(power != 0 && n % power == 0) << n << " " << q;
                ASSERT_TRUE(is_prime(q) && (set.all() || q <= set.bound)) << q;
                for (std::uint64_t r = 2; r < q && r < 1000; ++r)
                    ASSERT_FALSE(is_prime(r) && n % prime_power(r, set.k) == 0) << n;
            }
            if (n == b) break;
        }
        EXPECT_EQ(found, count_q_numbers(b, set) - count_q_numbers(a - 1, set))
            << bound_text(set) << " k " << set.k << " to " << b;
        if (b == cofactor) {
            const bool by_cofactor = divisor(cofactor - 1000) == 100003;
            EXPECT_EQ(by_cofactor, set.all() || set.bound >= 100003);
        }
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::string check_fault(const Scratch& folder, const std::string& name, const std::string& text) {
    folder.write(name, text);
    try {
        check_record_file<ExactProfile>("morvane-x", {}, (folder.folder() / name).string());
    } catch (const MergeRefusal& refusal) {
        return refusal.what();
    }
    return {};
}

// Every record of the first runs of squares to 10^7 and of cubes to 10^6, and
// of a run cut by nmin and by N, passes; moved by one either way, made one
// longer or one shorter, each is refused at its own line; so are a wrong
// summary and a line out of form.
TEST(RunFileCheck, RefusesEveryRecordMovedOrChangedByOne) {
    const Scratch folder;
    struct Case {
        PrimeSet set;
        std::uint64_t N, nmin;
    };
    for (const Case& c : {Case{{every, 2}, 10000000, 1}, Case{{every, 3}, 1000000, 1},
                          Case{{every, 2}, 1092752, 1092749}, Case{{97, 2}, 2000000, 5000}}) {
        const std::string name = run_file_name(set_text(bound_text(c.set), c.set.k), c.nmin);
        const std::string text = fast_run_file<ExactProfile>(c.set, c.N, c.nmin);
        ASSERT_EQ(check_fault(folder, name, text), "");
        const std::vector<std::string> lines = lines_of(text);
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const auto space = lines[i].find(' ');
            const std::uint64_t n = std::stoull(lines[i]), L = std::stoull(lines[i].substr(space));
            for (const auto& [dn, dL] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, -1}}) {
                std::string changed;
                for (std::size_t j = 0; j < lines.size(); ++j)
                    changed += (j == i ? std::to_string(n + dn) + " " + std::to_string(L + dL)
                                       : lines[j]) + "\n";
                if (i + 2 == lines.size() && dL != 0)  // the summary follows the last record
                    changed = changed.substr(0, changed.rfind(' ') + 1) + std::to_string(L + dL) + "\n";
                const std::string fault = check_fault(folder, name, changed);
                EXPECT_NE(fault.find(": line " + std::to_string(i + 1) + ": "), std::string::npos)
                    << lines[i] << " changed by " << dn << ", " << dL << ": " << fault;
            }
        }
        const std::string summary_off = text.substr(0, text.size() - 2) + "0\n";
        EXPECT_NE(check_fault(folder, name, summary_off).find(": line " + std::to_string(lines.size())),
                  std::string::npos);
        EXPECT_NE(check_fault(folder, name, "4 1\n4 1 \n").find("line 2: not a line of a run file"),
                  std::string::npos);
        EXPECT_NE(check_fault(folder, name, text.substr(0, text.size() - 1)).find("incomplete"),
                  std::string::npos);
    }
    // The neighbour before a run cut short is named with its power.
    EXPECT_EQ(check_fault(folder, "maxrunQ_all-1092748.txt", "1092749 6\n1092760 6\n"),
              (folder.folder() / "maxrunQ_all-1092748.txt").string() +
                  ": line 1: n = 1092748, just before the run, is a Q-number (divisible by 2^2)");
}

#ifdef MORVANE_X_PATH
// Window runs of morvane-x -r, their files given to morvane-merge in a
// shuffled order, are one run's three files; without one window's record
// runs, the merge refuses and writes nothing.
TEST(RunMerge, WindowFilesInAnyOrderAreOneRun) {
    const Scratch one, windows;
    ASSERT_EQ(one.run(MORVANE_X_PATH, {"-r", "all", "1092800", "1092700"}).status, 0);
    std::vector<std::string> files;
    const std::uint64_t cuts[] = {1092700, 1092748, 1092749, 1092750, 1092754, 1092756, 1092801};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        const std::string a = std::to_string(cuts[i]), b = std::to_string(cuts[i + 1] - 1);
        ASSERT_EQ(windows.run(MORVANE_X_PATH, {"-r", "all", b, a}).status, 0);
        for (const char* kind : {"maxdevQ_all-", "maxdevF_all-", "maxrunQ_all-"})
            files.push_back(std::string(kind) + a + ".txt");
    }
    std::shuffle(files.begin(), files.end(), std::mt19937(7));
    std::vector<std::string> args{"morvane-x"};
    args.insert(args.end(), files.begin(), files.end());
    const Scratch merged;
    for (auto& f : args)
        if (f != "morvane-x") f = (windows.folder() / f).string();
    const auto outcome = merged.run(MORVANE_MERGE_PATH, args);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(merged.names(), one.names());
    for (const std::string& name : one.names()) EXPECT_EQ(merged.read(name), one.read(name)) << name;

    const auto dropped = (windows.folder() / "maxrunQ_all-1092750.txt").string();
    args.erase(std::find(args.begin(), args.end(), dropped));
    const Scratch refused;
    const auto without = refused.run(MORVANE_MERGE_PATH, args);
    EXPECT_EQ(without.status, 1);
    EXPECT_NE(without.err.find("its record runs partner, maxrunQ_all-1092750.txt, is missing"),
              std::string::npos) << without.err;
    EXPECT_TRUE(refused.names().empty());
}
#endif

}  // namespace
}  // namespace morvane
#endif
