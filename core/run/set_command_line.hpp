// morvane-x's command line, `morvane-x [-r] [-k K] p N [nmin]`: p any bound from 2
// to 4294967295 or the word `all`, and the power K from 2 to 63. With K = 2 and
// p up to 97 it reads, refuses and names exactly as morvane-l does; its usage
// text is its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "run/command_line.hpp"
#include "run/morvane_x.hpp"
#include "run/power_option.hpp"
#include "run/set_arguments.hpp"

namespace morvane {

// Printed, followed by one newline, when no p is given (no argument, or -k K
// alone). Laid out as morvane's usage text, for the sets and powers of this
// program: the density is exact, and n/zeta(K) for every prime.
inline constexpr const char set_usage_text[] =
    R"usage(Program usage: morvane-x [-r] [-k K] p|all N [nmin]

Let a number which is divisible by any of 2^K, 3^K, 5^K, ... q^K, for the
primes q up to p (every prime with the word all), be called Q-number, and a
number which is not, be called F-number. The program computes which numbers
in [1, N] are Q-numbers and compares the total number of F-numbers in each
interval [1, n] with the expected value, defined as
n*(1-1/2^K)*(1-1/3^K)*...*(1-1/q^K), taken exactly (n/zeta(K) for all). Let
the difference of those two quantities be called the F-excess at n. The
program outputs two files: one listing the successive maxima of the
F-excesses and another one listing the successive maxima of Q-excesses.
    If -k is not given, K is 2; it may be from 2 to 63. p may be from 2 to
4294967295. If the value of N is not provided the program will employ a
default value for it (currently, 900).
    If the extra argument nmin is provided, the maxima are kept starting
from nmin. The output files include in each row of text n, the number of F-
or Q-numbers in [1, n], and its deviation from the expected value. The file
is closed by a last line in which the values of N and the number of F- or
Q-numbers in [1, N] are written. The file names carry kK when K is not 2.
    With -r, a third file lists each run of consecutive Q-numbers in
[nmin, N] longer than every run before it, as its first n and its length,
and is closed by a line with N and the longest run.)usage";

// The run, or the message of the first failed check (K, p, N, nmin in turn).
// argv[0] is the program; the arguments are cut in place as morvane cuts them.
// morvane-x's options from argv[first] on, -r and -k K (or -kK) in either
// order, leaving `first` at p; an error message, or null.
inline const char* read_set_options(int argc, char** argv, int& first, int& k, bool& runs) {
    for (;;) {
        if (first < argc && std::strcmp(argv[first], "-r") == 0) {
            runs = true;
            ++first;
            continue;
        }
        const int at = first;
        if (const char* error = read_power_option(argc, argv, first, k)) return error;
        if (first == at) return nullptr;
    }
}

inline const char* read_set_arguments(int argc, char** argv, RunParameters<ExactProfile>& run) {
    int first = 1, k = 2;
    if (const char* error = read_set_options(argc, argv, first, k, run.runs)) return error;
    if (first >= argc) return nullptr;  // no p: the usage text
    std::uint64_t bound = 0;
    if (const char* error = read_bound(argv[first], bound)) return error;
    run.set = PrimeSet{bound, k};
    run.p = bound <= largest_table_prime ? static_cast<std::int32_t>(bound) : 0;
    const bool all = run.set.all();
    run.p_text = set_text(all ? std::string("all") : std::string(cut_p_text(argv[first])), k);
    run.N = argc > first + 1 ? read_count<std::uint64_t>(argv[first + 1]) : 900;
    run.nmin = argc > first + 2 ? read_count<std::uint64_t>(argv[first + 2]) : 1;
    if (run.N < 2) return "Error: value of N too small";
    if (run.N < run.nmin) return "Error: The value specified for n1 is larger than N";
    return nullptr;
}

}  // namespace morvane
