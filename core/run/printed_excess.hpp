// Whether a text is what printf("%.12f", v) prints for a binary64 v, decided
// without printing v.
//
// Printing costs most of the time of reading a record file back (a merge of
// 10^4 task files reads 10^7 lines). glibc prints the exact binary value
// rounded to twelve decimals, half to even. The exact value of |v| * 10^12 is
// m * 5^12 * 2^s with m the 53-bit significand: an integer of at most 81 bits
// times a power of two, so the decimal it rounds to comes from one shift and
// the bits shifted out, and is compared with the digits of the text.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace morvane {

namespace detail {

// What printf does; for values whose scaled form leaves 128 bits (beyond
// 10^26 or so: no excess comes near), and in the tests as the reference.
inline bool printf_prints(double v, std::string_view text) {
    char printed[400];
    const int length = std::snprintf(printed, sizeof printed, "%.12f", v);
    return length > 0 && static_cast<std::size_t>(length) < sizeof printed &&
           text == std::string_view(printed, static_cast<std::size_t>(length));
}

// The digits of a text as a number, at most 19 of them; false for others.
inline bool read_digits(std::string_view digits, std::uint64_t& value) {
    if (digits.size() > 19) return false;
    value = 0;
    for (const char c : digits) {
        const auto digit = static_cast<unsigned char>(c - '0');
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace detail

inline bool prints_with_12_decimals(double v, std::string_view text) {
    using u128 = unsigned __int128;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>(bits >> 52 & 0x7ff);
    if (biased == 0x7ff) return detail::printf_prints(v, text);  // inf, nan
    // |v| = significand * 2^(exponent), subnormals included.
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t significand = biased ? fraction | std::uint64_t{1} << 52 : fraction;
    const int exponent = (biased ? biased : 1) - 1075;
    const u128 scaled = u128(significand) * 244'140'625u;  // * 5^12, below 2^81
    const int shift = exponent + 12;                        // |v| * 10^12 = scaled * 2^shift
    u128 rounded = 0;
    if (shift > 45) return detail::printf_prints(v, text);
    if (shift >= 0) {
        rounded = scaled << shift;
    } else if (shift > -100) {  // else below half a unit: 0
        const int right = -shift;
        const u128 kept = scaled >> right;
        const u128 rest = scaled & ((u128(1) << right) - 1);
        const u128 half = u128(1) << (right - 1);
        rounded = kept + (rest > half || (rest == half && (kept & 1)));
    }

    // The text: a minus exactly when v's sign bit is set (-0.000000000000
    // too), the whole part without leading zeros, a point, twelve decimals.
    const bool minus = bits >> 63;
    if (text.empty() || minus != (text[0] == '-')) return false;
    text.remove_prefix(minus);
    if (text.size() < 14 || text[text.size() - 13] != '.') return false;
    const std::string_view whole = text.substr(0, text.size() - 13);
    if (whole.size() > 1 && whole[0] == '0') return false;
    std::uint64_t whole_value = 0, decimals = 0;
    if (!detail::read_digits(text.substr(text.size() - 12), decimals)) return false;
    if (!detail::read_digits(whole, whole_value)) {
        for (const char c : whole)
            if (c < '0' || c > '9') return false;
        return detail::printf_prints(minus ? -v : v, text);  // 20 digits or more
    }
    return u128(whole_value) * 1'000'000'000'000u + decimals == rounded;
}

}  // namespace morvane
