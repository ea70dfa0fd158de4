// morvane-x's set on its command line: the power after -k and the bound p, or
// the word `all`. morvane-merge, morvane-check and the Python module read them
// the same way.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arith/prime_set.hpp"
#include "run/decimal.hpp"

namespace morvane {

inline constexpr const char k_not_a_number[] = "Error: value of k is not a number";
inline constexpr const char k_out_of_range[] = "Error: value of k out of range";
inline constexpr const char p_out_of_range[] = "Error: value of p out of range";
inline constexpr std::uint64_t largest_bound = 4294967295;

// morvane-x's sets: any bound it reads or every prime, with any power from 2
// to 63.
inline constexpr SetRange read_sets{smallest_bound, largest_bound, true, PrimeSet::min_power,
                                    PrimeSet::max_power};

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
    if (value < 0 || !read_sets.takes_bound(static_cast<std::uint64_t>(value)))
        return p_out_of_range;
    bound = static_cast<std::uint64_t>(value);
    return nullptr;
}

// Whether morvane-x can run the set: a bound it reads, a power from 2 to 63.
inline bool runnable_set(const PrimeSet& set) { return read_sets.takes(set); }

// The bound as a plan of window runs and messages give it: "all" or its digits.
inline std::string bound_text(const PrimeSet& set) {
    return set.all() ? "all" : std::to_string(set.bound);
}

}  // namespace morvane
