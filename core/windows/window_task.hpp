// One task of a window run: a consecutive stretch of windows, scanned one after
// the other by the fast engine in this process, each window's records checked
// and then merged into the task's two record files, the checkpoint.
//
// The checkpoint is the pair of files that the run over the task's stretch, up
// to the end of the last window merged, would write (`PROGRAM p b a`, a the
// stretch's start): the merge of its windows is exact for the reason the final
// merge is (record_merge.hpp). After a window each file is written anew beside
// its name and renamed over it, so that a task stopped at any moment leaves a
// whole checkpoint, and loses at most the window it was in; started again, it
// goes on after the last window its files hold. Windows shorter than twenty
// times what a replacement takes (a millisecond or so on a local disk) are
// merged in memory and written with a later one, so that the checkpoint never
// takes more than a twentieth of the task's time; a stop then loses those too.
// The Q and F files are renamed one after the other, so they may stand one
// window apart: each goes on from its own.
//
// Each window is scanned from the running extremes of the task's records so
// far, so that it finds the records of the task's run and no others. They are
// checked before they are merged, from n and the count alone, as morvane-check
// checks a file: every count against C(n) counted afresh, every excess
// recomputed, each record beating the one before, and the count at the
// window's end. A window that fails is reported and scanned again, never merged.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/fast_scan.hpp"
#include "engine/scan_state.hpp"
#include "windows/record_check.hpp"
#include "windows/record_file_reader.hpp"
#include "windows/replacing_file.hpp"
#include "windows/run_plan.hpp"
#include "windows/window_scan.hpp"

namespace morvane {

// A record as the scan finds it: n, the count the line shows (C(n) in a Q
// line, n - C(n) in an F line) and the excess at n.
template <class Profile>
struct FoundRecord {
    typename Profile::Count n, count;
    typename Profile::Real e;
};

// The records in the window [a, N] of a run whose running extremes at a were
// maxQ and minE, and C(N); the sink of the fast scan.
template <class Profile>
struct WindowRecords {
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    Count a = 0, N = 0, count = 0;
    Real maxQ = Profile::Density::q_start(), minE = Real(0);
    std::vector<FoundRecord<Profile>> q, f;

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
// *stopped says so.
template <class Profile>
WindowRecords<Profile> scan_window(const PrimeSet& set, typename Profile::Count a,
                                   typename Profile::Count b, const typename Profile::Real& maxQ,
                                   const typename Profile::Real& minE,
                                   const std::atomic<bool>* stop = nullptr,
                                   bool* stopped = nullptr) {
    WindowRecords<Profile> w;
    w.a = a;
    w.N = b;
    w.maxQ = maxQ;
    w.minE = minE;
    ScanState<Profile> state;
    state.maxQ = maxQ;
    state.minE = minE;
    if (stop) {
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

// The first fault of a window's records, or an empty text: each count is C(n)
// (or n - C(n)) counted afresh along the window's n, as morvane-check counts
// (record_check.hpp), each n a Q- or F-number as its kind says, each excess
// the one the profile computes from n and that count, each record inside the
// window, above the one before and beating it (the first beating the extreme
// the window started from); and C(N) at the end.
template <class Profile>
std::string window_fault(const typename Profile::Density& density, const PrimeSet& set,
                         const WindowRecords<Profile>& w) {
    using Count = typename Profile::Count;
    CountWalk walk(set);
    ScanState<Profile> state;
    state.maxQ = w.maxQ;
    state.minE = w.minE;
    Count last[2] = {0, 0};
    // Both kinds in ascending n, for the walk.
    std::size_t i = 0, j = 0;
    while (i < w.q.size() || j < w.f.size()) {
        const bool is_q = j == w.f.size() || (i < w.q.size() && w.q[i].n < w.f[j].n);
        const auto& r = is_q ? w.q[i++] : w.f[j++];
        const char kind = is_q ? 'Q' : 'F';
        Count& before = last[is_q ? 0 : 1];
        const std::string at = std::string(1, kind) + " record at n = " + std::to_string(r.n);
        if (r.n < w.a || r.n > w.N || r.n == 0 || r.n <= before)
            return at + ": n is outside the window or not above the record before it";
        if (walk.is_q_number(r.n) != is_q)
            return at + ": n is not a" + std::string(is_q ? " Q" : "n F") + "-number";
        const auto c = static_cast<Count>(walk.at(r.n));
        const Count shown = is_q ? c : r.n - c;
        if (r.count != shown)
            return at + ": the count is " + std::to_string(r.count) + ", counted afresh " +
                   std::to_string(shown);
        const auto e = density.excess(r.n, c);
        if (!(e == r.e)) return at + ": the excess is not the one computed from n and C(n)";
        if (is_q ? !(e > state.maxQ) : !(e < state.minE))
            return at + ": the excess does not beat the records before it";
        (is_q ? state.maxQ : state.minE) = e;
        before = r.n;
    }
    const auto c = static_cast<Count>(walk.at(w.N));
    if (w.count != c)
        return "the count at N = " + std::to_string(w.N) + " is " + std::to_string(w.count) +
               ", counted afresh " + std::to_string(c);
    return {};
}

// A record file read back as the records of the run [nmin, its N]; throws
// MergeRefusal for a damaged or incomplete file.
template <class Profile>
void read_records(const std::string& path, char kind, typename Profile::Count nmin,
                  const typename Profile::Density& density, ProgramLines<Profile>& lines,
                  const std::string& program, WindowRecords<Profile>& into) {
    using Count = typename Profile::Count;
    auto& list = kind == 'Q' ? into.q : into.f;
    list.clear();
    const auto summary = read_window_file<Profile>(
        path, kind, nmin, density, lines, program, [&](std::string_view line, const auto& e) {
            const auto space = line.find(' ');
            const auto second = line.find(' ', space + 1);
            // The reader has checked both fields.
            const Count n = *read_printed_count<Count>(line.substr(0, space));
            const Count c = *read_printed_count<Count>(line.substr(space + 1, second - space - 1));
            list.push_back({n, c, e});
        });
    into.a = nmin;
    into.N = summary.N;
    into.count = kind == 'Q' ? summary.count : summary.N - summary.count;
}

namespace detail {

// One of a task's two files in memory: the record lines kept so far and the
// running extreme they leave.
template <class Profile>
struct KindCheckpoint {
    char kind;
    std::vector<std::string> lines;  // newline included
    typename Profile::Real extreme;  // maxQ or minE
    std::uint64_t next;              // the first window it does not hold
    std::string summary = {};        // of its last window
    bool unwritten = false;          // it holds windows its file does not
};

inline double unix_time() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Stale temporaries of a file, left by a task killed while writing it.
inline void remove_temporaries(const std::string& target) {
    const std::filesystem::path path(target);
    const std::string prefix = "." + path.filename().string() + ".merge-";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            std::filesystem::remove(entry.path(), error);
    }
}

template <class Profile>
std::string summary_line(typename Profile::Count N, typename Profile::Count count) {
    using Printed = typename Profile::Printed;
    char text[64];
    std::snprintf(text, sizeof text, Profile::summary_format, Printed(N), Printed(count));
    return text;
}

// The last line of a task's log that begins with "window": its numbers.
struct LogTotals {
    std::uint64_t window = 0, end = 0;
    double seconds = 0;   // of the windows the task has scanned, all sessions
    std::uint64_t n = 0;  // n in those windows
    double time = 0;      // when the last of them was merged
    bool found = false;
    double start_time = 0;  // when the last session began
};

inline LogTotals last_log_totals(const std::string& path) {
    LogTotals totals;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return totals;
    // The last few lines are enough: each is well under 200 bytes.
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, size > 4096 ? size - 4096 : 0, SEEK_SET);
    char line[512];
    while (std::fgets(line, sizeof line, file)) {
        LogTotals t;
        unsigned long long window, end, n;
        long pid;
        double start;
        if (std::sscanf(line, "window %llu %llu %lf %llu %lf", &window, &end, &t.seconds, &n,
                        &t.time) == 5) {
            t.window = window;
            t.end = end;
            t.n = n;
            t.found = true;
            t.start_time = totals.start_time;
            totals = t;
        } else if (std::sscanf(line, "start %ld %lf", &pid, &start) == 2) {
            totals.start_time = start;
        }
    }
    std::fclose(file);
    return totals;
}

// The start time of a process (in clock ticks since boot, /proc/PID/stat's
// 22nd field), or -1 when it has ended, is a zombie, or cannot be read. With
// the pid it names one process: a pid used again has another start time.
inline long long process_start(int pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    std::FILE* file = std::fopen(path, "r");
    if (!file) return -1;
    char text[1024];
    const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[got] = 0;
    // The command name, in parentheses, may hold spaces and parentheses.
    const char* after = std::strrchr(text, ')');
    char state = 0;
    long long start = -1;
    if (!after || std::sscanf(after + 1,
                              " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d "
                              "%*d %*d %*d %lld",
                              &state, &start) != 2)
        return -1;
    return state == 'Z' || state == 'X' ? -1 : start;
}

// Sets `stop` once the driver (a morvane-par, by pid) or the task's parent (GNU
// parallel, or a shell under it) has ended, looking five times a second. A
// process killed with SIGKILL leaves its children running; they must not scan
// on for the rest of their window, holding the run's lock and its cores.
class DriverWatch {
public:
    DriverWatch(int driver, std::atomic<bool>& stop)
        : parent_(getppid()),
          driver_(driver),
          driver_start_(driver > 0 ? process_start(driver) : 0),
          thread_([this, &stop](std::stop_token token) {
              std::mutex mutex;
              std::unique_lock lock(mutex);
              std::condition_variable_any wake;
              // Woken early when the task ends and the thread is asked to stop.
              while (!wake.wait_for(lock, token, std::chrono::milliseconds(200),
                                    [&] { return token.stop_requested(); }))
                  if (ended()) {
                      stop = true;
                      return;
                  }
          }) {}

    bool ended() const {
        if (getppid() != parent_) return true;
        return driver_ > 0 && (driver_start_ < 0 || process_start(driver_) != driver_start_);
    }

private:
    const pid_t parent_;
    const int driver_;
    const long long driver_start_;
    std::jthread thread_;  // last: started once the rest is set
};

}  // namespace detail

// What a task needs besides the plan: where its messages go, how often the
// checkpoint goes to the disk (a process killed loses nothing written before;
// a machine that stops may lose what was not synced), and, for tests, a look
// at each window's records before they are checked.
struct TaskSettings {
    std::FILE* messages = stderr;
    // At most this long between two fsyncs of the checkpoint, and one at the
    // task's end; below 0, none (scratch files of tests).
    double sync_seconds = 1.0;
    // The share of the task's time that replacing the checkpoint may take.
    // A replacement costs about a millisecond on a local disk (ext4 writes a
    // file renamed over another out at once), more on a cluster's shared file
    // system: after a window shorter than that share allows, the checkpoint
    // waits for the next window (every_window: after each, whatever it costs).
    double checkpoint_share = 0.05;
    bool every_window = false;
    int attempts = 3;               // scans of a window whose records fail the check
    double lock_wait_seconds = 60;  // a requeued task may start while the old one ends
    // The morvane-par whose task this is: the task stops within a fraction of
    // a second once that process or the task's parent has ended, keeping the
    // windows merged so far in its checkpoint. 0: it does not look (Slurm
    // tasks are jobs of their own, and go on).
    int driver = 0;
};

// Runs task t of the plan in the work folder: status 0 when its checkpoint
// holds all its windows, 1 otherwise (the message says why).
template <class Profile, class Inspect>
int run_task(const RunPlan& plan, const std::string& work, std::uint64_t t,
             const TaskSettings& settings, Inspect&& inspect) {
    using Count = typename Profile::Count;
    const WindowPlan& windows = plan.windows;
    const std::string name = "task " + std::to_string(t);
    const auto say = [&](const std::string& what) {
        std::fprintf(settings.messages, "morvane-merge: %s: %s\n", name.c_str(), what.c_str());
        std::fflush(settings.messages);
    };
    if (t >= windows.tasks) {
        say("there are only " + std::to_string(windows.tasks) + " tasks");
        return 1;
    }
    const auto [begin, end] = windows.task_windows(t);
    const auto [a, b] = windows.task_range(t);

    // One process per task: the log is locked for the task's time.
    const std::string log_path = task_log(work, t);
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (log_fd < 0) {
        say("cannot write " + log_path + ": " + std::strerror(errno));
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    while (flock(log_fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >
            settings.lock_wait_seconds) {
            say("another process runs it (" + log_path + " is locked)");
            close(log_fd);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // Closed, and so unlocked, however the task ends.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_file(fdopen(log_fd, "a"),
                                                                   &std::fclose);
    if (!log_file) {
        close(log_fd);
        say("cannot write " + log_path);
        return 1;
    }
    std::FILE* log = log_file.get();
    const detail::LogTotals before = detail::last_log_totals(log_path);
    double total_seconds = before.seconds;
    std::uint64_t total_n = before.n;

    const typename Profile::Density density(plan.set);
    ProgramLines<Profile> lines;

    // The checkpoint, each file on its own; a damaged one starts again.
    detail::KindCheckpoint<Profile> kinds[2] = {{'Q', {}, Profile::Density::q_start(), begin},
                                                {'F', {}, typename Profile::Real(0), begin}};
    for (auto& kind : kinds) {
        const std::string path = task_file(work, plan, kind.kind, t);
        detail::remove_temporaries(path);
        if (!std::filesystem::exists(path)) continue;
        try {
            WindowRecords<Profile> held;
            read_records<Profile>(path, kind.kind, Count(a), density, lines, plan.program, held);
            const std::uint64_t k = windows.window_ending_at(held.N, begin, end);
            if (k == end)
                throw MergeRefusal(path, "its N = " + std::to_string(held.N) +
                                             " is not the end of one of the task's windows");
            const Count c = static_cast<Count>(q_count_afresh(held.N, plan.set));
            if (held.count != c)
                throw MergeRefusal(path, "the count at N = " + std::to_string(held.N) + " is " +
                                             std::to_string(held.count) + ", not " +
                                             std::to_string(c));
            for (const auto& r : kind.kind == 'Q' ? held.q : held.f) {
                kind.lines.emplace_back(lines.line(kind.kind, r.n, r.count, r.e));
                kind.extreme = r.e;
            }
            kind.next = k + 1;
        } catch (const MergeRefusal& refusal) {
            say(std::string(refusal.what()) + "; the task starts again from its first window");
        }
    }
    const std::uint64_t resume = std::min(kinds[0].next, kinds[1].next);
    std::fprintf(log, "start %ld %.3f %llu %llu %s\n", static_cast<long>(getpid()),
                 detail::unix_time(), static_cast<unsigned long long>(resume),
                 static_cast<unsigned long long>(end), engine_copy_name(chosen_engine_copy()));
    std::fflush(log);

    // Each kind's windows merged since its file was last written, written
    // anew and renamed over it; the message and false when that fails.
    const auto write_checkpoint = [&](bool sync) {
        try {
            for (auto& kind : kinds) {
                if (!kind.unwritten) continue;
                detail::TemporaryFile out(task_file(work, plan, kind.kind, t));
                for (const auto& line : kind.lines) out.write(line);
                out.write(kind.summary);
                out.finish(sync);
                out.rename_over_target();
                kind.unwritten = false;
            }
        } catch (const MergeRefusal& refusal) {
            say(refusal.what());
            return false;
        }
        return true;
    };

    std::atomic<bool> stop = false;
    std::optional<detail::DriverWatch> watch;
    if (settings.driver > 0) watch.emplace(settings.driver, stop);
    auto last_sync = std::chrono::steady_clock::now();
    auto last_write = last_sync;
    double write_seconds = 0;  // what the last replacement took
    for (std::uint64_t k = resume; k < end; ++k) {
        const auto [wa, wb] = windows.window(k);
        const auto window_start = std::chrono::steady_clock::now();
        std::optional<WindowRecords<Profile>> good;
        bool stopped = false;
        for (int attempt = 1; attempt <= settings.attempts && !good && !stopped; ++attempt) {
            WindowRecords<Profile> w =
                scan_window<Profile>(plan.set, Count(wa), Count(wb), kinds[0].extreme,
                                     kinds[1].extreme, watch ? &stop : nullptr, &stopped);
            if (stopped) break;
            inspect(k, attempt, w);
            const std::string fault = window_fault<Profile>(density, plan.set, w);
            if (fault.empty()) {
                good = std::move(w);
            } else {
                say("window " + std::to_string(k) + " [" + std::to_string(wa) + ", " +
                    std::to_string(wb) + "] fails the check (" + fault + ")" +
                    (attempt < settings.attempts ? "; it is scanned again" : "; the task stops"));
            }
        }
        if (stopped) {
            // The windows merged so far are kept; the one it was in is lost.
            write_checkpoint(settings.sync_seconds >= 0);
            say("morvane-par (pid " + std::to_string(settings.driver) +
                ") or the task's parent has ended: stopped in window " + std::to_string(k) +
                ", the windows before it kept");
            return 1;
        }
        if (!good) return 1;
        const auto now = std::chrono::steady_clock::now();
        const auto since = [&](auto then) {
            return std::chrono::duration<double>(now - then).count();
        };
        // Each record beats the one before and the checkpoint's extreme
        // (checked): all are the task run's.
        for (auto& kind : kinds) {
            if (kind.next > k) continue;  // it holds this window already
            for (const auto& r : kind.kind == 'Q' ? good->q : good->f) {
                kind.extreme = r.e;
                kind.lines.emplace_back(lines.line(kind.kind, r.n, r.count, r.e));
            }
            kind.summary = detail::summary_line<Profile>(
                good->N, kind.kind == 'Q' ? good->count : good->N - good->count);
            kind.next = k + 1;
            kind.unwritten = true;
        }
        const bool last = k + 1 == end;
        if (last || settings.every_window ||
            since(last_write) * settings.checkpoint_share >= write_seconds) {
            const bool sync =
                settings.sync_seconds >= 0 && (last || since(last_sync) >= settings.sync_seconds);
            if (!write_checkpoint(sync)) return 1;
            if (sync) last_sync = now;
            last_write = std::chrono::steady_clock::now();
            write_seconds = std::chrono::duration<double>(last_write - now).count();
        }
        total_seconds += std::chrono::duration<double>(now - window_start).count();
        total_n += wb - wa + 1;
        std::fprintf(log, "window %llu %llu %.6f %llu %.3f\n", static_cast<unsigned long long>(k),
                     static_cast<unsigned long long>(wb), total_seconds,
                     static_cast<unsigned long long>(total_n), detail::unix_time());
        std::fflush(log);
    }
    return 0;
}

}  // namespace morvane
