// Decimal text to integer, with the value glibc's atoi, strtol and strtoll give
// for base 10 in the C locale: leading white space, an optional sign, digits up
// to the first other character; no digits gives 0, and a value beyond the signed
// 64-bit range gives the nearest limit. Nothing is ever reported.
#pragma once

#include <cstdint>
#include <limits>

namespace morvane {

constexpr bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr std::int64_t decimal_value(const char* s) {
    while (is_c_space(*s)) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    // Accumulate the magnitude up to 2^63 (the most negative value's magnitude)
    // and stop growing there: any longer digit string saturates.
    constexpr std::uint64_t cap = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; is_digit(*s); ++s) {
        const auto digit = static_cast<std::uint64_t>(*s - '0');
        magnitude = (magnitude > (cap - digit) / 10) ? cap : magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == cap ? std::numeric_limits<std::int64_t>::min()
                                : -static_cast<std::int64_t>(magnitude);
    return magnitude >= cap ? std::numeric_limits<std::int64_t>::max()
                            : static_cast<std::int64_t>(magnitude);
}

// p in both programs: the value cut to its low 32 bits, as a signed integer
// (what atoi's int and strtol's long cast to int give on x86-64).
constexpr std::int32_t read_p(const char* s) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(decimal_value(s)));
}

// N and nmin: the value's low bits as the profile's unsigned count, so "-1" is
// the largest count and 2^32 is 0 in 32 bits.
template <class Count>
constexpr Count read_count(const char* s) {
    return static_cast<Count>(static_cast<std::uint64_t>(decimal_value(s)));
}

}  // namespace morvane
