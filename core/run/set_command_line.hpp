// morvane-x's command line, `morvane-x [-k K] p N [nmin]`: p any bound from 2
// to 4294967295 or the word `all`, and the power K from 2 to 63. With K = 2 and
// p up to 97 it reads, refuses and names exactly as morvane-l does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "run/command_line.hpp"

namespace morvane {

inline constexpr const char k_not_a_number[] = "Error: value of k is not a number";
inline constexpr const char k_out_of_range[] = "Error: value of k out of range";
inline constexpr const char p_out_of_range[] = "Error: value of p out of range";

// K: one or two digits and nothing else, from 2 to 63.
inline const char* read_power(const char* text, int& k) {
    std::size_t length = std::strlen(text);
    if (length == 0) return k_not_a_number;
    for (std::size_t i = 0; i < length; ++i)
        if (!is_digit(text[i])) return k_not_a_number;
    while (length > 1 && *text == '0') ++text, --length;  // "03" is 3
    if (length > 2) return k_out_of_range;
    k = std::atoi(text);
    return k < PrimeSet::min_power || k > PrimeSet::max_power ? k_out_of_range : nullptr;
}

// p: the word "all", or a number read as atoi reads it (leading white space
// and a sign, the digits up to the first other character) from 2 to
// 4294967295, never cut to 32 bits.
inline const char* read_bound(const char* text, std::uint64_t& bound) {
    if (std::strcmp(text, "all") == 0) {
        bound = PrimeSet::every_prime;
        return nullptr;
    }
    const std::int64_t value = decimal_value(text);
    if (value < 2 || value > 4294967295) return p_out_of_range;
    bound = static_cast<std::uint64_t>(value);
    return nullptr;
}

// The run, or the message of the first failed check (K, p, N, nmin in turn).
// argv[0] is the program; the arguments are cut in place as morvane cuts them.
inline const char* read_set_arguments(int argc, char** argv, RunParameters<ExactProfile>& run) {
    int first = 1, k = 2;
    if (argc > 1 && std::strncmp(argv[1], "-k", 2) == 0) {
        // "-k K" or "-kK".
        const char* text = argv[1][2] != '\0' ? argv[1] + 2 : argc > 2 ? argv[2] : "";
        first = argv[1][2] != '\0' ? 2 : 3;
        if (const char* error = read_power(text, k)) return error;
    }
    if (first >= argc) return nullptr;  // no p: the usage text
    std::uint64_t bound = 0;
    if (const char* error = read_bound(argv[first], bound)) return error;
    run.set = PrimeSet{bound, k};
    run.p = bound <= 97 ? static_cast<std::int32_t>(bound) : 0;
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
