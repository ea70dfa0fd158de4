// The file of record runs of one run from those of its windows' runs, each
// read and checked as a run file (run_file_reader.hpp), its run open at its
// end counted back from its N, and all joined in window order (run_join.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arith/power_divisor.hpp"
#include "arith/prime_set.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/run_file_reader.hpp"
#include "windows/run_join.hpp"

namespace morvane {

// A window's run file: the window's nmin and N, as its record files give them.
struct RunWindow {
    std::uint64_t nmin, N;
    std::string path;
};

// The text of the whole run's file, from the windows in order, consecutive.
// With `through`, the last window ends where nothing beyond can be a record
// (fast_scan.hpp's last_record_n) and the run goes on to `through`. Throws
// MergeRefusal for a damaged file or one that disagrees with its window.
inline std::string merge_run_files(const PrimeSet& set, const std::vector<RunWindow>& windows,
                                   std::optional<std::uint64_t> through) {
    const PowerDivisor divisor(set, windows.back().N);
    RunJoin join;
    for (const RunWindow& w : windows) {
        const std::uint64_t a = w.nmin > 1 ? w.nmin : 1;
        const RunFileContent content = read_run_file(w.path, w.nmin);
        if (content.N != w.N)
            throw MergeRefusal(w.path, "its N = " + std::to_string(content.N) +
                                           " is not that of its record files, " +
                                           std::to_string(w.N));
        if (!join.add(a, w.N, content.records, run_tail(divisor, a, w.N)))
            throw MergeRefusal(w.path, "its last record run is not the run of Q-numbers at its N");
    }
    if (through) {
        join.drop_open();
        return run_file_text(join.records(), *through);
    }
    return run_file_text(join.records_closed_at(windows.back().N), windows.back().N);
}

}  // namespace morvane
