// What a task of a window run needs besides the plan (window_task.hpp).
#pragma once

#include <cstdio>

namespace morvane {

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

}  // namespace morvane
