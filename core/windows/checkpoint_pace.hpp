// When a task's checkpoint goes to the disk. Windows shorter than twenty times
// what a replacement takes (a millisecond or so on a local disk) are merged in
// memory and written with a later one, so that the checkpoint never takes
// more than a twentieth of the task's time; a stop then loses those too. An
// fsync at most every sync_seconds, and one at the task's end.
#pragma once

#include <chrono>

#include "windows/task_settings.hpp"

namespace morvane::detail {

class CheckpointPace {
public:
    using Clock = std::chrono::steady_clock;

    explicit CheckpointPace(const TaskSettings& settings)
        : settings_(settings), last_sync_(Clock::now()), last_write_(last_sync_) {}

    // Whether the checkpoint is written after a window merged at `now`;
    // `last`: the task's last window.
    bool due(Clock::time_point now, bool last) const {
        return last || settings_.every_window ||
               seconds(now - last_write_) * settings_.checkpoint_share >= write_seconds_;
    }
    // Whether that write is synced.
    bool sync(Clock::time_point now, bool last) const {
        return settings_.sync_seconds >= 0 &&
               (last || seconds(now - last_sync_) >= settings_.sync_seconds);
    }
    // The write that began at `now` has ended.
    void written(Clock::time_point now, bool synced) {
        if (synced) last_sync_ = now;
        last_write_ = Clock::now();
        write_seconds_ = seconds(last_write_ - now);
    }

private:
    static double seconds(Clock::duration span) {
        return std::chrono::duration<double>(span).count();
    }
    const TaskSettings& settings_;
    Clock::time_point last_sync_, last_write_;
    double write_seconds_ = 0;  // what the last replacement took
};

}  // namespace morvane::detail
