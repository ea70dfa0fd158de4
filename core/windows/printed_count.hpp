// A count as the programs print it: decimal digits without a leading zero
// (except 0 itself), within the profile's count range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace morvane {

template <class Count>
std::optional<Count> read_printed_count(std::string_view s) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) return std::nullopt;
    // Every line of a merge passes here twice: no division, and the overflow
    // looked for only where it can happen, at a twentieth digit.
    if (s.size() > 20) return std::nullopt;
    const std::size_t safe = s.size() < 19 ? s.size() : 19;  // 10^19 - 1 < 2^64
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < safe; ++i) {
        const auto digit = static_cast<unsigned char>(s[i] - '0');
        if (digit > 9) return std::nullopt;
        value = value * 10 + digit;
    }
    if (s.size() == 20) {
        const auto digit = static_cast<unsigned char>(s[19] - '0');
        if (digit > 9 || __builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, std::uint64_t{digit}, &value))
            return std::nullopt;
    }
    if (value > std::numeric_limits<Count>::max()) return std::nullopt;
    return static_cast<Count>(value);
}

}  // namespace morvane
