// One window of a task scanned by the fast engine in this process, its
// records kept for the check (window_check.hpp) before the task merges them.
#pragma once

#include <atomic>
#include <vector>

#include "arith/prime_set.hpp"
#include "engine/fast_scan.hpp"
#include "engine/scan_state.hpp"
#include "run/run_file.hpp"
#include "windows/record.hpp"
#include "windows/run_join.hpp"
#include "windows/window_scan.hpp"

namespace morvane {

// The records in the window [a, N] of a run whose running extremes at a were
// maxQ and minE, and C(N); the sink of the fast scan. With the runs, also the
// record runs of the window's own run (cut to [a, N]) from a longest run given
// (0: as its file shows them), the Q-numbers at its end and, where the caller
// counts them, at its start, for the join (run_join.hpp).
template <class Profile>
struct WindowRecords {
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    Count a = 0, N = 0, count = 0;
    Real maxQ = Profile::Density::q_start(), minE = Real(0);
    std::vector<Record<Profile>> q, f;
    std::vector<RunRecord> runs;
    std::uint64_t tail = 0, lead = 0;

    bool q_record(Count n, Count c, const Real& e) {
        q.push_back({n, c, e});
        return true;
    }
    bool f_record(Count n, Count c, const Real& e) {
        f.push_back({n, c, e});
        return true;
    }
};


// The window [a, b] scanned as the run that has reached maxQ and minE before a
// scans it: from the thresholds, as `PROGRAM p b a`, for the first window of a
// task; from the task's records so far for the others, so that only the
// records of the task's own run are found (and checked).
// With `stop`, the window is scanned in chunks (window_scan.hpp) and the scan
// ends early once stop is set: the records are then not the window's, and
// *stopped says so. With `runs`, the record runs too, those longer than
// `longest_run`.
template <class Profile>
WindowRecords<Profile> scan_window(const PrimeSet& set, typename Profile::Count a,
                                   typename Profile::Count b, const typename Profile::Real& maxQ,
                                   const typename Profile::Real& minE,
                                   const std::atomic<bool>* stop = nullptr,
                                   bool* stopped = nullptr, bool runs = false,
                                   std::uint64_t longest_run = 0) {
    WindowRecords<Profile> w;
    w.a = a;
    w.N = b;
    w.maxQ = maxQ;
    w.minE = minE;
    ScanState<Profile> state;
    state.maxQ = maxQ;
    state.minE = minE;
    state.runs.longest = longest_run;
    if (runs) {
        // The chunked scan leaves the run open at b open: its length is the
        // tail, then it is closed at b as the window's own run closes it.
        const std::atomic<bool> never = false;
        RunList list{w.runs};
        WithRuns<WindowRecords<Profile>, RunList> sink{w, list};
        const bool whole = (!stop || !*stop) &&
                           scan_window(set, a > 1 ? a : 1, b, scan_chunk, state, sink,
                                       stop ? *stop : never);
        if (stopped) *stopped = !whole;
        w.tail = state.runs.open;
        finish_runs(state.runs, b, list);
    } else if (stop) {
        // A window lies within one period of the excess: nothing is cut. The
        // chunked scan looks at the flag between chunks only.
        const bool whole =
            !*stop && scan_window(set, a > 1 ? a : 1, b, scan_chunk, state, w, *stop);
        if (stopped) *stopped = !whole;
    } else {
        fast_scan<Profile>(set, b, a, state, w);  // the sink takes every record
    }
    w.count = state.count;
    return w;
}

}  // namespace morvane
