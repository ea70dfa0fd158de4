// One task of a window run: a consecutive stretch of windows, scanned one after
// the other by the fast engine in this process, each window's records checked
// and then merged into the task's two record files, the checkpoint
// (task_checkpoint.hpp), written as often as checkpoint_pace.hpp allows; a
// stop loses at most the windows not yet written.
//
// Each window is scanned from the running extremes of the task's records so
// far, so that it finds the records of the task's run and no others. They are
// checked before they are merged (window_check.hpp); a window that fails is
// reported and scanned again, never merged. The task locks its log and adds a
// line to it after every window merged (task_log.hpp), and stops once its
// driver has ended (task_watch.hpp).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "engine/engine_copy.hpp"
#include "windows/checkpoint_pace.hpp"
#include "windows/program_lines.hpp"
#include "windows/run_check.hpp"
#include "windows/run_plan.hpp"
#include "windows/task_checkpoint.hpp"
#include "windows/task_log.hpp"
#include "windows/task_settings.hpp"
#include "windows/task_watch.hpp"
#include "windows/window_check.hpp"
#include "windows/window_records.hpp"

namespace morvane {

// Sees window k's records, at the given attempt, before they are checked.
template <class Profile>
using WindowInspector = std::function<void(std::uint64_t k, int attempt, WindowRecords<Profile>&)>;

namespace detail {

// A task's messages: "morvane-merge: task T: ..." on the settings' stream.
struct TaskVoice {
    std::FILE* messages;
    std::string name;
    void operator()(const std::string& what) const {
        std::fprintf(messages, "morvane-merge: %s: %s\n", name.c_str(), what.c_str());
        std::fflush(messages);
    }
};

// What a task's windows share while it scans them.
template <class Profile>
struct TaskScan {
    const RunPlan& plan;
    const TaskSettings& settings;
    const TaskVoice& say;
    const typename Profile::Density density;
    TaskCheckpoint<Profile>& checkpoint;
    ProgramLines<Profile>& lines;
    std::atomic<bool> stop = false;
    bool watched = false;  // whether a watch may set stop
};

// Window k scanned from the checkpoint's extremes and checked, up to
// settings.attempts times; nothing when every scan fails the check, or when
// the scan was stopped (*stopped).
template <class Profile>
std::optional<WindowRecords<Profile>> checked_window(TaskScan<Profile>& task, std::uint64_t k,
                                                     bool& stopped,
                                                     const WindowInspector<Profile>& inspect) {
    using Count = typename Profile::Count;
    const auto [a, b] = task.plan.windows.window(k);
    const int attempts = task.settings.attempts;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        WindowRecords<Profile> w = scan_window<Profile>(
            task.plan.set, Count(a), Count(b), task.checkpoint.maxQ(), task.checkpoint.minE(),
            task.watched ? &task.stop : nullptr, &stopped, task.plan.runs,
            task.checkpoint.longest_run());
        if (stopped) return std::nullopt;
        if (task.plan.runs) w.lead = run_lead(*task.checkpoint.divisor(), a, b);
        if (inspect) inspect(k, attempt, w);
        std::string fault = window_fault<Profile>(task.density, task.plan.set, w);
        if (fault.empty() && task.plan.runs)
            fault = run_window_fault(*task.checkpoint.divisor(), a, b, w.runs, w.tail);
        if (fault.empty()) return w;
        task.say("window " + std::to_string(k) + " [" + std::to_string(a) + ", " +
                 std::to_string(b) + "] fails the check (" + fault + ")" +
                 (attempt < attempts ? "; it is scanned again" : "; the task stops"));
    }
    return std::nullopt;
}

// The checkpoint written, synced or not; the message and false when that fails.
template <class Profile>
bool write_checkpoint(TaskScan<Profile>& task, bool sync) {
    try {
        task.checkpoint.write(sync);
    } catch (const MergeRefusal& refusal) {
        task.say(refusal.what());
        return false;
    }
    return true;
}

// The task's windows from the first its checkpoint lacks to its last, each
// merged into the checkpoint and noted in the log, whose totals so far are
// `totals`. 0 when all are merged, 1 when the task stops before.
template <class Profile>
int scan_task_windows(TaskScan<Profile>& task, std::uint64_t end, std::FILE* log,
                      LogTotals totals, const WindowInspector<Profile>& inspect) {
    std::optional<DriverWatch> watch;
    if (task.settings.driver > 0) watch.emplace(task.settings.driver, task.stop);
    task.watched = watch.has_value();
    CheckpointPace pace(task.settings);
    for (std::uint64_t k = task.checkpoint.resume(); k < end; ++k) {
        const auto start = CheckpointPace::Clock::now();
        bool stopped = false;
        const auto good = checked_window<Profile>(task, k, stopped, inspect);
        if (stopped) {
            // The windows merged so far are kept; the one it was in is lost.
            write_checkpoint(task, task.settings.sync_seconds >= 0);
            task.say("morvane-par (pid " + std::to_string(task.settings.driver) +
                     ") or the task's parent has ended: stopped in window " + std::to_string(k) +
                     ", the windows before it kept");
            return 1;
        }
        if (!good) return 1;
        const auto now = CheckpointPace::Clock::now();
        try {
            task.checkpoint.add(k, *good, task.lines);
        } catch (const MergeRefusal& refusal) {
            task.say(refusal.what());
            return 1;
        }
        const bool last = k + 1 == end;
        if (pace.due(now, last)) {
            const bool sync = pace.sync(now, last);
            if (!write_checkpoint(task, sync)) return 1;
            pace.written(now, sync);
        }
        const auto [a, b] = task.plan.windows.window(k);
        totals.seconds += std::chrono::duration<double>(now - start).count();
        totals.n += b - a + 1;
        log_window(log, k, b, totals);
    }
    return 0;
}

}  // namespace detail

// Runs task t of the plan in the work folder: status 0 when its checkpoint
// holds all its windows, 1 otherwise (the message says why). inspect(k,
// attempt, records), where given, sees each window's records before they are
// checked (the tests' hook).
template <class Profile>
int run_task(const RunPlan& plan, const std::string& work, std::uint64_t t,
             const TaskSettings& settings, const WindowInspector<Profile>& inspect = {}) {
    const detail::TaskVoice say{settings.messages, "task " + std::to_string(t)};
    if (t >= plan.windows.tasks) {
        say("there are only " + std::to_string(plan.windows.tasks) + " tasks");
        return 1;
    }
    // One process per task: the log is locked for the task's time.
    std::string fault;
    const detail::TaskLog log =
        detail::open_locked_log(task_log(work, t), settings.lock_wait_seconds, fault);
    if (!log) {
        say(fault);
        return 1;
    }
    const detail::LogTotals before = detail::last_log_totals(task_log(work, t));
    ProgramLines<Profile> lines;
    TaskCheckpoint<Profile> checkpoint(plan, work, t);
    checkpoint.read_back(lines, say);
    const std::uint64_t end = plan.windows.task_windows(t).second;
    detail::log_start(log.get(), checkpoint.resume(), end,
                      engine_copy_name(chosen_engine_copy()));
    detail::TaskScan<Profile> task{plan, settings, say, typename Profile::Density(plan.set),
                                   checkpoint, lines};
    return detail::scan_task_windows<Profile>(task, end, log.get(), before, inspect);
}

}  // namespace morvane
