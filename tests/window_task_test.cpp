// Window runs as morvane-par's tasks run them, in process: the plan's windows
// and tasks cover the run; the tasks' checkpoints merged are one run's files,
// byte for byte, for every program, many windows per task, windows of length 1,
// tie-heavy p, across 2^32 and at 2^64, and across the exact excess's period;
// a double check's windows, cut at the middles of the run's, are one run too;
// a task whose driver has ended stops and keeps what it merged;
// a task stopped at any window goes on after its last merged window; a
// checkpoint left damaged starts its task again; a window whose records fail
// the check is scanned again and never merged.
#include "windows/window_task.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "memory_records.hpp"
#include "program_run.hpp"
#include "windows/record_check.hpp"
#include "windows/record_merge.hpp"
#include "windows/run_plan.hpp"
#include "windows/run_status.hpp"
#ifdef MORVANE_MERGE_EXACT
#include "profiles/exact_density.hpp"
#endif

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The windows of every task, in task order, are the plan's windows in order,
// consecutive and covering [nmin, last]; window_ending_at finds each end.
TEST(TaskPlan, TasksCoverTheWindowsInOrder) {
    using C = std::uint64_t;
    constexpr C top = std::numeric_limits<C>::max();
    for (const auto& [N, nmin] : std::vector<std::pair<C, C>>{
             {2, 0}, {3, 1}, {1000, 0}, {1000, 999}, {100000, 7}, {top, 0}, {top, top - 5}}) {
        for (const C windows : {1u, 2u, 5u, 1000u}) {
            for (const C tasks : {1u, 2u, 3u, 1000u}) {
                for (const C head : {0u, 10u}) {
                    const WindowPlan plan = make_window_plan(N, nmin, N, windows, tasks, 2, head);
                    ASSERT_GE(plan.windows, plan.tasks);
                    C expected_start = nmin;
                    std::uint64_t next_window = 0;
                    for (C t = 0; t < plan.tasks; ++t) {
                        const auto [begin, end] = plan.task_windows(t);
                        ASSERT_EQ(begin, next_window);
                        ASSERT_LT(begin, end);
                        EXPECT_EQ(plan.task_range(t).first, expected_start);
                        for (C k = begin; k < end; ++k) {
                            const auto [a, b] = plan.window(k);
                            ASSERT_EQ(a, expected_start) << N << " " << nmin << " " << k;
                            ASSERT_LE(a, b);
                            EXPECT_GE(b, 2u);
                            EXPECT_EQ(plan.window_ending_at(b, begin, end), k);
                            if (a < b) {
                                EXPECT_EQ(plan.window_ending_at(b - 1, begin, end), end);
                            }
                            expected_start = b + 1;
                        }
                        EXPECT_EQ(plan.task_range(t).second, expected_start - 1);
                        next_window = end;
                    }
                    EXPECT_EQ(next_window, plan.windows);
                    EXPECT_EQ(expected_start - 1, N);
                    if (plan.head) {
                        EXPECT_EQ(plan.task_windows(0).second, 1u);
                    }
                }
            }
        }
    }
    // A million windows and more: each found by its end without a list.
    const WindowPlan big = make_window_plan(top, 1, top, 20'000'000, 10'000, 2);
    const auto [begin, end] = big.task_windows(7777);
    EXPECT_EQ(end - begin, 2000u);
    EXPECT_EQ(big.window_ending_at(big.window(begin + 1234).second, begin, end), begin + 1234);
}

// A double check's windows: cut at the middles of the run's, so that no cut
// but the end is one of the run's, consecutive and covering [nmin, last],
// each of its tasks a stretch of them; its plan read back is the same plan.
TEST(TaskPlan, DoubleCheckCutsAtTheMiddles) {
    using C = std::uint64_t;
    constexpr C top = std::numeric_limits<C>::max();
    std::size_t shifted_plans = 0;
    for (const auto& [N, nmin] : std::vector<std::pair<C, C>>{
             {2, 0}, {3, 1}, {1000, 0}, {1000, 999}, {100000, 7}, {top, 0}, {top, top - 5}}) {
        for (const C windows : {1u, 2u, 5u, 499u, 1000u}) {
            for (const C head : {0u, 10u}) {
                const WindowPlan run = make_window_plan(N, nmin, N, windows, 3, 2, head);
                const auto check = shifted_window_plan(run, 0);
                const C rest = run.last - run.first() + 1 - run.head;
                ASSERT_EQ(check.has_value(), rest / (run.windows - (run.head > 0)) >= 2)
                    << N << " " << nmin << " " << windows;
                if (!check) continue;
                ++shifted_plans;
                ASSERT_EQ(check->windows, run.windows + 1);
                ASSERT_EQ(check->tasks, run.tasks);
                std::vector<C> run_ends;
                for (C k = 0; k < run.windows; ++k) run_ends.push_back(run.window(k).second);
                C expected_start = nmin;
                for (C k = 0; k < check->windows; ++k) {
                    const auto [a, b] = check->window(k);
                    ASSERT_EQ(a, expected_start);
                    ASSERT_LE(a, b);
                    if (k + 1 < check->windows) {
                        // Inside the run's window k, never at its end.
                        EXPECT_GE(b, run.window(k).first);
                        EXPECT_LT(b, run.window(k).second);
                        EXPECT_FALSE(std::binary_search(run_ends.begin(), run_ends.end(), b));
                    }
                    expected_start = b + 1;
                }
                EXPECT_EQ(expected_start - 1, N);
                std::uint64_t next_window = 0;
                for (C t = 0; t < check->tasks; ++t) {
                    const auto [begin, end] = check->task_windows(t);
                    ASSERT_EQ(begin, next_window);
                    ASSERT_LT(begin, end);
                    next_window = end;
                }
                EXPECT_EQ(next_window, check->windows);
                // Its plan file read back.
                const RunPlan plan{"morvane-l", squares_set(97), "97", {}, {}, *check};
                Scratch folder;
                const fs::path path = folder.folder() / "plan";
                std::ofstream(path) << plan_text(plan);
                const RunPlan back = read_run_plan(path.string());
                EXPECT_EQ(plan_text(back), plan_text(plan));
                EXPECT_TRUE(back.windows.shifted);
                EXPECT_EQ(back.windows.window(check->windows / 2), check->window(check->windows / 2));
            }
        }
    }
    EXPECT_GT(shifted_plans, 30u);
}

// A run planned and run task by task in a scratch folder.
template <class Profile>
struct PlannedRun {
    using Count = typename Profile::Count;
    Scratch work, out;
    RunPlan plan;
    std::string messages;

    PlannedRun(const char* program, const PrimeSet& set, const std::string& p_text, Count N,
               Count nmin, std::uint64_t windows, std::uint64_t tasks, bool runs = false) {
        const std::uint64_t start = nmin > 1 ? nmin : 1;
        const std::uint64_t last = last_record_n<Profile>(set, start, N, runs);
        plan = RunPlan{program, set, p_text, {}, {},
                       make_window_plan(N, nmin, last, windows, tasks, 1), runs};
    }
    PlannedRun(const char* program, int p, Count N, Count nmin, std::uint64_t windows,
               std::uint64_t tasks)
        : PlannedRun(program, squares_set(p), std::to_string(p), N, nmin, windows, tasks) {}
    std::string folder() const { return work.folder().string(); }
    std::string file(char kind, std::uint64_t t) const {
        return task_file(folder(), plan, kind, t);
    }

    // Runs task t; inspect sees each window's records before the check.
    template <class Inspect>
    int task(std::uint64_t t, Inspect&& inspect) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* stream = open_memstream(&text, &size);
        TaskSettings settings;
        settings.messages = stream;
        settings.sync_seconds = -1;  // scratch files
        settings.every_window = true;
        int status = 1;
        try {
            status = run_task<Profile>(plan, folder(), t, settings, inspect);
        } catch (...) {
            std::fclose(stream);
            messages += std::string(text, size);
            std::free(text);
            throw;
        }
        std::fclose(stream);
        messages += std::string(text, size);
        std::free(text);
        return status;
    }
    int task(std::uint64_t t) {
        return task(t, [](std::uint64_t, int, auto&) {});
    }
    void all_tasks() {
        for (std::uint64_t t = 0; t < plan.windows.tasks; ++t) ASSERT_EQ(task(t), 0) << messages;
    }

    // The tasks' files merged as --finish merges them, against one run.
    void expect_one_run() {
        std::vector<std::string> paths;
        const std::vector<char> kinds = plan.runs ? std::vector<char>{'Q', 'F', 'R'}
                                                  : std::vector<char>{'Q', 'F'};
        for (std::uint64_t t = 0; t < plan.windows.tasks; ++t)
            for (const char kind : kinds) paths.push_back(file(kind, t));
        std::optional<Count> through;
        if (plan.windows.last != plan.windows.N) through = Count(plan.windows.N);
        const std::string shown = plan_text(plan);
        try {
            merge_record_files<Profile>(plan.program, nullptr, paths, out.folder(), through);
        } catch (const MergeRefusal& refusal) {
            ADD_FAILURE() << shown << refusal.what();
            return;
        }
        const MemoryRecords one =
            fast_records<Profile>(plan.set, Count(plan.windows.N), Count(plan.windows.nmin));
        const auto name = [&](char kind) {
            return out.folder() / record_file_name(kind, plan.p_text.c_str(), plan.windows.nmin);
        };
        EXPECT_EQ(bytes_of(name('Q')), one.q) << shown;
        EXPECT_EQ(bytes_of(name('F')), one.f) << shown;
        if constexpr (Profile::any_set) {
            if (plan.runs) {
                EXPECT_EQ(bytes_of(name('R')),
                          fast_run_file<Profile>(plan.set, plan.windows.N, plan.windows.nmin))
                    << shown;
            }
        }
        for (const char kind : kinds) {
            try {
                check_record_file<Profile>(plan.program, nullptr, name(kind).string());
            } catch (const MergeRefusal& refusal) {
                ADD_FAILURE() << shown << refusal.what();
            }
        }
        const RunProgress progress = run_progress(plan, folder());
        EXPECT_EQ(progress.windows_done, plan.windows.windows);
        EXPECT_TRUE(progress.todo.empty());
    }
};

template <class Profile>
void expect_tasks_are_one_run(const char* program, int p, typename Profile::Count N,
                              typename Profile::Count nmin, std::uint64_t windows,
                              std::uint64_t tasks) {
    PlannedRun<Profile> run(program, p, N, nmin, windows, tasks);
    run.all_tasks();
    run.expect_one_run();
}

// Many windows per task, a window per n, a window per task, tasks whose
// stretch holds no record of the whole run; p = 2 and 3, whose excesses tie.
template <class Profile>
void expect_short_task_runs(const char* program) {
    for (const int p : {2, 3, 7, 97}) {
        expect_tasks_are_one_run<Profile>(program, p, 200000, 0, 57, 4);
        expect_tasks_are_one_run<Profile>(program, p, 200000, 1, 150, 150);  // a window per task
        expect_tasks_are_one_run<Profile>(program, p, 300, 1, 299, 7);       // windows of length 1
        expect_tasks_are_one_run<Profile>(program, p, 50000, 4321, 40, 20);
        expect_tasks_are_one_run<Profile>(program, p, 2, 2, 1, 1);
    }
}

template <class Profile>
void expect_far_task_runs(const char* program) {
    using Count = typename Profile::Count;
    constexpr Count top = std::numeric_limits<Count>::max();
    for (const int p : {2, 3, 97}) {
        expect_tasks_are_one_run<Profile>(program, p, top, top - 30000, 30, 6);
        expect_tasks_are_one_run<Profile>(program, p, top, top - 20, 21, 5);
        if constexpr (sizeof(Count) == 8) {
            const Count two32 = Count{1} << 32;
            expect_tasks_are_one_run<Profile>(program, p, two32 + 20000, two32 - 20000, 40, 3);
        }
    }
}

TEST(TasksAreOneRun, Morvane) {
    expect_short_task_runs<NarrowProfile>("morvane");
    expect_far_task_runs<NarrowProfile>("morvane");
}
#ifdef MORVANE_EXTENDED
TEST(TasksAreOneRun, MorvaneL) {
    expect_short_task_runs<ExtendedProfile>("morvane-l");
    expect_far_task_runs<ExtendedProfile>("morvane-l");
}
#endif
#ifdef MORVANE_MERGE_EXACT
TEST(TasksAreOneRun, MorvaneX) {
    expect_short_task_runs<ExactProfile>("morvane-x");
    expect_far_task_runs<ExactProfile>("morvane-x");
}

// The exact excess repeats: the windows stop one period after the start, the
// summary comes at N. For p = 3 (period 36) and 13 (30030^2 = 901800900) the
// runs cross the period; for p = 23 (about 5e16) a run across n = P itself.
TEST(TasksAreOneRun, MorvaneXAcrossItsPeriod) {
    expect_tasks_are_one_run<ExactProfile>("morvane-x", 3, 1000, 10, 12, 5);
    expect_tasks_are_one_run<ExactProfile>("morvane-x", 3, 1000000, 0, 36, 36);
    expect_tasks_are_one_run<ExactProfile>("morvane-x", 13,
                                           std::numeric_limits<std::uint64_t>::max(), 1, 40, 4);
    const std::uint64_t P = ExactProfile::Density::excess_period(squares_set(23));
    ASSERT_EQ(P, 223092870ull * 223092870ull);
    expect_tasks_are_one_run<ExactProfile>("morvane-x", 23, P + 30000, P - 30000, 20, 3);
    expect_tasks_are_one_run<ExactProfile>("morvane-x", 23, 2 * P + 5, 2 * P - 5000, 9, 2);
}
#endif

// Other sets and powers: tasks from 1 and far out, the period stop of a
// finite set, and a task stopped after a window and started again.
TEST(TasksAreOneRun, MorvaneXSets) {
    const PrimeSet all2{PrimeSet::every_prime, 2}, all3{PrimeSet::every_prime, 3};
    const std::uint64_t e15 = 1'000'000'000'000'000;
    const auto one_run = [](const PrimeSet& set, const std::string& text, std::uint64_t N,
                            std::uint64_t nmin, std::uint64_t windows, std::uint64_t tasks) {
        PlannedRun<ExactProfile> run("morvane-x", set, text, N, nmin, windows, tasks);
        run.all_tasks();
        run.expect_one_run();
    };
    one_run(all3, "allk3", 300000, 1, 30, 4);
    one_run(all2, "all", 200000, 0, 17, 3);
    one_run(all3, "allk3", e15 + 100000, e15, 12, 3);
    one_run(all2, "all", e15 + 100000, e15 - 100000, 9, 2);
    one_run({1000, 2}, "1000", 100000, 1, 10, 2);
    one_run({5, 3}, "5k3", 100000, 1, 7, 3);  // the excess repeats after 30^3 n
    ASSERT_EQ(ExactProfile::Density::excess_period({5, 3}), 27000u);

    struct Stop {};
    PlannedRun<ExactProfile> run("morvane-x", all3, "allk3", 400000, 1, 16, 2);
    EXPECT_THROW(run.task(0,
                          [&](std::uint64_t k, int, auto&) {
                              if (k == 5) throw Stop{};
                          }),
                 Stop);
    EXPECT_EQ(run_progress(run.plan, run.folder()).windows_done, 5u);
    std::vector<std::uint64_t> scanned;
    ASSERT_EQ(run.task(0, [&](std::uint64_t k, int, auto&) { scanned.push_back(k); }), 0);
    EXPECT_EQ(scanned, (std::vector<std::uint64_t>{5, 6, 7}));
    ASSERT_EQ(run.task(1), 0);
    run.expect_one_run();
    EXPECT_EQ(run.messages, "");
}

// With the record runs: windows of one or two n across the first run of 8
// (1092747) and of 11 (221167422), so that runs cross many window edges and
// fill whole windows; cubes far out; the period stop of a finite set, whose
// windows go on to first + 2P - 2. Then a task stopped after each window in
// turn and started again: its run file is read back, the run open at its end
// counted back from its N, and the join goes on. Then a window whose record
// runs are made wrong fails the check and is scanned again; a damaged run
// checkpoint starts the task again.
TEST(TasksAreOneRun, MorvaneXRecordRuns) {
    const PrimeSet all2{PrimeSet::every_prime, 2}, all3{PrimeSet::every_prime, 3};
    const auto one_run = [](const PrimeSet& set, const std::string& text, std::uint64_t N,
                            std::uint64_t nmin, std::uint64_t windows, std::uint64_t tasks) {
        PlannedRun<ExactProfile> run("morvane-x", set, text, N, nmin, windows, tasks, true);
        run.all_tasks();
        run.expect_one_run();
        EXPECT_EQ(run.messages, "");
    };
    one_run(all2, "all", 1092760, 1092740, 20, 4);
    one_run(all2, "all", 1092760, 1092748, 9, 9);  // cut by nmin inside the run
    one_run(all2, "all", 221167440, 221167400, 30, 3);
    one_run(all2, "all", 300000, 0, 31, 4);  // from nmin 0: the windows from 1
    one_run(all3, "allk3", 1'000'000'000'100'000, 1'000'000'000'000'000, 11, 3);
    one_run({5, 2}, "5", 100000, 3, 7, 3);  // the period 900: windows to 3 + 1798
    one_run({2, 3}, "2k3", 1000, 1, 5, 2);  // period 8: a run of 1 repeated

    struct Stop {};
    for (const std::uint64_t stop_at : {1u, 4u, 9u}) {
        PlannedRun<ExactProfile> run("morvane-x", all2, "all", 1092770, 1092740, 12, 1, true);
        EXPECT_THROW(run.task(0,
                              [&](std::uint64_t k, int, auto&) {
                                  if (k == stop_at) throw Stop{};
                              }),
                     Stop);
        ASSERT_EQ(run.task(0), 0) << run.messages;
        run.expect_one_run();
        EXPECT_EQ(run.messages, "");
    }

    PlannedRun<ExactProfile> run("morvane-x", all2, "all", 1092770, 1092740, 12, 2, true);
    ASSERT_EQ(run.task(0,
                       [](std::uint64_t k, int attempt, auto& w) {
                           if (k == 3 && attempt == 1 && !w.runs.empty()) ++w.runs.back().length;
                       }),
              0);
    EXPECT_NE(run.messages.find("window 3 ["), std::string::npos) << run.messages;
    EXPECT_NE(run.messages.find("fails the check (record run at n = "), std::string::npos)
        << run.messages;
    ASSERT_EQ(run.task(1), 0);
    std::ofstream(run.file('R', 1)) << "1092755 3\n1092760 2\n";
    run.messages.clear();
    ASSERT_EQ(run.task(1), 0);
    EXPECT_NE(run.messages.find("the task starts again from its first window"), std::string::npos)
        << run.messages;
    run.expect_one_run();
}

// A plan names the set by its bound and, for a power other than 2, a k line:
// read back it is the same plan; a set no program takes is refused.
TEST(RunPlanText, CarriesTheSet) {
    Scratch folder;
    const fs::path path = folder.folder() / "plan";
    const WindowPlan windows = make_window_plan(1000000, 1, 1000000, 8, 2, 1);
    for (const auto& [set, text] : std::vector<std::pair<PrimeSet, std::string>>{
             {squares_set(97), "97"},
             {{PrimeSet::every_prime, 3}, "allk3"},
             {{4294967295, 63}, "4294967295k63"},
             {{PrimeSet::every_prime, 2}, "all"}}) {
        const RunPlan plan{"morvane-x", set, text, {}, {}, windows};
        std::ofstream(path) << plan_text(plan);
        const RunPlan back = read_run_plan(path.string());
        EXPECT_EQ(back.set, set) << text;
        EXPECT_EQ(plan_text(back), plan_text(plan));
        EXPECT_EQ(plan_text(plan).find("\nk ") != std::string::npos, set.k != 2) << text;
    }
    std::ofstream(path) << plan_text(RunPlan{"morvane-x", squares_set(97), "97", {}, {}, windows});
    const std::string good = bytes_of(path);
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"p 97\n", "p 4294967296\n"}, {"p 97\n", "p 1\n"}, {"p 97\n", "p al\n"},
             {"p 97\n", "p 97\nk 64\n"}, {"p 97\n", "p 97\nk 1\n"},
             {"ptext 97\n", "ptext 97-3\n"}}) {
        std::string bad = good;
        bad.replace(bad.find(from), from.size(), to);
        std::ofstream(path) << bad;
        EXPECT_THROW(read_run_plan(path.string()), MergeRefusal) << bad;
    }
}

// The double check's windows, run as tasks, are one run too.
TEST(TasksAreOneRun, CutAtTheMiddlesForADoubleCheck) {
    const auto shifted_run = [](auto profile, const char* program, int p, std::uint64_t N,
                                std::uint64_t nmin, std::uint64_t windows, std::uint64_t tasks) {
        using Profile = decltype(profile);
        PlannedRun<Profile> run(program, p, N, nmin, windows, tasks);
        run.plan.windows = shifted_window_plan(run.plan.windows, 0).value();
        run.all_tasks();
        run.expect_one_run();
    };
    for (const int p : {2, 3, 97}) {
        shifted_run(NarrowProfile{}, "morvane", p, 200000, 0, 57, 4);
        shifted_run(NarrowProfile{}, "morvane", p, 300, 1, 149, 7);  // windows of 2 n
        shifted_run(NarrowProfile{}, "morvane", p, 4294967295u, 4294900000u, 9, 3);
#ifdef MORVANE_EXTENDED
        shifted_run(ExtendedProfile{}, "morvane-l", p, (std::uint64_t{1} << 32) + 20000,
                    (std::uint64_t{1} << 32) - 20000, 40, 3);
#endif
#ifdef MORVANE_MERGE_EXACT
        // The exact excess repeats after 4 n for p = 2, 36 for p = 3.
        shifted_run(ExactProfile{}, "morvane-x", p, 100000, 10, p == 2 ? 2 : p == 3 ? 12 : 20, 4);
#endif
    }
#ifdef MORVANE_MERGE_EXACT
    shifted_run(ExactProfile{}, "morvane-x", 3, 1000000, 0, 12, 5);  // across the period
#endif
}

// A stop after every window in turn (the look at the window throws, as a kill
// would stop it): the same task again goes on after the last window merged,
// and the files are one run's.
TEST(TaskCheckpoint, GoesOnAfterTheLastMergedWindow) {
    struct Stop {};
    for (const std::uint64_t stop_at : {0u, 1u, 5u, 11u}) {
        PlannedRun<ExtendedProfile> run("morvane-l", 3, 300000, 1, 24, 2);
        std::vector<std::uint64_t> scanned;
        EXPECT_THROW(run.task(0,
                              [&](std::uint64_t k, int, auto&) {
                                  if (k == stop_at) throw Stop{};
                                  scanned.push_back(k);
                              }),
                     Stop);
        ASSERT_EQ(scanned.size(), stop_at);
        EXPECT_EQ(run_progress(run.plan, run.folder()).windows_done, stop_at);
        scanned.clear();
        ASSERT_EQ(run.task(0, [&](std::uint64_t k, int, auto&) { scanned.push_back(k); }), 0);
        ASSERT_FALSE(scanned.empty());
        EXPECT_EQ(scanned.front(), stop_at);
        EXPECT_EQ(scanned.size(), 12 - stop_at);
        // Run again when done: nothing scanned.
        scanned.clear();
        ASSERT_EQ(run.task(0, [&](std::uint64_t k, int, auto&) { scanned.push_back(k); }), 0);
        EXPECT_TRUE(scanned.empty());
        ASSERT_EQ(run.task(1), 0);
        run.expect_one_run();
        EXPECT_EQ(run.messages, "");
    }
}

// The Q file renamed, the F file not yet: they stand a window apart, and each
// goes on from its own.
TEST(TaskCheckpoint, FilesAWindowApartGoOnEachFromItsOwn) {
    PlannedRun<NarrowProfile> run("morvane", 2, 100000, 0, 10, 1);
    struct Stop {};
    EXPECT_THROW(run.task(0,
                          [&](std::uint64_t k, int, auto&) {
                              if (k == 4) throw Stop{};
                          }),
                 Stop);
    const std::string f_before = bytes_of(run.file('F', 0));
    EXPECT_THROW(run.task(0,
                          [&](std::uint64_t k, int, auto&) {
                              if (k == 5) throw Stop{};
                          }),
                 Stop);
    std::ofstream(run.file('F', 0), std::ios::binary) << f_before;
    std::vector<std::uint64_t> scanned;
    ASSERT_EQ(run.task(0, [&](std::uint64_t k, int, auto&) { scanned.push_back(k); }), 0);
    EXPECT_EQ(scanned.front(), 4u);
    run.expect_one_run();
}

// A checkpoint cut short, or of another run, or a temporary left half written:
// the task says so and starts again, and the files are one run's.
TEST(TaskCheckpoint, DamagedStartsTheTaskAgain) {
    for (const int damage : {0, 1, 2, 3}) {
        PlannedRun<ExtendedProfile> run("morvane-l", 97, 2000000, 1, 20, 2);
        run.all_tasks();
        const std::string q = run.file('Q', 1);
        std::string bytes = bytes_of(q);
        const fs::path temporary =
            fs::path(q).parent_path() / ("." + fs::path(q).filename().string() + ".merge-Ab12Cd");
        if (damage == 0) bytes.resize(bytes.size() - 3);      // the summary line cut
        if (damage == 1) bytes.resize(bytes.find('\n') + 1);  // only the first record
        if (damage == 2)
            bytes.replace(bytes.rfind('\n', bytes.size() - 2) + 1, 1, "9");  // another N
        if (damage == 3) std::ofstream(temporary) << bytes.substr(0, 10);    // a temporary left
        std::ofstream(q, std::ios::binary) << bytes;
        std::vector<std::uint64_t> scanned;
        ASSERT_EQ(run.task(1, [&](std::uint64_t k, int, auto&) { scanned.push_back(k); }), 0);
        if (damage == 3) {
            EXPECT_TRUE(scanned.empty());
            EXPECT_FALSE(fs::exists(temporary));
            EXPECT_EQ(run.messages, "");
        } else {
            EXPECT_EQ(scanned.size(), 10u) << damage;
            EXPECT_NE(run.messages.find("starts again from its first window"), std::string::npos)
                << run.messages;
            EXPECT_NE(run.messages.find(q), std::string::npos) << run.messages;
        }
        run.expect_one_run();
    }
}

// A window whose records fail the check (a count, an excess, a record
// repeated or added, the count at its end) is reported and scanned again; what it
// merges is the good scan. One that fails every time stops the task with
// status 1 and is never merged.
TEST(TaskCheck, FailedWindowIsScannedAgainNeverMerged) {
    using Records = WindowRecords<ExtendedProfile>;
    const std::vector<void (*)(Records&)> faults = {
        [](Records& w) { w.q.front().count += 1; },
        [](Records& w) { w.f.front().e = w.f.front().e - 1.0L; },
        [](Records& w) { w.q.insert(w.q.begin() + 1, w.q.front()); },
        [](Records& w) { w.f.push_back(w.f.back()); },
        [](Records& w) { w.count -= 1; },
        // A count off by one with its excess recomputed to match: only the
        // count afresh sees it.
        [](Records& w) {
            auto& r = w.q.back();
            r.count += 1;
            r.e = typename ExtendedProfile::Density(25).excess(r.n, r.count);
        },
    };
    for (std::size_t f = 0; f < faults.size(); ++f) {
        PlannedRun<ExtendedProfile> run("morvane-l", 97, 1000000, 1, 10, 1);
        int attempts = 0;
        ASSERT_EQ(run.task(0,
                           [&](std::uint64_t k, int attempt, Records& w) {
                               if (k == 0) {
                                   ++attempts;
                                   if (attempt == 1) faults[f](w);
                               }
                           }),
                  0);
        EXPECT_EQ(attempts, 2) << f;
        EXPECT_NE(run.messages.find("window 0 [1, 100000] fails the check"), std::string::npos)
            << f << ": " << run.messages;
        EXPECT_NE(run.messages.find("scanned again"), std::string::npos) << run.messages;
        run.expect_one_run();
    }
    PlannedRun<ExtendedProfile> run("morvane-l", 97, 1000000, 1, 10, 1);
    ASSERT_EQ(run.task(0,
                       [&](std::uint64_t k, int, Records& w) {
                           if (k == 3) w.count += 1;
                       }),
              1);
    EXPECT_NE(run.messages.find("the task stops"), std::string::npos) << run.messages;
    EXPECT_EQ(run_progress(run.plan, run.folder()).windows_done, 3u);
    std::vector<std::uint64_t> scanned;
    ASSERT_EQ(run.task(0, [&](std::uint64_t k, int, Records&) { scanned.push_back(k); }), 0);
    EXPECT_EQ(scanned.front(), 3u);
    run.expect_one_run();
}

// A task whose driver has ended (killed, and left unreaped: a zombie) stops
// within a fraction of a second, mid-window, with the windows it merged in
// its checkpoint; started again, it goes on after them and ends as one run.
TEST(TaskStops, WhenItsDriverHasEnded) {
    // p = 3, the slowest: windows of 4e7 n, ten milliseconds or more each.
    PlannedRun<NarrowProfile> run("morvane", 3, 4000000000u, 1, 100, 1);
    const pid_t driver = fork();
    ASSERT_GE(driver, 0);
    if (driver == 0) {
        pause();
        _exit(0);
    }
    TaskSettings settings;
    settings.sync_seconds = -1;
    settings.driver = driver;
    std::FILE* messages = std::tmpfile();
    settings.messages = messages;
    std::atomic<std::uint64_t> scanned = 0;
    std::atomic<bool> killed = false;
    std::uint64_t after_kill = 0;
    int status = -1;
    std::thread task([&] {
        status = run_task<NarrowProfile>(run.plan, run.folder(), 0, settings,
                                         [&](std::uint64_t, int, auto&) {
                                             ++scanned;
                                             if (killed) ++after_kill;
                                         });
    });
    while (scanned < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(driver, SIGKILL);
    killed = true;
    task.join();
    waitpid(driver, nullptr, 0);
    EXPECT_EQ(status, 1);
    // The watch looks five times a second: some 20 windows more at most.
    EXPECT_LT(scanned.load(), 100u);
    std::rewind(messages);
    char text[400] = {};
    ASSERT_NE(std::fgets(text, sizeof text, messages), nullptr);
    std::fclose(messages);
    EXPECT_NE(std::string(text).find("has ended: stopped in window"), std::string::npos) << text;
    // The windows scanned before the stop are in the checkpoint.
    const std::uint64_t kept = run_progress(run.plan, run.folder()).windows_done;
    EXPECT_GE(kept + 1, scanned.load());
    EXPECT_GE(kept, 5u);
    // Again, watching a driver that lives on (this process): to its end.
    std::uint64_t first = 0;
    bool any = false;
    settings.driver = getpid();
    settings.messages = stderr;
    ASSERT_EQ(run_task<NarrowProfile>(run.plan, run.folder(), 0, settings,
                                      [&](std::uint64_t k, int, auto&) {
                                          if (!any) first = k;
                                          any = true;
                                      }),
              0);
    EXPECT_EQ(first, kept);
    run.expect_one_run();
}

// --status's figures from the files alone: windows and n done, the tasks not
// done, and a time left only once a window has finished.
TEST(TaskStatus, FiguresFromTheCheckpointsAndLogs) {
    PlannedRun<NarrowProfile> run("morvane", 97, 1000000, 1, 10, 3);
    RunProgress progress = run_progress(run.plan, run.folder());
    EXPECT_EQ(progress.windows, 10u);
    EXPECT_EQ(progress.windows_done, 0u);
    EXPECT_EQ(progress.todo, (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_NE(
        status_text(run.plan, progress).find("time left: not known until a window has finished"),
        std::string::npos);
    ASSERT_EQ(run.task(1), 0);
    progress = run_progress(run.plan, run.folder());
    const auto [begin, end] = run.plan.windows.task_windows(1);
    const auto [a, b] = run.plan.windows.task_range(1);
    EXPECT_EQ(progress.windows_done, end - begin);
    EXPECT_EQ(std::uint64_t(progress.n_done), b - a + 1);
    EXPECT_EQ(progress.todo, (std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(progress.tasks_done, 1u);
    EXPECT_EQ(progress.running, 0u);
    const std::string text = status_text(run.plan, progress);
    EXPECT_NE(text.find("windows: " + std::to_string(end - begin) + " of 10 done\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("of one core; no task is running now"), std::string::npos) << text;
}

}  // namespace
}  // namespace morvane::testing
