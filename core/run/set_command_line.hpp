// morvane-x's command line, `morvane-x [-k K] p N [nmin]`: p any bound from 2
// to 4294967295 or the word `all`, and the power K from 2 to 63. With K = 2 and
// p up to 97 it reads, refuses and names exactly as morvane-l does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "run/command_line.hpp"
#include "run/power_option.hpp"
#include "run/set_arguments.hpp"

namespace morvane {

// The run, or the message of the first failed check (K, p, N, nmin in turn).
// argv[0] is the program; the arguments are cut in place as morvane cuts them.
inline const char* read_set_arguments(int argc, char** argv, RunParameters<ExactProfile>& run) {
    int first = 1, k = 2;
    if (const char* error = read_power_option(argc, argv, first, k)) return error;
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

inline int run_set_command_line(int argc, char** argv, ScanEngine engine = ScanEngine::fast) {
    RunParameters<ExactProfile> run{};
    run.N = 0;
    if (const char* error = read_set_arguments(argc, argv, run)) {
        std::printf("%s\n", error);
        return 1;
    }
    if (run.N == 0) {  // no p given
        std::printf("%s\n", usage_text);
        return 0;
    }
    try {
        return ExcessScan(run, engine);
    } catch (const UndecidedExcess& undecided) {
        std::printf("%s\n", undecided.what());
        return 1;
    }
}

}  // namespace morvane
