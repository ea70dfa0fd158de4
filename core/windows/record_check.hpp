// Checking the record files of a run against an independent count, without
// scanning again.
//
// A record file is read as the merge reads it (window_file.hpp): every line
// exactly as the program prints it, its excess recomputed from n and the count
// in the program's own arithmetic, the first record above its threshold, the
// records strictly rising. On top of that, every count is compared with C(n)
// counted afresh (count_afresh.hpp), never by the engine's sieve or a file's
// own counts: a count that a fault changed together with its printed excess
// passes every other test.
//
// C walks along the file's ascending n (count_walk.hpp): the records bunched at
// a window's start are counted by marking the blocks they lie in, the far ones
// afresh at their block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "windows/count_afresh.hpp"
#include "windows/printed_count.hpp"
#include "windows/record_name.hpp"
#include "windows/run_check.hpp"
#include "windows/window_file.hpp"

namespace morvane {

namespace detail {

// A record's count fault in the words of morvane-check.
inline std::string check_count_text(CountFault fault, char kind, std::uint64_t n,
                                    std::uint64_t afresh, const PrimeSet& set) {
    if (fault == CountFault::kind)
        return "n = " + std::to_string(n) + " is not a" + (kind == 'Q' ? " Q" : "n F") +
               "-number for p = " + bound_text(set) +
               (set.k == 2 ? "" : ", k = " + std::to_string(set.k));
    return std::string("the count is not ") + (kind == 'Q' ? "C(n)" : "n - C(n)") + " = " +
           std::to_string(afresh) + " (counted afresh)";
}

}  // namespace detail

// Checks one record file of `program`, Q, F or record runs as its name says
// (run_check.hpp for the last), with the set
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
    if (kind == 'R') {
        if constexpr (!Profile::any_set)
            throw MergeRefusal(path, run_file_program_fault);
        return check_run_file(set, *nmin, path);
    }
    const typename Profile::Density density(set);
    ProgramLines<Profile> lines;
    CountWalk walk(set);
    std::uint64_t number = 0;  // record lines come first, one per line
    const auto fault = [&](std::uint64_t at, const std::string& what) {
        return MergeRefusal(path, "line " + std::to_string(at) + ": " + what);
    };
    const auto summary = read_window_file<Profile>(
        path, kind, *nmin, density, lines, program,
        [&](std::string_view, const Record<Profile>& r) {
            ++number;
            std::uint64_t afresh = 0;
            const CountFault wrong = count_fault(walk, kind, r.n, r.count, afresh);
            if (wrong != CountFault::none)
                throw fault(number, detail::check_count_text(wrong, kind, r.n, afresh, set));
        });
    const std::uint64_t want = count_afresh(walk, kind, summary.N);
    if (summary.count != want)
        throw fault(number + 1, "the summary count is not " +
                                    std::string(kind == 'Q' ? "C(N)" : "N - C(N)") + " = " +
                                    std::to_string(want) + " (counted afresh)");
}

}  // namespace morvane
