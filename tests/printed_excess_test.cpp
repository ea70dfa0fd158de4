// The printed excess checked by value against printf itself: every value a
// text printf prints passes, and every text one step off fails, for values of
// every size, exact halves (where printf rounds to even) and values a hair
// either side of a rounding boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "run/printed_excess.hpp"

namespace morvane::testing {
namespace {

std::string printed(double v) {
    char text[400];
    std::snprintf(text, sizeof text, "%.12f", v);
    return text;
}

// printf's text passes; the text with its last decimal one up or down, its
// sign flipped, a leading zero, a decimal more or less does not.
void expect_exact(double v) {
    const std::string text = printed(v);
    ASSERT_TRUE(prints_with_12_decimals(v, text)) << text;
    std::vector<std::string> wrong;
    for (const int step : {1, -1}) {
        std::string other = text;
        char& last = other.back();
        if ((step > 0 && last != '9') || (step < 0 && last != '0')) {
            last = static_cast<char>(last + step);
            wrong.push_back(other);
        }
    }
    wrong.push_back(text[0] == '-' ? text.substr(1) : "-" + text);
    wrong.push_back(text[0] == '-' ? "-0" + text.substr(1) : "0" + text);
    wrong.push_back(text + "0");
    wrong.push_back(text.substr(0, text.size() - 1));
    wrong.push_back(text + " ");
    for (const auto& other : wrong)
        EXPECT_FALSE(prints_with_12_decimals(v, other)) << text << " against " << other;
}

TEST(PrintedExcess, PassesPrintfsTextAndNoOther) {
    for (const double v : {0.0, -0.0, 1.0, -1.0, 5e-13, -5e-13, 4.9999999999999e-13, 1e-300,
                           -4e-320, 123456.789012345678, -18.69538093, 1e15, -3e20, 1e30, 1e300,
                           std::ldexp(1.0, 86), std::ldexp(1.0, 87) + std::ldexp(1.0, 35)})
        expect_exact(v);
    std::mt19937_64 random(19);
    for (int i = 0; i < 200000; ++i) {
        // Random significands over the exponents excesses take, and beyond.
        const double v = std::ldexp(double(random() >> 11), int(random() % 120) - 120);
        expect_exact(i % 2 ? v : -v);
    }
}

TEST(PrintedExcess, RoundsHalvesToEvenAsPrintfDoes) {
    // j / 2^13 * 10^12 = j * 5^12 / 2: an exact half for odd j.
    for (std::int64_t j = -20001; j <= 20001; j += 2) expect_exact(double(j) / 8192);
    for (std::int64_t j = 1; j < 4000000000; j = j * 3 + 1) expect_exact(double(j) / 8192);
}

TEST(PrintedExcess, DecidesValuesBesideABoundary) {
    // The doubles next to k + 1/2 units of the twelfth decimal, for excesses
    // of every size the runs meet.
    std::mt19937_64 random(97);
    for (int i = 0; i < 100000; ++i) {
        const double units = double(random() % 1000000000000000ull) + 0.5;
        const double v = units / 1e12;
        expect_exact(v);
        expect_exact(std::nextafter(v, 0.0));
        expect_exact(std::nextafter(v, 1e300));
        expect_exact(-std::nextafter(v, 0.0));
    }
}

}  // namespace
}  // namespace morvane::testing
