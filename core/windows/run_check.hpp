// A file of record runs checked on its own, without scanning: every n of each
// record run is proved a Q-number by a q^K that divides it, the number just
// before the run (if at least nmin) and the one just after it (if at most N)
// are proved F-numbers (power_divisor.hpp), and the lines follow the rules of
// a run file (run_file_reader.hpp): the records rise and the summary holds the
// last one. A record made one longer, or moved by one, fails one of these.
// That no longer run lies between the records is what the scan found; the
// double check of a window run scans it a second time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arith/power_divisor.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/run_file_reader.hpp"
#include "windows/run_join.hpp"

namespace morvane {

// The fault of record run r of a run over [nmin, N], or an empty text.
inline std::string run_record_fault(const PowerDivisor& divisor, std::uint64_t nmin,
                                    std::uint64_t N, const RunRecord& r) {
    for (std::uint64_t i = 0; i < r.length; ++i)
        if (divisor(r.n + i) == 0)
            return "n = " + std::to_string(r.n + i) + ", in the run, is not a Q-number";
    const auto q_number = [&](std::uint64_t n, const char* where) {
        const std::uint64_t q = divisor(n);
        return q == 0 ? std::string()
                      : "n = " + std::to_string(n) + ", just " + where +
                            " the run, is a Q-number (divisible by " + std::to_string(q) + "^" +
                            std::to_string(divisor.power()) + ")";
    };
    if (r.n > nmin && r.n > 1)
        if (std::string fault = q_number(r.n - 1, "before"); !fault.empty()) return fault;
    if (r.n + r.length <= N) return q_number(r.n + r.length, "after");
    return {};
}

// The first fault of a window's record runs, or an empty text: each run inside
// [a, b] and rising as in a run file, its numbers Q-numbers and its neighbours
// inside the window F-numbers, and `tail` the Q-numbers counted back from b.
inline std::string run_window_fault(const PowerDivisor& divisor, std::uint64_t a, std::uint64_t b,
                                    const std::vector<RunRecord>& runs, std::uint64_t tail) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunRecord& r = runs[i];
        std::string fault = detail::run_order_fault(r, i ? &runs[i - 1] : nullptr, a);
        if (fault.empty() && r.n + (r.length - 1) > b) fault = "the run ends beyond the window";
        if (fault.empty()) fault = run_record_fault(divisor, a, b, r);
        if (!fault.empty()) return "record run at n = " + std::to_string(r.n) + ": " + fault;
    }
    const std::uint64_t afresh = run_tail(divisor, a, b);
    if (tail != afresh)
        return "the run open at the window's end is " + std::to_string(tail) +
               " Q-numbers, counted afresh " + std::to_string(afresh);
    return {};
}

// Checks the run file at path, of the set's run from nmin; throws MergeRefusal
// naming the line of the first fault. Only reads the file.
inline void check_run_file(const PrimeSet& set, std::uint64_t nmin, const std::string& path) {
    std::optional<PowerDivisor> divisor;
    read_run_file(path, nmin, [&](std::uint64_t line, const RunRecord& r, std::uint64_t N) {
        if (!divisor) divisor.emplace(set, N);
        const std::string fault = run_record_fault(*divisor, nmin, N, r);
        if (!fault.empty()) throw MergeRefusal(path, "line " + std::to_string(line) + ": " + fault);
    });
}

}  // namespace morvane
