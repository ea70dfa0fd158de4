// libmorvane: the Q-numbers of a set of primes and power K, their count and
// density, and the records of the excess C(n) - delta * n, exactly, as
// morvane-x computes them.
//
// n is a Q-number when q^K divides n for some prime q of the set, the primes up
// to a bound p or every prime; the others are F-numbers (for every prime, the
// K-free numbers). C(x) counts the Q-numbers up to x, delta is their density,
// and a run from nmin to N records each new maximum of the Q-excess at a
// Q-number and of the F-excess at an F-number.
//
// This header needs the standard library alone. Link with
//   find_package(morvane) ... target_link_libraries(... morvane::morvane)
// or pkg-config --cflags --libs morvane. Every function reports a refused
// argument by std::invalid_argument and a failure of the system (a file that
// cannot be written, a run stopped) by std::runtime_error, with the message
// the programs print. See man 3 morvane or docs/library.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The library's version, "1.0".
const char* version();

// A set of primes and its power: the primes up to `bound`, or every prime.
struct Set {
    static constexpr std::uint64_t every_prime = ~std::uint64_t{0};
    std::uint64_t bound = 97;  // 2 to 4294967295, or every_prime
    int k = 2;                 // 2 to 63

    bool all() const { return bound == every_prime; }
    friend bool operator==(const Set&, const Set&) = default;
};

// The set as morvane-x reads it from its arguments: p a bound or the word
// "all", k the power's digits ("3"). Throws with morvane-x's message
// ("Error: value of p out of range", ...).
Set read_set(const std::string& p, const std::string& k = "2");

// The set's text in file names and messages: "97", "all", "allk3", "1000k7".
std::string set_text(const Set& set);

// C(x): how many of 1..x are Q-numbers, for any x below 2^64, exactly.
std::uint64_t q_count(const Set& set, std::uint64_t x);

// delta, the density of the Q-numbers: 1 - prod (1 - q^-K) over the set, and
// 1 - 1/zeta(K) for every prime.
struct Delta {
    // delta = numerator / denominator in lowest terms (decimal digits), for a
    // finite set; empty for every prime, whose delta is irrational.
    std::string numerator, denominator;
    // delta as the nearest binary64, and an enclosure lo <= delta <= hi by
    // the nearest binary64 values below and above.
    double nearest = 0, lo = 0, hi = 0;
};
Delta delta(const Set& set);

// A record line: n, the count the line shows (C(n) in the Q file, n - C(n) in
// the F file), and the excess as the files print it (12 decimals, exactly
// rounded; the F file shows the F-excess delta * n - C(n)).
struct RecordLine {
    std::uint64_t n = 0, count = 0;
    std::string excess;
    friend bool operator==(const RecordLine&, const RecordLine&) = default;
};

// The records of a run from nmin to N and its summary.
struct Records {
    Set set;
    std::uint64_t N = 0, nmin = 1;
    std::vector<RecordLine> q, f;
    std::uint64_t q_total = 0;  // C(N); the F file's summary shows N - C(N)
    friend bool operator==(const Records&, const Records&) = default;
};

// The run nmin..N (2 <= N, nmin <= N, nmin 0 or 1 for a run from the start)
// on `jobs` threads (0: every core), with the exact excess: the records
// morvane-x writes for `morvane-x -k K p N nmin`.
Records run(const Set& set, std::uint64_t N, std::uint64_t nmin = 1, unsigned jobs = 1);

// The two files of the run, maxdevQ_<set text>-<nmin>.txt and maxdevF_..., as
// morvane-x writes them, in `folder`, each written whole beside its name and
// renamed over it. Returns their paths, Q first.
std::vector<std::string> write_files(const Records& records, const std::string& folder = ".");

// The two files of a run read back, every line checked as morvane-merge
// checks its inputs (format, order, each excess recomputed from n and its
// count); the set and nmin come from the names. Throws std::invalid_argument
// naming the file and line of the first fault.
Records read_files(const std::string& q_file, const std::string& f_file);

// One record file checked as morvane-check checks it: besides what read_files
// checks, every count is C(n) counted afresh and every n is a Q- or F-number
// as its file says. Returns "" for a sound file, else the first fault, naming
// the file and line.
std::string check_file(const std::string& file);

}  // namespace morvane
