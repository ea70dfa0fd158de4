// A task's checkpoint: the pair of files that the run over the task's stretch,
// up to the end of the last window merged, would write (`PROGRAM p b a`, a the
// stretch's start). The merge of its windows is exact for the reason the final
// merge is (record_merge.hpp). Each file is written anew beside its name and
// renamed over it (replacing_file.hpp), so that a task stopped at any moment
// leaves a whole checkpoint; started again, it goes on after the last window
// its files hold. The Q and F files are renamed one after the other, so they
// may stand one window apart: each goes on from its own. With the record
// runs, a third file, that of `morvane-x -r p b a`, the same way; its run open
// at b is counted back from b when it is read (run_file_reader.hpp), and the
// join goes on from there (run_join.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "windows/count_walk.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/program_lines.hpp"
#include "windows/record_lines.hpp"
#include "windows/replacing_file.hpp"
#include "windows/run_file_reader.hpp"
#include "windows/run_join.hpp"
#include "windows/run_plan.hpp"
#include "windows/window_file.hpp"
#include "windows/window_records.hpp"

namespace morvane {

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

// The task's record runs: its windows joined so far.
struct RunCheckpoint {
    RunJoin join;
    std::uint64_t next;     // the first window it does not hold
    std::uint64_t end = 0;  // the last n of the last window it holds
    bool unwritten = false;
};

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

}  // namespace detail

template <class Profile>
class TaskCheckpoint {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    // Task t's checkpoint in the work folder, empty: it holds no window yet.
    TaskCheckpoint(const RunPlan& plan, const std::string& work, std::uint64_t t)
        : plan_(plan), work_(work), t_(t), begin_(plan.windows.task_windows(t).first),
          kinds_{{'Q', {}, Profile::Density::q_start(), begin_}, {'F', {}, Real(0), begin_}},
          runs_{{}, plan.runs ? begin_ : ~std::uint64_t{0}} {
        if (plan.runs) divisor_.emplace(plan.set, plan.windows.task_range(t).second);
    }

    // What a former session left, each file on its own; a damaged one starts
    // again, and say(text) hears why.
    template <class Say>
    void read_back(ProgramLines<Profile>& lines, Say&& say) {
        const typename Profile::Density density(plan_.set);
        for (auto& kind : kinds_) {
            const std::string path = task_file(work_, plan_, kind.kind, t_);
            detail::remove_temporaries(path);
            if (!std::filesystem::exists(path)) continue;
            try {
                read_kind(path, density, lines, kind);  // changes nothing when it throws
            } catch (const MergeRefusal& refusal) {
                say(std::string(refusal.what()) + "; the task starts again from its first window");
            }
        }
        if (!plan_.runs) return;
        const std::string path = task_file(work_, plan_, 'R', t_);
        detail::remove_temporaries(path);
        if (!std::filesystem::exists(path)) return;
        try {
            read_runs(path);
        } catch (const MergeRefusal& refusal) {
            say(std::string(refusal.what()) + "; the task starts again from its first window");
        }
    }

    // The first window one of the files does not hold.
    std::uint64_t resume() const {
        return std::min({kinds_[0].next, kinds_[1].next, runs_.next});
    }
    const Real& maxQ() const { return kinds_[0].extreme; }
    const Real& minE() const { return kinds_[1].extreme; }
    // With the record runs: proves numbers Q- or F-numbers up to the task's end.
    const PowerDivisor* divisor() const { return divisor_ ? &*divisor_ : nullptr; }
    // The longest run closed so far, which the next window's run search starts
    // from (as its excess starts from maxQ and minE): the search then passes
    // the cheap test for long runs at once, and the window's runs at its start
    // come apart, counted by the divisor.
    std::uint64_t longest_run() const { return runs_.join.longest(); }

    // Window k's records, checked, added to each file that does not hold it.
    // Each record beats the one before and the checkpoint's extreme: all are
    // the task run's.
    void add(std::uint64_t k, const WindowRecords<Profile>& w, ProgramLines<Profile>& lines) {
        for (auto& kind : kinds_) {
            if (kind.next > k) continue;  // it holds this window already
            for (const auto& r : kind.kind == 'Q' ? w.q : w.f) {
                kind.extreme = r.e;
                kind.lines.emplace_back(lines.line(kind.kind, r.n, r.count, r.e));
            }
            kind.summary =
                summary_line<Profile>(w.N, kind.kind == 'Q' ? w.count : w.N - w.count);
            kind.next = k + 1;
            kind.unwritten = true;
        }
        if (runs_.next > k) return;
        const auto [a, b] = plan_.windows.window(k);
        if (!runs_.join.add(a, b, w.lead, w.runs, w.tail))
            throw MergeRefusal(task_file(work_, plan_, 'R', t_),
                               "window " + std::to_string(k) +
                                   ": its last record run and the Q-numbers at its end disagree");
        runs_.end = b;
        runs_.next = k + 1;
        runs_.unwritten = true;
    }

    // Each file that lacks windows added since, written anew and renamed over
    // it; throws MergeRefusal when that fails.
    void write(bool sync) {
        for (auto& kind : kinds_) {
            if (!kind.unwritten) continue;
            detail::TemporaryFile out(task_file(work_, plan_, kind.kind, t_));
            for (const auto& line : kind.lines) out.write(line);
            out.write(kind.summary);
            out.finish(sync);
            out.rename_over_target();
            kind.unwritten = false;
        }
        if (!runs_.unwritten) return;
        detail::TemporaryFile out(task_file(work_, plan_, 'R', t_));
        out.write(run_file_text(runs_.join.records_closed_at(runs_.end), runs_.end));
        out.finish(sync);
        out.rename_over_target();
        runs_.unwritten = false;
    }

private:
    // A file read back as the run over the task's stretch to a window's end,
    // its count at that end counted afresh. Throws MergeRefusal for a damaged
    // or incomplete file, or one that ends inside a window.
    void read_kind(const std::string& path, const typename Profile::Density& density,
                   ProgramLines<Profile>& lines, detail::KindCheckpoint<Profile>& kind) {
        const Count a = Count(plan_.windows.task_range(t_).first);
        const std::uint64_t end = plan_.windows.task_windows(t_).second;
        std::vector<Record<Profile>> held;
        const auto summary = read_window_file<Profile>(
            path, kind.kind, a, density, lines, plan_.program,
            [&](std::string_view, const Record<Profile>& r) { held.push_back(r); });
        const std::uint64_t k = plan_.windows.window_ending_at(summary.N, begin_, end);
        if (k == end)
            throw MergeRefusal(path, "its N = " + std::to_string(summary.N) +
                                         " is not the end of one of the task's windows");
        const Count count = kind.kind == 'Q' ? summary.count : summary.N - summary.count;
        const Count c = static_cast<Count>(q_count_afresh(summary.N, plan_.set));
        if (count != c)
            throw MergeRefusal(path, "the count at N = " + std::to_string(summary.N) + " is " +
                                         std::to_string(count) + ", not " + std::to_string(c));
        for (const auto& r : held) {
            kind.lines.emplace_back(lines.line(kind.kind, r.n, r.count, r.e));
            kind.extreme = r.e;
        }
        kind.next = k + 1;
    }

    // The run file read back as the join of the task's stretch to a window's
    // end taken as one window. Throws MergeRefusal as read_kind does.
    void read_runs(const std::string& path) {
        const std::uint64_t a = plan_.windows.task_range(t_).first;
        const std::uint64_t end = plan_.windows.task_windows(t_).second;
        const RunFileContent content = read_run_file(path, a);
        const std::uint64_t k = plan_.windows.window_ending_at(content.N, begin_, end);
        if (k == end)
            throw MergeRefusal(path, "its N = " + std::to_string(content.N) +
                                         " is not the end of one of the task's windows");
        RunJoin join;
        if (!join.add(a, content.N, content.records, run_tail(*divisor_, a, content.N)))
            throw MergeRefusal(path, "its last record run is not the run of Q-numbers at its N");
        runs_ = {join, k + 1, content.N, false};
    }

    const RunPlan& plan_;
    const std::string& work_;
    const std::uint64_t t_, begin_;
    detail::KindCheckpoint<Profile> kinds_[2];
    detail::RunCheckpoint runs_;
    std::optional<PowerDivisor> divisor_;
};

}  // namespace morvane
