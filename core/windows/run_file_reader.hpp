// A file of record runs (maxrunQ_<p text>-<nmin>.txt) read whole, every line
// checked against what morvane-x -r writes: "n L" lines, each run inside
// [nmin, N], longer than the one before and starting after it and the F-number
// that ends it, then the summary "N Lmax" with the longest run (0 for none).
// And the Q-numbers at a window's end, which its file does not show unless
// they make a record, counted back from its N.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arith/power_divisor.hpp"
#include "windows/line_reader.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/printed_count.hpp"
#include "windows/run_join.hpp"

namespace morvane {

struct RunFileContent {
    std::uint64_t N = 0;
    std::vector<RunRecord> records;
};

// Why a file of record runs is refused for morvane and morvane-l.
inline constexpr const char run_file_program_fault[] =
    "a file of record runs, which only morvane-x -r writes";

namespace detail {

// "n L" as two printed counts and one space; nothing for any other text.
inline std::optional<RunRecord> run_line_form(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto n = read_printed_count<std::uint64_t>(line.substr(0, space));
    const auto length = read_printed_count<std::uint64_t>(line.substr(space + 1));
    if (!n || !length) return std::nullopt;
    return RunRecord{*n, *length};
}

// The fault of record r after `before` (nothing before the first) in a run
// from nmin, or an empty text.
inline std::string run_order_fault(const RunRecord& r, const RunRecord* before,
                                   std::uint64_t nmin) {
    if (r.length == 0) return "a run of length 0";
    if (r.n < nmin || r.n == 0) return "the run starts below nmin";
    if (r.n - 1 > ~std::uint64_t{0} - r.length) return "the run ends beyond 2^64 - 1";
    if (!before) return {};
    if (r.length <= before->length) return "the run is not longer than the record before it";
    if (r.n <= before->n + before->length)
        return "the run does not start after the record before it and the F-number that ends it";
    return {};
}

}  // namespace detail

// Reads the run file at path, of a run from nmin, and hands each record, once
// its line has passed, to visit(line number, record, N), which may throw.
// Throws MergeRefusal naming the line of the first fault.
template <class Visit>
RunFileContent read_run_file(const std::string& path, std::uint64_t nmin, Visit&& visit) {
    detail::LineReader reader(path);
    if (!reader.file)
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    RunFileContent content;
    std::vector<RunRecord>& lines = content.records;  // the summary is the last
    std::uint64_t number = 0;
    const auto at_line = [&](std::uint64_t at, const std::string& fault) {
        return MergeRefusal(path, "line " + std::to_string(at) + ": " + fault);
    };
    while (const auto got = reader.next()) {
        ++number;
        const std::string_view line = *got;
        if (line.back() != '\n')
            throw at_line(number, "incomplete: no summary line at its end (its run was stopped or failed)");
        const auto form = detail::run_line_form(line.substr(0, line.size() - 1));
        if (!form) throw at_line(number, "not a line of a run file (\"n L\")");
        lines.push_back(*form);
    }
    if (std::ferror(reader.file))
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    if (lines.empty())
        throw at_line(1, "incomplete: no summary line at its end (its run was stopped or failed)");
    const RunRecord summary = lines.back();
    lines.pop_back();
    content.N = summary.n;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string fault =
            detail::run_order_fault(lines[i], i ? &lines[i - 1] : nullptr, nmin);
        if (!fault.empty()) throw at_line(i + 1, fault);
        if (lines[i].n + (lines[i].length - 1) > summary.n)
            throw at_line(i + 1, "the run ends beyond N = " + std::to_string(summary.n));
        visit(i + 1, lines[i], content.N);
    }
    if (content.N < nmin || content.N < 2)
        throw at_line(number, "the summary line's N is below nmin or 2");
    const std::uint64_t longest = lines.empty() ? 0 : lines.back().length;
    if (summary.length != longest)
        throw at_line(number, "the summary line's longest run is not " + std::to_string(longest) +
                                  ", the last record's");
    return content;
}

inline RunFileContent read_run_file(const std::string& path, std::uint64_t nmin) {
    return read_run_file(path, nmin, [](std::uint64_t, const RunRecord&, std::uint64_t) {});
}

// The Q-numbers at the end of [a, b], counted back from b: the run open at b.
inline std::uint64_t run_tail(const PowerDivisor& divisor, std::uint64_t a, std::uint64_t b) {
    std::uint64_t tail = 0;
    while (b - tail >= a && b - tail >= 1 && divisor(b - tail) != 0) ++tail;
    return tail;
}

// The Q-numbers at the start of [a, b], counted on from a (from 1 for a
// window of a run from nmin 0).
inline std::uint64_t run_lead(const PowerDivisor& divisor, std::uint64_t a, std::uint64_t b) {
    if (a == 0) a = 1;
    std::uint64_t lead = 0;
    while (a + lead <= b && divisor(a + lead) != 0) ++lead;
    return lead;
}

}  // namespace morvane
