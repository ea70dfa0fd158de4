// q-count [-k K] p x: C(x), how many of 1..x are divisible by q^K for a prime
// q <= p (or any prime, for p = all), for any x up to 2^64 - 1.
//
//   g++ -std=c++20 q-count.cpp $(pkg-config --cflags --libs morvane)
#include <morvane.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

namespace {

// x written in full: decimal digits only, at most 2^64 - 1.
bool read_x(const std::string& text, std::uint64_t& x) {
    if (text.empty() || text.size() > 20) return false;
    unsigned __int128 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > ~std::uint64_t{0}) return false;
    x = static_cast<std::uint64_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    std::string k = "2";
    if (argc > 2 && std::string(argv[1]) == "-k") {
        k = argv[2];
        first = 3;
    }
    std::uint64_t x = 0;
    if (argc != first + 2 || !read_x(argv[first + 1], x)) {
        std::fprintf(stderr, "usage: q-count [-k K] p|all x   (x from 0 to 18446744073709551615)\n");
        return 2;
    }
    try {
        const morvane::Set set = morvane::read_set(argv[first], k);
        std::printf("%llu\n", static_cast<unsigned long long>(morvane::q_count(set, x)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
