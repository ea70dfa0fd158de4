// Whether the processes a task runs for live on: the morvane-par that drives
// it and the task's parent. A process killed with SIGKILL leaves its children
// running; a task must not scan on for the rest of its window, holding the
// run's lock and its cores.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <thread>

namespace morvane::detail {

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
// parallel, or a shell under it) has ended, looking five times a second.
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

}  // namespace morvane::detail
