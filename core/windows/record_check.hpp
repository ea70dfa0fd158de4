// Checking the record files of a run against an independent count, without
// scanning again.
//
// A record file is read as the merge reads it (record_file_reader.hpp): every
// line exactly as the program prints it, its excess recomputed from n and the
// count in the program's own arithmetic, the first record above its threshold,
// the records strictly rising. On top of that, every count is compared with
// C(n) counted afresh, by inclusion and exclusion, never by the engine's sieve
// or its count below nmin: a count that a fault changed together with its
// printed excess passes every other test.
//
// Counting afresh costs up to a millisecond near 2^64, and a file far out has
// its records bunched at the start of its window. So C walks along the file's
// ascending n: across a short gap by marking the multiples of each square in
// the gap alone, across a long one by inclusion and exclusion at the new n.
// Both are exact, and neither uses the file's own counts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/squares.hpp"
#include "windows/record_file_reader.hpp"

namespace morvane {

// x - C(x), the numbers in [1, x] divisible by none of the first `k` squares,
// by inclusion and exclusion taken one prime at a time: those divisible by the
// last square s are s * m with m divisible by none of the others (the squares
// are coprime), so
//     F(x, k) = x - sum over j < k of F(floor(x / s_j), j).
// The same sum as count_q_numbers, formed another way: nested divisions instead
// of products of squares, and no sum modulo 2^64.
inline std::uint64_t free_count(std::uint64_t x, int k) {
    std::uint64_t free = x;
    for (int j = 0; j < k; ++j) {
        const std::uint64_t s = Squares<std::uint64_t>[j];
        if (s > x) break;  // squares ascend: no later one divides a number up to x
        free -= free_count(x / s, j);
    }
    return free;
}

inline std::uint64_t q_count_afresh(std::uint64_t x, int active) {
    return x - free_count(x, active);
}

// C(n) at ascending n, exact, from nothing but n and the squares.
class CountWalk {
public:
    // Gaps up to this many n are marked; longer ones are counted afresh. A
    // marked n costs about a nanosecond, counting afresh near 10^18 about half
    // a millisecond.
    static constexpr std::uint64_t longest_marked_gap = std::uint64_t{1} << 18;

    explicit CountWalk(int active) : active_(active) {}

    // C(n); n never below the n before.
    std::uint64_t at(std::uint64_t n) {
        if (!started_ || n - n_ > longest_marked_gap) {
            count_ = q_count_afresh(n, active_);
        } else {
            count_ += marked_in(n_, n);
        }
        n_ = n;
        started_ = true;
        return count_;
    }

    bool is_q_number(std::uint64_t n) const {
        for (int k = 0; k < active_; ++k)
            if (n % Squares<std::uint64_t>[k] == 0) return true;
        return false;
    }

private:
    // The Q-numbers in (a, b]: each multiple of an active square marked once.
    std::uint64_t marked_in(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t length = b - a;
        marks_.assign(length, 0);
        for (int k = 0; k < active_; ++k) {
            const std::uint64_t s = Squares<std::uint64_t>[k];
            // a + s - a % s, the first multiple above a, is the mark at
            // s - 1 - a % s (no sum that could pass 2^64).
            for (std::uint64_t i = s - 1 - a % s; i < length; i += s) marks_[i] = 1;
        }
        return static_cast<std::uint64_t>(std::count(marks_.begin(), marks_.end(), 1));
    }

    int active_;
    bool started_ = false;
    std::uint64_t n_ = 0;
    std::uint64_t count_ = 0;
    std::vector<unsigned char> marks_;  // at most longest_marked_gap
};

inline constexpr const char record_name_fault[] =
    "not named like a record file (maxdevQ_<p text>-<nmin>.txt or maxdevF_<p text>-<nmin>.txt)";

namespace detail {

// A record line's n and count; the reader has checked its form.
inline std::pair<std::uint64_t, std::uint64_t> n_and_count(std::string_view line) {
    const auto fields = fields_of(line.substr(0, line.size() - 1));
    return {*read_printed_count<std::uint64_t>(fields[0]),
            *read_printed_count<std::uint64_t>(fields[1])};
}

}  // namespace detail

// Checks one record file of `program`, Q or F as its name says, with p from its
// name or from p_argument (as the merge takes it) and nmin from its name.
// Throws MergeRefusal for the first fault, naming the file and, for a fault in
// its lines, the line. Only reads the file.
template <class Profile>
void check_record_file(const std::string& program, const char* p_argument,
                       const std::string& path) {
    using Count = typename Profile::Count;
    const auto name = read_record_name(path);
    if (!name) throw MergeRefusal(path, record_name_fault);
    const std::int32_t p = p_of_name(name->p_text, p_argument, path);
    const auto nmin = read_printed_count<Count>(name->nmin_text);
    if (!nmin)
        throw MergeRefusal(
            path, "the nmin in the name, " + name->nmin_text + ", is not a count of " + program);
    const char kind = name->kind;
    const int active = active_square_count<Count>(p);
    const typename Profile::Density density(squares_set(p));
    ProgramLines<Profile> lines;
    CountWalk walk(active);
    std::uint64_t number = 0;  // record lines come first, one per line
    const auto fault = [&](std::uint64_t at, const std::string& what) {
        return MergeRefusal(path, "line " + std::to_string(at) + ": " + what);
    };
    // What the count must be at n, given C(n).
    const auto expected = [&](std::uint64_t n, std::uint64_t q) { return kind == 'Q' ? q : n - q; };
    const std::string what_count = kind == 'Q' ? "C(n)" : "n - C(n)";
    const auto summary = read_window_file<Profile>(
        path, kind, *nmin, density, lines, program, [&](std::string_view line, const auto&) {
            ++number;
            const auto [n, count] = detail::n_and_count(line);
            if (walk.is_q_number(n) != (kind == 'Q'))
                throw fault(number, "n = " + std::to_string(n) + " is not a" +
                                        (kind == 'Q' ? " Q" : "n F") +
                                        "-number for p = " + std::to_string(p));
            const std::uint64_t want = expected(n, walk.at(n));
            if (count != want)
                throw fault(number, "the count is not " + what_count + " = " +
                                        std::to_string(want) + " (counted afresh)");
        });
    const std::uint64_t want = expected(summary.N, walk.at(summary.N));
    if (summary.count != want)
        throw fault(number + 1, "the summary count is not " +
                                    std::string(kind == 'Q' ? "C(N)" : "N - C(N)") + " = " +
                                    std::to_string(want) + " (counted afresh)");
}

}  // namespace morvane
