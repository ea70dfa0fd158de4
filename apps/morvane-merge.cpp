// morvane-merge: the record files of consecutive window runs merged into the
// two files of one run over the whole range, byte for byte. Also what
// morvane-par runs: the window plan (the run's arguments read as the program
// reads them, the windows and the tasks), each task's windows with their
// checkpoint, the final merge and check, and the status of a run. And what
// morvane-par and morvane-plot ask instead of reading the formats themselves:
// the fields of a plan and of a record file's name, a run's file names, the
// engine copies in a task's log, the programs.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "instances/windows.hpp"
#include "run/by_name.hpp"
#include "windows/record_merge.hpp"
#include "windows/record_name_fields.hpp"
#include "windows/run_plan.hpp"
#include "windows/run_status.hpp"
#include "windows/window_plan.hpp"
#include "windows/window_task.hpp"

namespace {

constexpr const char usage[] =
    "Usage: morvane-merge [-p P] PROGRAM [-k K] FILE...\n"
    "       morvane-merge --plan [--head] [--shifted] JOBS WINDOWS TASKS PROGRAM p [N [nmin]]\n"
    "       morvane-merge --task WORK TASK\n"
    "       morvane-merge --finish WORK\n"
    "       morvane-merge --status [--line | --todo] WORK\n"
    "       morvane-merge --status --done WORK\n"
    "       morvane-merge --copies WORK\n"
    "       morvane-merge --plan-field WORK [FIELD...]\n"
    "       morvane-merge --names PROGRAM [-r] [-k K] p [N [nmin]]\n"
    "       morvane-merge --p-position PROGRAM [ARGUMENT...]\n"
    "       morvane-merge --name-fields FILE [FIELD...]\n"
    "       morvane-merge --programs\n"
    "\n"
    "Merges the Q and F record files of consecutive windows of a run of PROGRAM\n"
    "(morvane, morvane-l or morvane-x), given in any order, into the two files\n"
    "the run over the whole range writes, in the current folder; with the\n"
    "record runs of morvane-x -r (maxrunQ_...) of every window, the third too.\n"
    "  -p P      p as PROGRAM reads its first argument; needed when the p text in\n"
    "            the names is empty (a first argument such as +7)\n"
    "  -k K      morvane-x: the power, as the names give it when it is not 2\n"
    "The window runs of morvane-par, whose work folder WORK holds their plan:\n"
    "  --plan    prints the run PROGRAM's arguments ask for, its windows and tasks\n"
    "            (WINDOWS 0: the default for JOBS jobs; TASKS 0: four per job),\n"
    "            or PROGRAM's message; --head: a short first window, the head,\n"
    "            as a task of its own, run while GNU parallel starts; --shifted: the\n"
    "            windows of a double check, cut at the middles of those planned\n"
    "  --task    runs task TASK of the plan in WORK, from its checkpoint on\n"
    "  --finish  merges the tasks' files into the run's two files in the current\n"
    "            folder\n"
    "  --status  how far the run in WORK has come, and the time left; --line: as\n"
    "            one line; --todo: the tasks not done, as Slurm's --array takes them\n"
    "What morvane-par and morvane-plot ask, one value a line:\n"
    "  --done        with --status: the number of windows done\n"
    "  --copies      the engine copies the tasks in WORK ran with, as a,b\n"
    "  --plan-field  each FIELD of the plan in WORK (-: the plan on standard\n"
    "                input), or the whole plan: program p k ptext N N-argument\n"
    "                nmin nmin-argument last windows tasks head shifted runs\n"
    "  --names       the Q and F file names of the run PROGRAM's arguments ask\n"
    "                for (and the record runs' with -r), or PROGRAM's message\n"
    "  --p-position  which of PROGRAM's arguments is p: 1, or later after -r\n"
    "                and -k K\n"
    "  --name-fields each FIELD of FILE's name, or all as name value lines:\n"
    "                kind ptext pnumber p k nmin; or, status 1, why no program\n"
    "                writes that name\n"
    "  --programs    the programs' names\n"
    "\n"
    "Exit status: 0 merged, 1 refused (the message names the file), 2 wrong usage.\n";

int misuse(const std::string& what) {
    std::fprintf(stderr, "morvane-merge: %s\n%s", what.c_str(), usage);
    return 2;
}

// Prints text; status 1 when it could not be written.
int print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The run and its plan (run_plan.hpp), or the program's message for refused
// arguments and status 1.
template <class Profile>
int plan(const std::string& program, std::uint64_t jobs, std::uint64_t windows, std::uint64_t tasks,
         bool head, bool shifted, int argc, char** argv) {
    morvane::RunParameters<Profile> run;
    if (const char* error = morvane::read_program_arguments(argc, argv, run)) {
        if (error == morvane::no_p_given) return misuse("--plan needs p");
        std::printf("%s\n", error);  // the program's own message and status
        return 1;
    }
    // Where the excess repeats, the windows end one period after the scan's
    // start, as the program's own scan does.
    const std::uint64_t start = run.nmin > 1 ? run.nmin : 1;
    const std::uint64_t N = run.N;
    const std::uint64_t last = morvane::last_record_n<Profile>(run.set, start, N, run.runs);
    morvane::RunPlan plan{program, run.set, run.p_text, {}, {}, {}, run.runs};
    plan.windows = morvane::make_window_plan(N, run.nmin, last, windows, tasks ? tasks : 4 * jobs,
                                             jobs, head ? morvane::head_start_window : 0);
    if (shifted) {
        const auto second = morvane::shifted_window_plan(plan.windows, 0);
        if (!second) {
            std::fprintf(stderr,
                         "morvane-merge: windows of a single n cannot be cut at their middles: "
                         "give fewer windows\n");
            return 1;
        }
        plan.windows = *second;
    }
    std::fputs(morvane::plan_text(plan).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The tasks' files merged into the run's files here. Each window's records
// were checked before its task merged them; the merge reads each task file's
// form and excesses once more, and morvane-par has morvane-check check the
// merged files.
template <class Profile>
void finish(const morvane::RunPlan& plan, const std::string& work) {
    using Count = typename Profile::Count;
    const auto& w = plan.windows;
    std::vector<std::string> paths;
    for (std::uint64_t t = 0; t < w.tasks; ++t)
        for (const char kind : {'Q', 'F', 'R'})
            if (kind != 'R' || plan.runs) paths.push_back(morvane::task_file(work, plan, kind, t));
    const std::string p = morvane::bound_text(plan.set);
    std::optional<Count> through;
    if (w.last != w.N) through = static_cast<Count>(w.N);
    morvane::merge_record_files<Profile>(plan.program, {p.c_str(), plan.set.k}, paths, ".",
                                         through);
}

// Task numbers as Slurm's --array takes them: "0-3,7,9-12".
std::string task_ranges(const std::vector<std::uint64_t>& tasks) {
    std::string text;
    for (std::size_t i = 0; i < tasks.size();) {
        std::size_t j = i;
        while (j + 1 < tasks.size() && tasks[j + 1] == tasks[j] + 1) ++j;
        if (!text.empty()) text += ',';
        text += std::to_string(tasks[i]);
        if (j > i) {
            text += '-';
            text += std::to_string(tasks[j]);
        }
        i = j + 1;
    }
    return text;
}

// A positive decimal option value, or 0.
std::uint64_t option_count(const char* s) {
    const auto n = morvane::read_printed_count<std::uint64_t>(s);
    return n ? *n : 0;
}

// Calls body(profile, plan) for the plan in WORK; the message and status 1 for
// a work folder without a sound plan.
template <class Body>
int with_plan(const std::string& work, Body&& body) {
    try {
        const morvane::RunPlan plan = morvane::read_run_plan(work + "/plan");
        int status = 0;
        const bool known = morvane::with_profile(plan.program, [&](auto profile) {
            if (!morvane::takes_set<decltype(profile)>(plan.set))
                throw morvane::MergeRefusal(work + "/plan", "its set is not one " + plan.program +
                                                                " takes");
            if (plan.runs && !decltype(profile)::any_set)
                throw morvane::MergeRefusal(work + "/plan",
                                            "record runs, which " + plan.program + " does not find");
            status = body(profile, plan);
        });
        if (!known)
            throw morvane::MergeRefusal(work + "/plan",
                                        "names no program of this build: " + plan.program);
        return status;
    } catch (const morvane::MergeRefusal& refusal) {
        std::fprintf(stderr, "morvane-merge: %s\n", refusal.what());
        return 1;
    }
}

// A task that morvane-par runs on this machine stops when morvane-par has
// ended (MORVANE_PAR_PID, its pid); its messages may then go nowhere.
morvane::TaskSettings task_settings() {
    morvane::TaskSettings settings;
    const char* driver = std::getenv("MORVANE_PAR_PID");
    const auto pid = morvane::read_printed_count<std::uint32_t>(driver ? driver : "");
    if (pid && *pid > 0 && *pid <= 0x7fffffff) {
        settings.driver = static_cast<int>(*pid);
        std::signal(SIGPIPE, SIG_IGN);
    }
    return settings;
}

int work_mode(const std::string& mode, int argc, char** argv) {
    if (mode == "--task") {
        if (argc != 4) return misuse("--task needs WORK and TASK");
        const std::string task_text = argv[3];
        const auto task = morvane::read_printed_count<std::uint64_t>(task_text);
        if (!task) return misuse("TASK must be a whole number");
        return with_plan(argv[2], [&](auto profile, const morvane::RunPlan& plan) {
            return morvane::run_task<decltype(profile)>(plan, argv[2], *task, task_settings());
        });
    }
    if (mode == "--finish") {
        if (argc != 3) return misuse("--finish needs WORK");
        return with_plan(argv[2], [&](auto profile, const morvane::RunPlan& plan) {
            finish<decltype(profile)>(plan, argv[2]);
            return 0;
        });
    }
    // --status
    std::string how = argc > 2 ? argv[2] : "";
    if (how != "--line" && how != "--todo" && how != "--done") how.clear();
    const int at = how.empty() ? 2 : 3;
    if (argc != at + 1) return misuse("--status needs WORK");
    const std::string work = argv[at];
    return with_plan(work, [&](auto, const morvane::RunPlan& plan) {
        const morvane::RunProgress run = morvane::run_progress(plan, work);
        std::string text;
        if (how == "--line")
            text = morvane::progress_line(run) + "\n";
        else if (how == "--todo")
            text = task_ranges(run.todo) + "\n";
        else if (how == "--done")
            text = std::to_string(run.windows_done) + "\n";
        else
            text = morvane::status_text(plan, run);
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    });
}

// --plan-field WORK [FIELD...]: the plan in WORK, or with "-" the plan on
// standard input as --plan prints it (before morvane-par has a work folder).
int plan_fields(int argc, char** argv) {
    if (argc < 3) return misuse("--plan-field needs WORK");
    const std::string work = argv[2];
    try {
        const morvane::RunPlan plan =
            morvane::read_run_plan(work == "-" ? "/dev/stdin" : work + "/plan");
        std::string text = argc == 3 ? morvane::plan_text(plan) : "";
        for (int i = 3; i < argc; ++i) {
            const auto value = morvane::plan_field(plan, argv[i]);
            if (!value) return misuse(std::string("no field '") + argv[i] + "' in a plan");
            text += *value + "\n";
        }
        return print(text);
    } catch (const morvane::MergeRefusal& refusal) {
        std::fprintf(stderr, "morvane-merge: %s\n", refusal.what());
        return 1;
    }
}

// The engine copies that the tasks of a run scanned with, each once and in
// order, "first,second": from the line that each session of a task writes
// first to its log (task_log.hpp).
std::string engine_copies(const morvane::RunPlan& plan, const std::string& work) {
    std::set<std::string> copies;
    for (std::uint64_t t = 0; t < plan.windows.tasks; ++t) {
        std::ifstream log(morvane::task_log(work, t));
        std::string line;
        while (std::getline(log, line))
            if (const auto session = morvane::read_log_start(line.c_str()))
                copies.insert(session->engine);
    }
    std::string text;
    for (const std::string& copy : copies) text += (text.empty() ? "" : ",") + copy;
    return text;
}

// --names PROGRAM [-r] [-k K] p [N [nmin]]: the run's record files, named as
// the program names them (the record runs' third with -r), or its message and
// status 1.
template <class Profile>
int run_names(int argc, char** argv) {
    morvane::RunParameters<Profile> run;
    if (const char* error = morvane::read_program_arguments(argc, argv, run)) {
        if (error == morvane::no_p_given) return misuse("--names needs p");
        std::printf("%s\n", error);
        return 1;
    }
    std::string text;
    for (const char kind : {'Q', 'F', 'R'})
        if (kind != 'R' || run.runs)
            text += morvane::record_file_name(kind, run.p_text.c_str(), run.nmin) + "\n";
    return print(text);
}

bool is_program(const std::string& name) {
    for (const auto program : morvane::program_names)
        if (program == name) return true;
    return false;
}

// --p-position PROGRAM [ARGUMENT...]: where p stands among the arguments, past
// morvane-x's options, -r and the power "-k K" or "-kK", read as the program
// reads them.
int p_position(int argc, char** argv) {
    if (argc < 3) return misuse("--p-position needs PROGRAM");
    if (!is_program(argv[2])) return misuse(std::string("unknown PROGRAM '") + argv[2] + "'");
    int at = 3, k = 0;
    bool runs = false;
    if (morvane::takes_power(argv[2])) morvane::read_set_options(argc, argv, at, k, runs);
    return print(std::to_string(at - 2) + "\n");
}

// --name-fields FILE [FIELD...]: each FIELD's value, or every field as "name
// value" lines; a name no program writes gets its reason on standard output,
// for the caller's own message, and status 1.
int name_fields(int argc, char** argv) {
    if (argc < 3) return misuse("--name-fields needs FILE");
    const std::string path = argv[2];
    const bool asked = argc > 3;
    std::vector<std::string> fields(argv + 3, argv + argc);
    if (!asked)
        fields.assign(std::begin(morvane::name_field_names), std::end(morvane::name_field_names));
    for (const std::string& field : fields)
        if (std::find(std::begin(morvane::name_field_names), std::end(morvane::name_field_names),
                      field) == std::end(morvane::name_field_names))
            return misuse("no field '" + field + "' in a record file's name");
    try {
        const morvane::NameFields parts = morvane::name_fields(path);
        std::string text;
        for (const std::string& field : fields)
            text += (asked ? "" : field + " ") + *morvane::name_field(parts, field, path) + "\n";
        return print(text);
    } catch (const morvane::MergeRefusal& refusal) {
        std::printf("%s\n", refusal.what());
        return 1;
    }
}

// The commands that only answer a question; nothing for any other.
std::optional<int> query_mode(const std::string& mode, int argc, char** argv) {
    if (mode == "--plan-field") return plan_fields(argc, argv);
    if (mode == "--copies") {
        if (argc != 3) return misuse("--copies needs WORK");
        return with_plan(argv[2], [&](auto, const morvane::RunPlan& plan) {
            return print(engine_copies(plan, argv[2]) + "\n");
        });
    }
    if (mode == "--names") {
        if (argc < 4) return misuse("--names needs PROGRAM and p");
        const std::string program = argv[2];
        int status = 0;
        if (!morvane::with_profile(program, [&](auto profile) {
                status = run_names<decltype(profile)>(argc - 2, argv + 2);
            }))
            return misuse("unknown PROGRAM '" + program + "'");
        return status;
    }
    if (mode == "--p-position") return p_position(argc, argv);
    if (mode == "--name-fields") return name_fields(argc, argv);
    if (mode == "--programs") {
        if (argc != 2) return misuse("--programs takes no argument");
        std::string text;
        for (const auto program : morvane::program_names) text += std::string(program) + "\n";
        return print(text);
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(usage, stdout);
        return 0;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (first == "--plan") {
        int at = 2;  // JOBS
        const bool head = argc > at && std::string(argv[at]) == "--head";
        at += head;
        const bool shifted = argc > at && std::string(argv[at]) == "--shifted";
        at += shifted;
        if (argc < at + 5) return misuse("--plan needs JOBS, WINDOWS, TASKS, PROGRAM and p");
        const std::uint64_t jobs = option_count(argv[at]);
        const std::string windows_text = argv[at + 1], tasks_text = argv[at + 2];
        const std::uint64_t windows = option_count(argv[at + 1]);
        const std::uint64_t tasks = option_count(argv[at + 2]);
        if (jobs == 0) return misuse("JOBS must be a whole number from 1");
        if (windows == 0 && windows_text != "0") return misuse("WINDOWS must be a whole number");
        if (tasks == 0 && tasks_text != "0") return misuse("TASKS must be a whole number");
        const std::string program = argv[at + 3];
        int status = 0;
        if (!morvane::with_profile(program, [&](auto profile) {
                status = plan<decltype(profile)>(program, jobs, windows, tasks, head, shifted,
                                                 argc - at - 3, argv + at + 3);
            }))
            return misuse("unknown PROGRAM '" + program + "'");
        return status;
    }
    if (first == "--task" || first == "--finish" || first == "--status")
        return work_mode(first, argc, argv);
    if (const auto status = query_mode(first, argc, argv)) return *status;

    int i = 1;
    const char* p_argument = nullptr;
    if (first == "-p") {
        if (argc < 3) return misuse("-p needs a value");
        p_argument = argv[2];
        i = 3;
    } else if (first.rfind("-p", 0) == 0) {
        p_argument = argv[1] + 2;
        i = 2;
    }
    if (i < argc && std::string(argv[i]) == "--") ++i;
    if (i >= argc) return misuse("no PROGRAM");
    const std::string program = argv[i++];
    if (!program.empty() && program[0] == '-') return misuse("unknown option " + program);
    int k = 0;
    if (morvane::takes_power(program))
        if (const char* error = morvane::read_power_option(argc, argv, i, k)) return misuse(error);
    if (i >= argc) return misuse("no FILE");
    const std::vector<std::string> files(argv + i, argv + argc);
    int status = 0;
    const bool known = morvane::with_profile(program, [&](auto profile) {
        try {
            morvane::merge_record_files<decltype(profile)>(program, {p_argument, k}, files, ".");
        } catch (const morvane::MergeRefusal& refusal) {
            std::fprintf(stderr, "morvane-merge: %s\n", refusal.what());
            status = 1;
        }
    });
    if (!known) return misuse("unknown PROGRAM '" + program + "'");
    return status;
}
