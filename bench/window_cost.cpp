// What a window and a task of morvane-par cost besides their scan, in one
// process, best of several runs: the count below a window's start by inclusion
// and exclusion and the engine's set-up (a window of 64 n, whose scan is
// negligible), near 1 and at 10^18; the check's count afresh; one checkpoint
// written and renamed, with and without fsync; and the final merge of the
// task files of a run to 10^18 planned for a cluster: 10^4 tasks with a few
// thousand records each (synthetic: n and counts made up, each line as
// morvane-l prints it, the excesses rising, so that the merge reads and
// checks every line as it would real ones): each excess printed again, as the
// merge did before (the baseline), and checked by value, as it does now.
//
//   window_cost [FOLDER [TASKS [RECORDS]]]   (default: a scratch folder under
//                                             /tmp, 10000 tasks, 3000 records)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/q_count.hpp"
#include "windows/record_check.hpp"
#include "windows/record_merge.hpp"
#include "windows/window_task.hpp"

namespace {

using namespace morvane;
using Profile = ExtendedProfile;
using Clock = std::chrono::steady_clock;

template <class Body>
double best_seconds(int runs, Body&& body) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        body();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// Task files whose Q lines rise by about one per record, F lines fall: every
// line reads back as morvane-l's, none but the first task's beats the others.
void write_synthetic_tasks(const std::filesystem::path& folder, std::uint64_t tasks,
                           std::uint64_t records, std::uint64_t start, std::uint64_t length,
                           std::vector<std::string>& paths) {
    const Profile::Density density(25);
    ProgramLines<Profile> lines;
    for (std::uint64_t t = 0; t < tasks; ++t) {
        const std::uint64_t a = start + t * length, b = a + length - 1;
        for (const char kind : {'Q', 'F'}) {
            const std::string path = (folder / record_file_name(kind, "97", a)).string();
            std::FILE* file = std::fopen(path.c_str(), "w");
            std::uint64_t c = static_cast<std::uint64_t>(density.delta() * (long double)a);
            for (std::uint64_t k = 0; k < records; ++k) {
                const std::uint64_t n = a + k * (length / records);
                const std::uint64_t q = kind == 'Q' ? c + 2 * k + 1 : c - 2 * k - 1;
                const auto e = density.excess(n, q);
                const auto line = lines.line(kind, n, kind == 'Q' ? q : n - q, e);
                std::fwrite(line.data(), 1, line.size(), file);
                c += static_cast<std::uint64_t>(density.delta() * (long double)(length / records));
            }
            std::fprintf(file, "%llu %llu\n", static_cast<unsigned long long>(b),
                         static_cast<unsigned long long>(kind == 'Q' ? c : b - c));
            std::fclose(file);
            paths.push_back(path);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::string folder = argc > 1 ? argv[1] : "";
    const std::uint64_t tasks = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000;
    const std::uint64_t records = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 3000;
    if (folder.empty()) {
        char pattern[] = "/tmp/window-cost-XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        folder = pattern;
    }
    const std::uint64_t far = 1'000'000'000'000'000'000ull;
    const int p = 97;

    // A window of 64 n: its count below, the engine's set-up, the scan of one
    // word, and the check of what it finds (the count afresh at its end).
    for (const std::uint64_t at : {std::uint64_t{1000}, far}) {
        const double count = best_seconds(20, [&] { (void)count_q_numbers(at - 1, 25); });
        const double afresh =
            best_seconds(20, [&] { (void)q_count_afresh(at + 63, squares_set(p)); });
        const Profile::Density density(25);
        const double window = best_seconds(20, [&] {
            const auto w =
                scan_window<Profile>(squares_set(p), at, at + 63, density.q_start(), 0.0L);
            if (!window_fault<Profile>(density, squares_set(p), w).empty()) std::abort();
        });
        std::printf(
            "window of 64 n at %-20llu %8.1f us (count below %.1f us, count afresh %.1f us)\n",
            static_cast<unsigned long long>(at), window * 1e6, count * 1e6, afresh * 1e6);
    }

    // A checkpoint of 1000 record lines written anew and renamed over itself.
    {
        const std::string target = folder + "/maxdevQ_97-1.txt";
        const std::string line = "1000000000000000000 390000000000000000 123.456789012345\n";
        for (const bool sync : {false, true}) {
            const double t = best_seconds(sync ? 5 : 20, [&] {
                detail::TemporaryFile out(target);
                for (int k = 0; k < 1000; ++k) out.write(line);
                out.finish(sync);
                out.rename_over_target();
            });
            std::printf("checkpoint of 1000 lines replaced, %s fsync: %8.1f us\n",
                        sync ? "with" : "without", t * 1e6);
        }
        fs::remove(target);
    }

    // The final merge of a cluster run's task files to 10^18.
    const fs::path tasks_folder = fs::path(folder) / "tasks";
    fs::create_directories(tasks_folder);
    std::vector<std::string> paths;
    const auto made = Clock::now();
    write_synthetic_tasks(tasks_folder, tasks, records, 1000000000000, far / tasks, paths);
    const double making = std::chrono::duration<double>(Clock::now() - made).count();
    const fs::path out = fs::path(folder) / "out";
    fs::create_directories(out);
    // Each line's excess checked by value, as the merge does, against each
    // line printed again and compared, as it did before; the same files,
    // read from the page cache both times.
    const auto lines_in_all = double(paths.size() * (records + 1));
    std::printf("final merge of %llu task files with %llu records each (%llu lines; writing them "
                "took %.1f s):\n",
                static_cast<unsigned long long>(paths.size()),
                static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(lines_in_all), making);
    double before = 0;
    for (const bool printing : {true, false}) {
        const double seconds = best_seconds(1, [&] {
            merge_record_files<Profile>("morvane-l", nullptr, paths, out, std::nullopt, printing);
        });
        if (printing) before = seconds;
        std::printf("  %-44s %7.2f s (%.3f us per line; %.1f times as fast)\n",
                    printing ? "each excess printed again (before):" : "each excess checked by value:",
                    seconds, seconds / lines_in_all * 1e6, before / seconds);
    }
    fs::remove_all(folder);
    return 0;
}
