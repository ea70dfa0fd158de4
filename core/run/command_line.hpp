// The command line of both programs: usage text, argument conversion, the
// checks, then the run.
#pragma once

#include <cstdint>
#include <cstdio>

#include "run/decimal.hpp"
#include "run/excess_scan.hpp"
#include "run/programs.hpp"
#include "run/run_parameters.hpp"

namespace morvane {

// Printed, followed by one newline, when no argument is given. Its wording,
// spacing and accents are the program's own; the first line names morvane in
// both programs.
inline constexpr const char usage_text[] =
    R"usage(Program usage: morvane p N [nmin]

Let a number which is divisible by any of 4, 9, ... p^2 be called Q-number,
and a number which is not, be called F-number. The program computes
which numbers in [1, N] are Q-numbers and compares the total number
of F-numbers in each interval [1, n] with the expected value, defined as
n*(1-1/4)*...*(1-1/p^2). Let the difference of those two quantities be called
the F-excess at n. The program outputs two files: one listing the successive
maxima of the F-excesses and another one listing the succesive maxima of
Q-excesses.
    If the value of N is not provided the program will employ a default value
for it (currently, 900). The maximum allowed value for p is 97.
    If the extra argument nmin is provided, the maxima are kept starting
from nmin.    The output files include in each row of text `n´, the number of F- or
Q-numbers in [1, n], and its the deviation from the expected vaue. The
file is closed by a last line in which the values of N and the number of
F- or Q-numbers in [1, N] is written)usage";

// Cuts the argument in place at its first character that is not an ASCII digit.
inline const char* cut_p_text(char* argument) {
    char* c = argument;
    while (is_digit(*c)) ++c;
    *c = '\0';
    return argument;
}

// The first failed check's message, or nullptr. All comparisons are unsigned, so
// every negative p fails the range check.
template <class Profile>
const char* argument_error(const RunParameters<Profile>& run) {
    if (!table_sets.takes_bound(static_cast<std::uint32_t>(run.p)))
        return "Error: value of p out of range";
    if (run.N < 2) return "Error: value of N too small";
    if (run.N < run.nmin) return "Error: The value specified for n1 is larger than N";
    return nullptr;
}

// The run that the arguments after the program's name ask for (at least p),
// before the checks. The first argument is cut in place.
template <class Profile>
RunParameters<Profile> read_arguments(int argc, char** argv) {
    using Count = typename Profile::Count;
    RunParameters<Profile> run{};
    run.p = read_p(argv[1]);  // read before the cut: " 7" and "+7" give 7
    run.p_text = cut_p_text(argv[1]);
    run.set = PrimeSet{static_cast<std::uint32_t>(run.p), 2};
    run.N = argc > 2 ? read_count<Count>(argv[2]) : Count{900};
    run.nmin = argc > 3 ? read_count<Count>(argv[3]) : Count{1};
    return run;
}

template <class Profile>
int run_command_line(int argc, char** argv, ScanEngine engine) {
    if (argc < 2) {
        std::printf("%s\n", usage_text);
        return 0;
    }
    const RunParameters<Profile> run = read_arguments<Profile>(argc, argv);
    if (const char* error = argument_error(run)) {
        std::printf("%s\n", error);
        return 1;
    }
    return ExcessScan(run, engine);
}

}  // namespace morvane
