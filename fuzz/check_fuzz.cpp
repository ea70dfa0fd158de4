// Fuzz target: morvane-check's reading of a record file, on any bytes.
//
// The first two input bytes choose the program (morvane, morvane-l,
// morvane-x), the kind of file, the p text (with morvane-x's sets: every
// prime, cubes, p = 1000, fourth powers) and the nmin in its name; the rest is
// the file. The check must never crash, and whatever it accepts must hold up
// against the engine's own count: every record line's count and the summary's
// are C(n) (Q file) or n - C(n) (F file) by count_q_numbers, a formula apart
// from the check's, and each record's n rises and is of the file's kind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "engine/q_count.hpp"
#include "profiles/exact_density.hpp"
#include "profiles/profile.hpp"
#include "windows/record_check.hpp"

namespace {

std::string folder;

[[noreturn]] void fail(const char* what, const std::string& bytes) {
    std::fprintf(stderr, "MISMATCH: %s in a file the check accepted:\n%s\n", what, bytes.c_str());
    std::abort();
}

// The accepted file against count_q_numbers.
void expect_counts(const std::string& bytes, char kind, const morvane::PrimeSet& set,
                   std::uint64_t nmin) {
    std::istringstream in(bytes);
    std::uint64_t last = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::uint64_t n = 0, count = 0;
        std::string excess;
        fields >> n >> count;
        const bool record = static_cast<bool>(fields >> excess);
        const std::uint64_t c = morvane::count_q_numbers(n, set);
        if (count != (kind == 'Q' ? c : n - c)) fail("a count that is not the engine's", bytes);
        if (!record) return;
        if (n < nmin || n <= last) fail("an n out of order", bytes);
        if ((c != morvane::count_q_numbers(n - 1, set)) != (kind == 'Q'))
            fail("an n of the other kind", bytes);
        last = n;
    }
    fail("no summary line", bytes);
}

template <class Profile>
void check(const std::string& program, char kind, const std::string& p_text, std::uint64_t nmin,
           const std::string& bytes) {
    const std::string path =
        folder + "/maxdev" + kind + "_" + p_text + "-" + std::to_string(nmin) + ".txt";
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f))
        std::abort();
    bool accepted = true;
    try {
        morvane::check_record_file<Profile>(program, nullptr, path);
    } catch (const morvane::MergeRefusal&) {
        accepted = false;
    }
    std::remove(path.c_str());
    // Accepted, the name gives a set of the program.
    if (accepted) expect_counts(bytes, kind, morvane::set_of_name<Profile>(p_text, {}, path), nmin);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/morvane-check-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    folder = pattern;
    std::atexit([] { rmdir(folder.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const char* const ps[] = {"2",  "3",   "5",     "13",   "23",        "97", "10", "98",
                              "all", "allk3", "1000", "13k4", "4294967296", "2k63"};
    constexpr std::uint64_t nmins[] = {1, 0, 2, 100, 1000000000000, 4294967295};
    const char kind = data[0] & 1 ? 'F' : 'Q';
    const int program = (data[0] >> 1) % 3;
    const std::string p = ps[(data[0] >> 3) % 14];
    const std::uint64_t nmin = nmins[data[1] % 6];
    const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (program == 0 && nmin <= 0xFFFFFFFFu)
        check<morvane::NarrowProfile>("morvane", kind, p, nmin, bytes);
    if (program == 1) check<morvane::ExtendedProfile>("morvane-l", kind, p, nmin, bytes);
    if (program == 2) check<morvane::ExactProfile>("morvane-x", kind, p, nmin, bytes);
    return 0;
}
