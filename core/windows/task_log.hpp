// A task's log in the work folder (task_log in run_plan.hpp): a line
// "start PID TIME RESUME END ENGINE" when a session of the task begins, and
// "window K END SECONDS N TIME" after every window it has merged, SECONDS and
// N the core time and the n of all the windows it has scanned so far, in all
// its sessions; TIME is seconds since the epoch. The task holds a lock on its
// log while it runs: one process per task, and --status sees which run.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace morvane {

// What the line that begins a session holds.
struct LogStart {
    double time = 0;     // when the session began
    std::string engine;  // the engine's copy it scanned with
};

// The start line read back, as log_start writes it, or nothing for another line.
inline std::optional<LogStart> read_log_start(const char* line) {
    long pid = 0;
    double time = 0;
    unsigned long long resume = 0, end = 0;
    char engine[64];
    if (std::sscanf(line, "start %ld %lf %llu %llu %63s", &pid, &time, &resume, &end, engine) != 5)
        return std::nullopt;
    return LogStart{time, engine};
}

namespace detail {

inline double unix_time() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
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
        if (std::sscanf(line, "window %llu %llu %lf %llu %lf", &window, &end, &t.seconds, &n,
                        &t.time) == 5) {
            t.window = window;
            t.end = end;
            t.n = n;
            t.found = true;
            t.start_time = totals.start_time;
            totals = t;
        } else if (const auto session = read_log_start(line)) {
            totals.start_time = session->time;
        }
    }
    std::fclose(file);
    return totals;
}

// The log open for appending, closed (and so unlocked) however the task ends.
using TaskLog = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The log at path, opened and locked within wait_seconds (a requeued task may
// start while the old one ends); without it, null and the reason in `fault`.
inline TaskLog open_locked_log(const std::string& path, double wait_seconds, std::string& fault) {
    TaskLog none(nullptr, &std::fclose);
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fault = "cannot write " + path + ": " + std::strerror(errno);
        return none;
    }
    const auto started = std::chrono::steady_clock::now();
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >
            wait_seconds) {
            fault = "another process runs it (" + path + " is locked)";
            close(fd);
            return none;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    TaskLog log(fdopen(fd, "a"), &std::fclose);
    if (!log) {
        close(fd);
        fault = "cannot write " + path;
    }
    return log;
}

// The line that begins a session, which goes on at window `resume` of the
// task's windows before `end`, in the engine's copy named `engine`.
inline void log_start(std::FILE* log, std::uint64_t resume, std::uint64_t end, const char* engine) {
    std::fprintf(log, "start %ld %.3f %llu %llu %s\n", static_cast<long>(getpid()), unix_time(),
                 static_cast<unsigned long long>(resume), static_cast<unsigned long long>(end),
                 engine);
    std::fflush(log);
}

// The line after window k, which ends at `end`, is merged; `totals` holds the
// core time and the n of the task's windows so far.
inline void log_window(std::FILE* log, std::uint64_t k, std::uint64_t end, const LogTotals& totals) {
    std::fprintf(log, "window %llu %llu %.6f %llu %.3f\n", static_cast<unsigned long long>(k),
                 static_cast<unsigned long long>(end), totals.seconds,
                 static_cast<unsigned long long>(totals.n), unix_time());
    std::fflush(log);
}

}  // namespace detail

}  // namespace morvane
