// A run scanned in memory as consecutive windows, on one thread or several,
// its records merged as morvane-merge merges the files of window runs.
//
// Window [a, b] is the fast scan of its own run "p b a"; every record of the
// whole run is a record of its window's run, so the run's records are the
// window records, in window order, that beat the records kept before them
// (RecordMerge); the record runs, where asked for, are joined in window order
// (RunJoin). Windows of a bounded length also bound how long the
// scan goes without looking at its stop flag: the flag is looked at at every
// record and between chunks of a window, and a window far out costs only its
// own length and one count by inclusion and exclusion.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/fast_scan.hpp"
#include "engine/q_count.hpp"
#include "run/run_file.hpp"
#include "windows/record.hpp"
#include "windows/record_merge.hpp"
#include "windows/run_join.hpp"

namespace morvane {

// What the record files of a run hold: the Q and F records, and the record
// runs where they were asked for (morvane-x -r).
template <class Profile>
struct RunRecords {
    std::vector<Record<Profile>> q, f;
    std::uint64_t q_total = 0;  // C(N)
    std::optional<std::vector<RunRecord>> runs;
};

// A fast-scan sink that keeps every record and stops the scan once `stop` is set.
template <class Profile>
class RecordCollector {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    explicit RecordCollector(const std::atomic<bool>& stop) : stop_(stop) {}

    bool q_record(Count n, Count count, const Real& e) {
        q.push_back({n, count, e});
        return !stop_.load(std::memory_order_relaxed);
    }
    bool f_record(Count n, Count f_count, const Real& e) {
        f.push_back({n, f_count, e});
        return !stop_.load(std::memory_order_relaxed);
    }

    std::vector<Record<Profile>> q, f;

private:
    const std::atomic<bool>& stop_;
};

// The engine scans a window in chunks of 2^28 n and looks at the stop flag
// between them: about 0.015 s for most p and up to 0.15 s for p = 3, the
// slowest, so that a stop is seen within a fraction of a second. Chunks cost
// nothing but the engine's set-up; a window also costs the count below it,
// milliseconds far out (6 ms at 10^18 for p = 97), so one thread scans the run
// as one window, and several cut it into four windows per thread, none shorter
// than 2^30 n.
inline constexpr std::uint64_t scan_chunk = std::uint64_t{1} << 28;
inline constexpr std::uint64_t shortest_scan_window = std::uint64_t{1} << 30;

inline std::uint64_t scan_window_length(std::uint64_t length, unsigned jobs) {
    if (jobs <= 1) return length;
    return std::max(length / (4 * std::uint64_t{jobs}) + 1, shortest_scan_window);
}

// The run "p b a" of window [a, b] (1 <= a <= b, no record possible beyond b),
// as fast_scan runs it: the count below a without walking, then the engine,
// here in chunks of `chunk` n. The engine carries nothing from one chunk to the
// next but the scan state, so the chunks find what one scan finds. Returns false
// when the sink stopped the scan or `stop` was set between chunks.
template <class Profile, class Sink>
bool scan_window(const PrimeSet& set, std::uint64_t a, std::uint64_t b, std::uint64_t chunk,
                 ScanState<Profile>& state, Sink& sink, const std::atomic<bool>& stop) {
    using Count = typename Profile::Count;
    FastScan<Profile> engine(set, b);
    state.count = static_cast<Count>(count_q_numbers(a - 1, set));
    for (std::uint64_t from = a;; from += chunk) {
        const std::uint64_t to = b - from < chunk ? b : from + chunk - 1;
        if (!engine.scan(from, to, state, sink)) return false;
        if (to == b) return true;
        if (stop.load(std::memory_order_relaxed)) return false;
    }
}

namespace detail {

// The windows of [first, last] of `length` n each (the last one shorter), handed
// out to the threads in order and merged in order as they come back.
template <class Profile>
class WindowRun {
public:
    WindowRun(const PrimeSet& set, std::uint64_t first, std::uint64_t last, std::uint64_t length,
              std::uint64_t chunk, bool runs)
        : set_(set),
          first_(first),
          last_(last),
          length_(length),
          chunk_(chunk),
          windows_((last - first) / length + 1),
          runs_(runs) {}

    // Scans windows until none is left or the run is stopped.
    void work() {
        try {
            while (!stop_.load()) {
                const std::uint64_t k = next_++;
                if (k >= windows_) return;
                const std::uint64_t a = first_ + k * length_;
                const std::uint64_t b = last_ - a < length_ ? last_ : a + length_ - 1;
                RecordCollector<Profile> sink(stop_);
                ScanState<Profile> state = start_state();
                Window window{a, b, {}, {}, 0, {}, 0};
                RunList list{window.runs};
                WithRuns<RecordCollector<Profile>, RunList> with_runs{sink, list};
                if (!(runs_ ? scan_window<Profile>(set_, a, b, chunk_, state, with_runs, stop_)
                            : scan_window<Profile>(set_, a, b, chunk_, state, sink, stop_)))
                    return;
                // The run open at b is the window's tail, closed there as the
                // window's own run closes it (run_join.hpp).
                window.tail = state.runs.open;
                finish_runs(state.runs, b, list);
                window.q = std::move(sink.q);
                window.f = std::move(sink.f);
                window.count = state.count;
                merge(k, std::move(window));
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!error_) error_ = std::current_exception();
            stop_ = true;
            done_.notify_all();
        }
    }

    // Waits until every window is merged, calling keep_going() every tenth of a
    // second meanwhile; when it returns false the run stops. True when the run
    // is complete.
    template <class KeepGoing>
    bool wait(KeepGoing&& keep_going) {
        std::unique_lock lock(mutex_);
        while (merged_ < windows_ && !stop_) {
            if (done_.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::timeout) {
                lock.unlock();
                const bool go_on = keep_going();
                lock.lock();
                if (!go_on) stop_ = true;
            }
        }
        return merged_ == windows_;
    }

    void stop() { stop_ = true; }
    std::exception_ptr error() const { return error_; }
    RunRecords<Profile>& records() { return records_; }
    RunJoin& runs() { return runs_join_; }

private:
    // A window's scan may start from the extremes of the records merged so far,
    // those of the windows before it or of fewer: they lie at or below the
    // whole run's extremes at the window's start, so the window still records
    // every n that may be a record of the run, and fewer that are not (none on
    // one thread, where every window before it is merged). The merge then
    // keeps the records that beat the run's extremes.
    ScanState<Profile> start_state() {
        const std::lock_guard lock(mutex_);
        return merge_.kept();
    }

    struct Window {
        std::uint64_t a, b;
        std::vector<Record<Profile>> q, f;
        std::uint64_t count;  // C(b)
        std::vector<RunRecord> runs;
        std::uint64_t tail;  // the Q-numbers at its end
    };

    void merge(std::uint64_t k, Window&& window) {
        const std::lock_guard lock(mutex_);
        pending_.emplace(k, std::move(window));
        for (auto at = pending_.begin(); at != pending_.end() && at->first == merged_;
             at = pending_.erase(at)) {
            for (auto& r : at->second.q)
                if (merge_.keeps_q(r.e)) records_.q.push_back(std::move(r));
            for (auto& r : at->second.f)
                if (merge_.keeps_f(r.e)) records_.f.push_back(std::move(r));
            records_.q_total = at->second.count;
            const Window& w = at->second;
            if (runs_) runs_join_.add(w.a, w.b, w.runs, w.tail);
            ++merged_;
        }
        if (merged_ == windows_) done_.notify_all();
    }

    const PrimeSet set_;
    const std::uint64_t first_, last_, length_, chunk_, windows_;
    const bool runs_;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    std::map<std::uint64_t, Window> pending_;  // scanned, not yet merged
    std::uint64_t merged_ = 0;
    RecordMerge<Profile> merge_;
    RunRecords<Profile> records_;
    RunJoin runs_join_;
    std::exception_ptr error_;
};

}  // namespace detail

// The records of the run of `set` to N from nmin (checked arguments), scanned as windows of
// `length` n (0: scan_window_length) on `jobs` threads, each in chunks of
// `chunk` n (0: scan_chunk), the same records as the run writes (with `runs`, the record runs
// too, as morvane-x -r finds them). The calling thread only waits, and
// calls keep_going() about every tenth of a second; once that returns false, the threads stop
// within a window and nothing is returned. An exception from a thread or from keep_going() comes
// out here after every thread has ended.
template <class Profile>
std::optional<RunRecords<Profile>> scan_windows(const PrimeSet& set, typename Profile::Count N,
                                                typename Profile::Count nmin, unsigned jobs,
                                                std::uint64_t length, std::uint64_t chunk,
                                                const std::function<bool()>& keep_going,
                                                bool runs = false) {
    const std::uint64_t first = nmin > 1 ? nmin : 1;
    const std::uint64_t last = last_record_n<Profile>(set, first, N, runs);
    if (jobs < 1) jobs = 1;
    if (length == 0) length = scan_window_length(last - first + 1, jobs);
    if (chunk == 0) chunk = scan_chunk;
    detail::WindowRun<Profile> run(set, first, last, length, chunk, runs);

    std::vector<std::thread> threads;
    struct Joiner {  // every thread ends before the run goes, whatever happens
        detail::WindowRun<Profile>& run;
        std::vector<std::thread>& threads;
        ~Joiner() {
            run.stop();
            for (auto& t : threads)
                if (t.joinable()) t.join();
        }
    } joiner{run, threads};
    for (unsigned j = 0; j < jobs; ++j) threads.emplace_back([&run] { run.work(); });
    const bool complete = run.wait(keep_going);
    run.stop();
    for (auto& t : threads) t.join();
    if (run.error()) std::rethrow_exception(run.error());
    if (!complete) return std::nullopt;
    RunRecords<Profile> records = std::move(run.records());
    if (last != N) records.q_total = count_q_numbers(N, set);
    if (runs) {
        // Cut at a period, the run open there is no record (fast_scan.hpp).
        if (last != N) run.runs().drop_open();
        run.runs().finish(last);
        records.runs = run.runs().records();
    }
    return records;
}

}  // namespace morvane
