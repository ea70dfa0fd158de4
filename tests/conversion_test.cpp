// Argument conversion against the C library's own atoi, strtol and strtoll:
// the programs must read every text exactly as glibc does.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/decimal.hpp"

namespace {

using morvane::decimal_value;
using morvane::read_count;
using morvane::read_p;

const std::vector<std::string>& texts() {
    static const std::vector<std::string> table = [] {
        std::vector<std::string> t = {
            // nothing to read
            "", "+", "-", " ", "+-7", "-+7", "--7", "- 7", "x7", "abc", ".5",
            // the six white space characters, alone and together, then a sign
            " 7", "\t7", "\n7", "\v7", "\f7", "\r7", " \t\n\v\f\r-12", "\t+12",
            // other characters are not white space
            "\a7", "\b7", "\x1c" "7", "\xa0" "7", "_7",
            // signs and zeros
            "0", "-0", "+0", "+7", "-7", "05", "007", "-005",
            // digits followed by other characters: reading stops there
            "7x", "12abc", "3.9", "1e3", "0x10", "10 20", "97\n", "2-1",
            // the edges of 32 bits
            "97", "98", "2147483647", "2147483648", "-2147483648", "-2147483649",
            "4294967295", "4294967296", "4294967297", "4294967298", "-4294967294",
            "-4294967295", "-4294967296", "4294967393", "4294967394",
            // the edges of signed 64 bits, and beyond them both ways
            "9223372036854775806", "9223372036854775807", "9223372036854775808",
            "9223372036854775809", "-9223372036854775807", "-9223372036854775808",
            "-9223372036854775809", "18446744073709551615", "18446744073709551616",
            "92233720368547758070", "-92233720368547758080", "99999999999999999999999",
            "-99999999999999999999999", "  -184467440737095516150000x",
            // a value that would overflow once more digits are taken
            "922337203685477580", "922337203685477581", "-922337203685477581",
            // many leading zeros
            std::string(300, '0') + "2", "-" + std::string(40, '0') + "9223372036854775808",
            "+" + std::string(40, '0') + "9223372036854775807x",
        };
        return t;
    }();
    return table;
}

std::string shown(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f) out += static_cast<char>(c);
        else out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    }
    return '"' + out + '"';
}

TEST(Conversion, DecimalValueIsStrtollBase10) {
    for (const auto& t : texts())
        EXPECT_EQ(decimal_value(t.c_str()), std::strtoll(t.c_str(), nullptr, 10)) << shown(t);
}

// morvane reads p with atoi; morvane-l with strtol cut to 32 bits. Both give the
// same p for every text.
TEST(Conversion, PIsAtoiAndStrtolCutTo32Bits) {
    for (const auto& t : texts()) {
        EXPECT_EQ(read_p(t.c_str()), std::atoi(t.c_str())) << shown(t);
        EXPECT_EQ(read_p(t.c_str()), static_cast<std::int32_t>(std::strtol(t.c_str(), nullptr, 10)))
            << shown(t);
    }
}

// N and nmin in morvane: atoi's value as a 32-bit unsigned count.
TEST(Conversion, NarrowCountIsAtoiAsUnsigned) {
    for (const auto& t : texts())
        EXPECT_EQ(read_count<std::uint32_t>(t.c_str()),
                  static_cast<std::uint32_t>(std::atoi(t.c_str())))
            << shown(t);
}

// N and nmin in morvane-l: strtoll's value, all 64 bits as unsigned.
TEST(Conversion, ExtendedCountIsStrtollAsUnsigned) {
    for (const auto& t : texts())
        EXPECT_EQ(read_count<std::uint64_t>(t.c_str()),
                  static_cast<std::uint64_t>(std::strtoll(t.c_str(), nullptr, 10)))
            << shown(t);
}

// The values the programs depend on, stated outright so that the table above
// cannot pass by a C library that reads differently.
TEST(Conversion, KnownValues) {
    EXPECT_EQ(read_p("4294967298"), 2);  // 2^32 + 2
    EXPECT_EQ(read_p("-4294967294"), 2);
    EXPECT_EQ(read_p(" 7"), 7);
    EXPECT_EQ(read_p("+7"), 7);
    EXPECT_EQ(read_p("7x"), 7);
    EXPECT_EQ(read_p("05"), 5);
    EXPECT_EQ(read_p((std::string(300, '0') + "2").c_str()), 2);
    EXPECT_EQ(read_p("99999999999999999999"), -1);  // 2^63 - 1 cut to 32 bits

    EXPECT_EQ(read_count<std::uint32_t>("-1"), 4294967295u);
    EXPECT_EQ(read_count<std::uint32_t>("4294967296"), 0u);
    EXPECT_EQ(read_count<std::uint32_t>("-4294967296"), 0u);
    EXPECT_EQ(read_count<std::uint32_t>("-2147483648"), 2147483648u);
    EXPECT_EQ(read_count<std::uint32_t>("-99999999999999999999"), 0u);
    EXPECT_EQ(read_count<std::uint32_t>("99999999999999999999"), 4294967295u);

    EXPECT_EQ(read_count<std::uint64_t>("-1"), 18446744073709551615u);
    EXPECT_EQ(read_count<std::uint64_t>("4294967296"), 4294967296u);
    EXPECT_EQ(read_count<std::uint64_t>("99999999999999999999"), 9223372036854775807u);
    EXPECT_EQ(read_count<std::uint64_t>("-99999999999999999999"), 9223372036854775808u);
    EXPECT_EQ(read_count<std::uint64_t>("18446744073709551615"), 9223372036854775807u);
}

}  // namespace
