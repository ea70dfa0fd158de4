// How far a window run has come, read from its work folder without changing
// anything: the summary line of each task's checkpoint gives the windows and
// the n it holds, each task's log the time its windows took, and the lock a
// running task holds on its log whether it runs. The same whether the tasks
// run under GNU parallel or on Slurm.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windows/printed_count.hpp"
#include "windows/run_plan.hpp"
#include "windows/task_log.hpp"

namespace morvane {

namespace detail {

// N from the summary line at the end of a record file: the last line, when the
// file ends with a newline and that line holds two counts; else nothing.
inline std::optional<std::uint64_t> summary_N(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return std::nullopt;
    char tail[128] = {};
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    const long from = size > 100 ? size - 100 : 0;
    std::fseek(file, from, SEEK_SET);
    const std::size_t got = std::fread(tail, 1, 100, file);
    std::fclose(file);
    if (got == 0 || tail[got - 1] != '\n') return std::nullopt;
    std::string_view text(tail, got - 1);
    const auto start = text.rfind('\n');
    if (start == std::string_view::npos && from > 0) return std::nullopt;
    text = start == std::string_view::npos ? text : text.substr(start + 1);
    const auto space = text.find(' ');
    if (space == std::string_view::npos || text.find(' ', space + 1) != std::string_view::npos)
        return std::nullopt;
    const auto N = read_printed_count<std::uint64_t>(text.substr(0, space));
    if (!N || !read_printed_count<std::uint64_t>(text.substr(space + 1))) return std::nullopt;
    return N;
}

// Whether a task holds the lock on its log, as it does while it runs: 1 yes,
// 0 no, -1 when the file system cannot tell. A shared lock, taken and given
// back at once: a task starting in that instant tries again a moment later.
inline int lock_held(const std::string& log) {
    const int fd = open(log.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;  // never started
    int held = 0;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) held = errno == EWOULDBLOCK ? 1 : -1;
    close(fd);
    return held;
}

}  // namespace detail

struct TaskProgress {
    std::uint64_t windows_done = 0, windows = 0;
    std::uint64_t n_done = 0, n = 0;
    bool running = false;
};

struct RunProgress {
    std::uint64_t windows_done = 0, windows = 0;
    unsigned __int128 n_done = 0, n = 0;
    std::uint64_t tasks_done = 0, tasks = 0, running = 0;
    double seconds = 0;               // core time of the windows scanned, in all tasks
    unsigned __int128 n_timed = 0;    // the n of those windows
    std::vector<std::uint64_t> todo;  // the tasks not done
};

// Task t's progress at time `now` (seconds since the epoch).
inline TaskProgress task_progress(const RunPlan& plan, const std::string& work, std::uint64_t t,
                                  double now, detail::LogTotals& log) {
    const WindowPlan& w = plan.windows;
    const auto [begin, end] = w.task_windows(t);
    const auto [a, b] = w.task_range(t);
    TaskProgress task;
    task.windows = end - begin;
    // n = 0 names the files of a run from 0 but is not scanned.
    const std::uint64_t from = a > 1 ? a : 1;
    task.n = b - from + 1;
    // Both files must hold a window for it to be done.
    std::uint64_t held = end;
    bool any = true;
    for (const char kind : {'Q', 'F'}) {
        const auto N = detail::summary_N(task_file(work, plan, kind, t));
        const std::uint64_t k = N ? w.window_ending_at(*N, begin, end) : end;
        if (k == end) any = false;
        held = std::min(held, k);
    }
    if (any) {
        task.windows_done = held + 1 - begin;
        task.n_done = w.window(held).second - from + 1;
    }
    log = detail::last_log_totals(task_log(work, t));
    if (task.windows_done < task.windows) {
        const int held = detail::lock_held(task_log(work, t));
        if (held >= 0) {
            task.running = held == 1;
        } else {
            // Where the file system has no locks: it has started or merged a
            // window lately, within three times the time a window of it
            // takes, and half a minute.
            const double last = std::max(log.time, log.start_time);
            const double per_n = log.n > 0 ? log.seconds / double(log.n) : 0;
            const double window_seconds = per_n * double(task.n) / double(task.windows);
            task.running = last > 0 && now - last < 3 * window_seconds + 30;
        }
    }
    return task;
}

inline RunProgress run_progress(const RunPlan& plan, const std::string& work) {
    RunProgress run;
    const double now = detail::unix_time();
    run.tasks = plan.windows.tasks;
    for (std::uint64_t t = 0; t < plan.windows.tasks; ++t) {
        detail::LogTotals log;
        const TaskProgress task = task_progress(plan, work, t, now, log);
        run.windows_done += task.windows_done;
        run.windows += task.windows;
        run.n_done += task.n_done;
        run.n += task.n;
        if (task.windows_done == task.windows)
            ++run.tasks_done;
        else
            run.todo.push_back(t);
        run.running += task.running;
        run.seconds += log.seconds;
        run.n_timed += log.n;
    }
    return run;
}

// A span of seconds as people read it: "about 3 h 12 min", "about 40 s".
inline std::string duration_text(double seconds) {
    const auto s = static_cast<unsigned long long>(seconds + 0.5);
    char text[64];
    if (s >= 86400)
        std::snprintf(text, sizeof text, "about %llu d %llu h", s / 86400, s % 86400 / 3600);
    else if (s >= 3600)
        std::snprintf(text, sizeof text, "about %llu h %llu min", s / 3600, s % 3600 / 60);
    else if (s >= 60)
        std::snprintf(text, sizeof text, "about %llu min %llu s", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "about %llu s", s);
    return text;
}

inline std::string count_text(unsigned __int128 n) {
    std::string text;
    do {
        text.insert(text.begin(), char('0' + int(n % 10)));
        n /= 10;
    } while (n > 0);
    return text;
}

// The time left as a text: the n still to scan at the core time per n of the
// windows scanned so far, shared among the tasks running now.
inline std::string time_left_text(const RunProgress& run) {
    if (run.windows_done == run.windows) return "none: every window is done";
    if (run.n_timed == 0 || run.seconds <= 0) return "not known until a window has finished";
    const double core = double(run.n - run.n_done) * (run.seconds / double(run.n_timed));
    if (run.running == 0) return duration_text(core) + " of one core; no task is running now";
    return duration_text(core / double(run.running)) + " with " + std::to_string(run.running) +
           (run.running == 1 ? " task" : " tasks") + " running";
}

// The report of --status, a few lines.
inline std::string status_text(const RunPlan& plan, const RunProgress& run) {
    const double share = run.n > 0 ? 100.0 * double(run.n_done) / double(run.n) : 100.0;
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.1f%%", share);
    std::string text = "windows: " + std::to_string(run.windows_done) + " of " +
                       std::to_string(run.windows) + " done\n";
    text += "n: " + count_text(run.n_done) + " of " + count_text(run.n) + " done (" + percent + ")";
    if (plan.windows.last != plan.windows.N)
        text += ", to " + std::to_string(plan.windows.last) +
                ", where the excess repeats; the count at N comes by inclusion and exclusion";
    text += "\ntasks: " + std::to_string(run.tasks_done) + " of " + std::to_string(run.tasks) +
            " done, " + std::to_string(run.running) + " running\n";
    text += "time left: " + time_left_text(run) + "\n";
    return text;
}

// One line for a terminal's progress display.
inline std::string progress_line(const RunProgress& run) {
    const double share = run.n > 0 ? 100.0 * double(run.n_done) / double(run.n) : 100.0;
    char text[96];
    std::snprintf(text, sizeof text, "%llu of %llu windows, %.1f%% of n, time left: ",
                  static_cast<unsigned long long>(run.windows_done),
                  static_cast<unsigned long long>(run.windows), share);
    std::string line = text;
    if (run.n_timed == 0)
        line += "not known yet";
    else
        line += duration_text(double(run.n - run.n_done) * (run.seconds / double(run.n_timed)) /
                              double(run.running > 0 ? run.running : 1));
    return line;
}

}  // namespace morvane
