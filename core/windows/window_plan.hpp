// How a run is cut into windows for morvane-par: consecutive windows [a, b]
// that cover [nmin, N], each a run of its own, `PROGRAM p b a`.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace morvane {

// Windows shorter than this gain nothing on several cores: the job start-up of
// GNU parallel, about 0.2 s, is the time of about 4e9 n. A run shorter than two
// of them is one window, run directly.
inline constexpr std::uint64_t shortest_default_window = 10'000'000'000;
// About a minute of one core: what a stopped run loses per window at most.
inline constexpr std::uint64_t longest_default_window = 1'000'000'000'000;
// Slurm's default MaxArraySize is 1001; the merge's command line holds the
// names of twice as many files.
inline constexpr std::uint64_t most_windows = 1000;

// The number of windows when none is asked for: at least two per job, so that a
// job that ends early takes another and the progress moves, but not many more
// for a short run, since GNU parallel takes CPU time for each job it starts and
// notices a job's end only at its next look, up to a second later; no window
// longer than a minute or so, none shorter than shortest_default_window.
inline std::uint64_t default_window_count(std::uint64_t length, std::uint64_t jobs) {
    std::uint64_t count = jobs * 2;
    const std::uint64_t by_time = length / longest_default_window + 1;
    if (count < by_time) count = by_time;
    const std::uint64_t by_length = length / shortest_default_window;
    if (count > by_length) count = by_length;
    if (count > most_windows) count = most_windows;
    return count < 1 ? 1 : count;
}

// GNU parallel takes about 0.25 s to start its first job, a core's time for
// about 5e9 n. morvane-par runs a first window of this length itself meanwhile,
// ahead of the windows it hands to parallel.
inline constexpr std::uint64_t head_start_window = 4'000'000'000;

// Splits [nmin, N] (nmin <= N, N >= 2) into at most `count` windows of near
// equal length, in order, after a first window of `head` n when asked for and
// the range is at least four times as long. A run needs N >= 2, so [2, N] is
// split and the first window takes n = 1 as well; it keeps nmin as it is (0
// scans like 1 but names the files -0).
template <class Count>
std::vector<std::pair<Count, Count>> split_windows(Count N, Count nmin, std::uint64_t count,
                                                   std::uint64_t head = 0) {
    std::vector<std::pair<Count, Count>> windows;
    unsigned __int128 first = nmin > 2 ? nmin : 2;
    unsigned __int128 length = static_cast<unsigned __int128>(N) - first + 1;
    if (head > 0 && length / 4 >= head) {
        windows.emplace_back(static_cast<Count>(first), static_cast<Count>(first + head - 1));
        first += head;
        length -= head;
    }
    if (count < 1) count = 1;
    if (count > length) count = static_cast<std::uint64_t>(length);
    unsigned __int128 start = first;
    for (std::uint64_t k = 0; k < count; ++k) {
        const unsigned __int128 end = first + length * (k + 1) / count - 1;
        windows.emplace_back(static_cast<Count>(start), static_cast<Count>(end));
        start = end + 1;
    }
    windows.front().first = nmin;
    return windows;
}

}  // namespace morvane
