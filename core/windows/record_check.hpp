// Checking the record files of a run against an independent count, without
// scanning again.
//
// A record file is read as the merge reads it (record_file_reader.hpp): every
// line exactly as the program prints it, its excess recomputed from n and the
// count in the program's own arithmetic, the first record above its threshold,
// the records strictly rising. On top of that, every count is compared with
// C(n) counted afresh, never by the engine's sieve or a file's own counts: a count that a fault changed together with its
// printed excess passes every other test.
//
// C walks along the file's ascending n (count_walk.hpp): the records bunched at
// a window's start are counted by marking the blocks they lie in, the far ones
// afresh at their block.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "windows/count_walk.hpp"
#include "windows/record_file_reader.hpp"

namespace morvane {

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

// Checks one record file of `program`, Q or F as its name says, with the set
// from its name and what is given beside it (as the merge takes them) and nmin
// from its name.
// Throws MergeRefusal for the first fault, naming the file and, for a fault in
// its lines, the line. Only reads the file.
template <class Profile>
void check_record_file(const std::string& program, NameArguments given,
                       const std::string& path) {
    using Count = typename Profile::Count;
    const auto name = read_record_name(path);
    if (!name) throw MergeRefusal(path, record_name_fault);
    const PrimeSet set = set_of_name<Profile>(name->p_text, given, path);
    const auto nmin = read_printed_count<Count>(name->nmin_text);
    if (!nmin)
        throw MergeRefusal(
            path, "the nmin in the name, " + name->nmin_text + ", is not a count of " + program);
    const char kind = name->kind;
    const typename Profile::Density density(set);
    ProgramLines<Profile> lines;
    CountWalk walk(set);
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
                                        "-number for p = " + bound_text(set) +
                                        (set.k == 2 ? "" : ", k = " + std::to_string(set.k)));
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
