// The record runs of one run from those of its windows, joined in window
// order.
//
// A window [a, b] scanned on its own cuts its runs to [a, b]: the run open at
// a counts from a, and the run open at b counts to b. Its records are the runs
// that beat every run before them in the window. Every record of the whole run
// that lies inside one window is a record of that window (it beats every run
// before it in the run, and the window's first run is no longer than the
// run's), so the whole run's records are:
// - the run across each window edge: the Q-numbers open at the end of the
//   windows before (`open`) joined with those at the start of the next, a
//   record when it beats everything before it;
// - the window records that lie wholly inside their window and beat the
//   longest run so far.
// A window that is all Q-numbers only lengthens the open run. The records at a
// window's start are its first line (n = a); the Q-numbers at its end, its
// `tail`, come with the window: from the scan's open run, or counted back
// from b for a window's file (run_tail.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/run_file.hpp"

namespace morvane {

// A record run: L Q-numbers from n.
struct RunRecord {
    std::uint64_t n, length;
    bool operator==(const RunRecord&) const = default;
};

class RunJoin {
public:
    // The next window [a, b] (a just after the last window's end): its
    // records as its own run's file shows them (the last one maybe the run
    // open at b, closed there), and the Q-numbers at its end. False when the
    // records and the tail disagree: a record that ends at b is that run, as
    // long as the tail.
    bool add(std::uint64_t a, std::uint64_t b, const std::vector<RunRecord>& window,
             std::uint64_t tail) {
        if (a == 0) a = 1;
        const std::uint64_t lead = !window.empty() && window[0].n == a ? window[0].length : 0;
        return add(a, b, lead, window, tail);
    }

    // The same for a window whose run began from a longest run of its own, so
    // that it lists only the runs longer than that (a task's windows start
    // from the longest run of those before them): the Q-numbers at its start,
    // `lead`, come apart, and a record at a, where there is one, is that run.
    bool add(std::uint64_t a, std::uint64_t b, std::uint64_t lead,
             const std::vector<RunRecord>& window, std::uint64_t tail) {
        if (a == 0) a = 1;  // a window of a run from nmin 0 starts at 1
        std::size_t i = !window.empty() && window[0].n == a;
        if (i && window[0].length != lead) return false;
        if (lead == b - a + 1) {  // all Q-numbers: the open run goes on
            if (tail != lead || window.size() != i) return false;
            open_ += lead;
            return true;
        }
        close(a + lead, open_ + lead);
        for (; i < window.size(); ++i) {
            const RunRecord& r = window[i];
            if (r.n + r.length - 1 == b) {  // the tail: it stays open
                if (r.length != tail || i + 1 != window.size()) return false;
                break;
            }
            if (r.length > longest_) {
                longest_ = r.length;
                records_.push_back(r);
            }
        }
        open_ = tail;
        return true;
    }

    // The run ends at N: the run open there counts to it.
    void finish(std::uint64_t N) { close(N + 1, open_); }
    // The whole run stopped early where nothing beyond could be a record (a
    // set's period, fast_scan.hpp): the run open there is no record.
    void drop_open() { open_ = 0; }

    const std::vector<RunRecord>& records() const { return records_; }
    std::uint64_t longest() const { return longest_; }
    std::uint64_t open() const { return open_; }
    // The records with the run open at the end closed at `end`, as the file of
    // the run up to end shows them, and its longest run.
    std::vector<RunRecord> records_closed_at(std::uint64_t end) const {
        RunJoin copy = *this;
        copy.finish(end);
        return copy.records_;
    }

private:
    // A run of `length` that ends before n.
    void close(std::uint64_t n, std::uint64_t length) {
        open_ = 0;
        if (length <= longest_) return;
        longest_ = length;
        records_.push_back({n - length, length});
    }

    std::vector<RunRecord> records_;
    std::uint64_t longest_ = 0, open_ = 0;
};

// The record runs of a scan kept in a list: a sink's run_record.
struct RunList {
    std::vector<RunRecord>& runs;
    bool run_record(std::uint64_t n, std::uint64_t length) {
        runs.push_back({n, length});
        return true;
    }
};

// A run file's lines: "n L" for each record (run_line), then the summary
// "N Lmax".
inline std::string run_file_text(const std::vector<RunRecord>& records, std::uint64_t N) {
    std::string text;
    for (const RunRecord& r : records) text += run_line(r.n, r.length);
    return text + run_line(N, records.empty() ? 0 : records.back().length);
}

}  // namespace morvane
