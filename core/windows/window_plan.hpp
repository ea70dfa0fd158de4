// How a run is cut into windows for morvane-par: consecutive windows [a, b]
// that cover [nmin, N], each scanned as a run of its own, `PROGRAM p b a`; and
// the tasks, each a consecutive stretch of windows run one after the other by
// one process, which keeps one pair of record files for its whole stretch.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace morvane {

// Windows shorter than this gain nothing on several cores: the job start-up of
// GNU parallel, about 0.2 s, is the time of about 4e9 n. A run shorter than two
// of them is one window, run directly.
inline constexpr std::uint64_t shortest_default_window = 10'000'000'000;
// About a minute of one core at the fast engine's speed (1.6e10 n/s with p = 97
// here): what a stopped task loses at most.
inline constexpr std::uint64_t longest_default_window = 1'000'000'000'000;

// The number of windows when none is asked for: at least two per job, so that
// the progress moves, but not many more for a short run; none longer than a
// minute or so, none shorter than shortest_default_window. A run to 10^18 has
// a million of them.
inline std::uint64_t default_window_count(std::uint64_t length, std::uint64_t jobs) {
    std::uint64_t count = jobs * 2;
    const std::uint64_t by_time = length / longest_default_window + 1;
    if (count < by_time) count = by_time;
    const std::uint64_t by_length = length / shortest_default_window;
    if (count > by_length) count = by_length;
    return count < 1 ? 1 : count;
}

// GNU parallel takes about 0.25 s to start its first job, a core's time for
// about 5e9 n. morvane-par runs a first window of this length itself meanwhile,
// as a task of its own, ahead of the tasks it hands to parallel.
inline constexpr std::uint64_t head_start_window = 4'000'000'000;

// The windows and tasks of one run. The split starts at max(nmin, 2), since a
// run needs N >= 2; the first window starts at nmin as it is (0 scans like 1
// but names the files -0). For an excess that repeats with a period P (the
// exact one, for p up to 23), the windows end at the end of the first period
// after nmin, `last`: no later n can beat what that period holds, and the
// count at N comes by inclusion and exclusion, as the program does it.
struct WindowPlan {
    std::uint64_t nmin = 1;
    std::uint64_t N = 2;
    std::uint64_t last = 2;     // the last n any window scans: N, or a period's end
    std::uint64_t head = 0;     // the length of the head window, 0 for none
    std::uint64_t windows = 1;  // head included
    std::uint64_t tasks = 1;    // the head's own task included
    // A second scan of the run, morvane-par --double-check, cuts its windows
    // at the middles of the run's windows, so that no cut is one of the run's
    // (each of the run's windows holds at least 2 n): window k runs from the
    // middle of the run's window k - 1 to that of window k, the first from
    // nmin, the last to `last`; `windows` is one more than the run's.
    bool shifted = false;

    std::uint64_t first() const { return nmin > 2 ? nmin : 2; }

    // Window k, 0 <= k < windows.
    std::pair<std::uint64_t, std::uint64_t> window(std::uint64_t k) const {
        using u128 = unsigned __int128;
        if (shifted) {
            WindowPlan run = *this;
            run.shifted = false;
            run.windows = windows - 1;
            const auto middle = [&](std::uint64_t i) {
                const auto [a, b] = run.window(i);
                return a + (b - a) / 2;
            };
            return {k == 0 ? nmin : middle(k - 1) + 1, k + 1 == windows ? last : middle(k)};
        }
        std::uint64_t start = first();
        std::uint64_t length = last - start + 1;
        std::uint64_t count = windows, j = k;
        if (head > 0) {
            if (k == 0) return {nmin, start + head - 1};
            start += head;
            length -= head;
            count -= 1;
            j -= 1;
        }
        const auto end_of = [&](std::uint64_t i) {  // the end of the i-th of `count`
            return static_cast<std::uint64_t>(start + u128(length) * (i + 1) / count - 1);
        };
        const std::uint64_t a = k == 0 ? nmin : j == 0 ? start : end_of(j - 1) + 1;
        return {a, end_of(j)};
    }

    // The windows of task t, 0 <= t < tasks: [begin, end).
    std::pair<std::uint64_t, std::uint64_t> task_windows(std::uint64_t t) const {
        using u128 = unsigned __int128;
        std::uint64_t offset = 0, count = windows, parts = tasks, i = t;
        if (head > 0) {
            if (t == 0) return {0, 1};
            offset = 1;
            count -= 1;
            parts -= 1;
            i -= 1;
        }
        return {offset + static_cast<std::uint64_t>(u128(count) * i / parts),
                offset + static_cast<std::uint64_t>(u128(count) * (i + 1) / parts)};
    }

    // The n task t covers: from its first window's start to its last's end.
    std::pair<std::uint64_t, std::uint64_t> task_range(std::uint64_t t) const {
        const auto [begin, end] = task_windows(t);
        return {window(begin).first, window(end - 1).second};
    }

    // The window among [begin, end) that ends at n, or `end` when none does.
    std::uint64_t window_ending_at(std::uint64_t n, std::uint64_t begin, std::uint64_t end) const {
        std::uint64_t lo = begin, hi = end;  // the first window ending at n or later is in [lo, hi]
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (window(mid).second < n)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < end && window(lo).second == n ? lo : end;
    }
};

// The plan for [nmin, N] scanned up to `last` (N, or the end of the excess's
// period), in `windows` windows (0: the default for `jobs` jobs) after a head
// of `head` n when asked for and the range is at least four times as long, in
// `tasks` tasks (no more than the windows; at least two with a head).
inline WindowPlan make_window_plan(std::uint64_t N, std::uint64_t nmin, std::uint64_t last,
                                   std::uint64_t windows, std::uint64_t tasks, std::uint64_t jobs,
                                   std::uint64_t head = 0) {
    WindowPlan plan;
    plan.nmin = nmin;
    plan.N = N;
    plan.last = last;
    const std::uint64_t length = last - plan.first() + 1;
    if (windows == 0) windows = default_window_count(length, jobs);
    plan.head = head > 0 && windows > 1 && length / 4 >= head ? head : 0;
    const std::uint64_t rest = length - plan.head;
    windows = std::clamp<std::uint64_t>(windows, 1, rest);
    plan.windows = windows + (plan.head > 0);
    tasks = std::clamp<std::uint64_t>(tasks, 1, windows);
    plan.tasks = tasks + (plan.head > 0);
    return plan;
}

// The windows of a second scan of the run planned as `run`, cut at the middles
// of its windows, in `tasks` tasks (0: as many as the run's); nullopt when a
// window of the run is too short to be cut (a single n).
inline std::optional<WindowPlan> shifted_window_plan(const WindowPlan& run, std::uint64_t tasks) {
    const std::uint64_t rest = run.last - run.first() + 1 - run.head;
    const std::uint64_t count = run.windows - (run.head > 0);
    if ((run.head > 0 && run.head < 2) || rest / count < 2) return std::nullopt;
    WindowPlan plan = run;
    plan.shifted = true;
    plan.windows = run.windows + 1;
    if (tasks != 0) plan.tasks = std::clamp<std::uint64_t>(tasks, 1, count + 1) + (run.head > 0);
    return plan;
}

// Splits [nmin, N] (nmin <= N, N >= 2) into at most `count` windows of near
// equal length, in order, after a first window of `head` n when asked for and
// the range is at least four times as long.
template <class Count>
std::vector<std::pair<Count, Count>> split_windows(Count N, Count nmin, std::uint64_t count,
                                                   std::uint64_t head = 0) {
    WindowPlan plan;
    plan.nmin = nmin;
    plan.N = plan.last = N;
    const std::uint64_t length = plan.last - plan.first() + 1;
    plan.head = head > 0 && length / 4 >= head ? head : 0;
    plan.windows = std::clamp<std::uint64_t>(count, 1, length - plan.head) + (plan.head > 0);
    std::vector<std::pair<Count, Count>> windows;
    for (std::uint64_t k = 0; k < plan.windows; ++k) {
        const auto [a, b] = plan.window(k);
        windows.emplace_back(static_cast<Count>(a), static_cast<Count>(b));
    }
    return windows;
}

}  // namespace morvane
