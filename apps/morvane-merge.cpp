// morvane-merge: the record files of consecutive window runs merged into the
// two files of one run over the whole range, byte for byte. Also the window
// plan that morvane-par runs: the run's arguments read as the program reads
// them, and the windows.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "run/command_line.hpp"
#include "windows/record_merge.hpp"
#include "windows/window_plan.hpp"
#ifdef MORVANE_MERGE_EXACT
#include "profiles/exact_density.hpp"
#endif

namespace {

constexpr const char usage[] =
    "Usage: morvane-merge [-p P] PROGRAM FILE...\n"
    "       morvane-merge --plan [--head] JOBS WINDOWS PROGRAM p [N [nmin]]\n"
    "\n"
    "Merges the Q and F record files of consecutive windows of a run of PROGRAM\n"
    "(morvane, morvane-l or morvane-x), given in any order, into the two files\n"
    "the run over the whole range writes, in the current folder.\n"
    "  -p P   p as PROGRAM reads its first argument; needed when the p text in\n"
    "         the names is empty (a first argument such as +7)\n"
    "  --plan prints the run PROGRAM's arguments ask for and its windows\n"
    "         (WINDOWS 0: the default for JOBS jobs), or PROGRAM's message;\n"
    "         --head: a short first window, the head, run while GNU parallel starts\n"
    "\n"
    "Exit status: 0 merged, 1 refused (the message names the file), 2 wrong usage.\n";

int misuse(const std::string& what) {
    std::fprintf(stderr, "morvane-merge: %s\n%s", what.c_str(), usage);
    return 2;
}

// Calls body with a value of the profile of the program so named; false when
// there is none.
template <class Body>
bool with_profile(const std::string& program, Body&& body) {
    if (program == "morvane") return body(morvane::NarrowProfile{}), true;
#ifdef MORVANE_MERGE_EXTENDED
    if (program == "morvane-l") return body(morvane::ExtendedProfile{}), true;
#endif
#ifdef MORVANE_MERGE_EXACT
    if (program == "morvane-x") return body(morvane::ExactProfile{}), true;
#endif
    return false;
}

// A count as an argument text that the programs read back as that count: the
// C library saturates beyond the signed 64-bit range, so a count above it is
// given as its negative, which wraps to it (-1 is 2^64 - 1).
std::string argument_text(std::uint64_t count) {
    if (count <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::to_string(count);
    std::string text = std::to_string(-count);
    text.insert(text.begin(), '-');
    return text;
}

// The whole run and its windows, one line each, every count followed by its
// argument text:
//   p 97 / ptext 97 / N 1000 1000 / nmin 1 1 / window 1 500 1 500 / ...
// (the first window's line begins with "head" when it is a head start).
template <class Profile>
int plan(std::uint64_t jobs, std::uint64_t windows, bool head, int argc, char** argv) {
    const auto run = morvane::read_arguments<Profile>(argc, argv);
    if (const char* error = morvane::argument_error(run)) {
        std::printf("%s\n", error);  // the program's own message and status
        return 1;
    }
    const std::uint64_t first = run.nmin > 1 ? run.nmin : 1;
    const std::uint64_t length = static_cast<std::uint64_t>(run.N) - first + 1;
    if (windows == 0) windows = morvane::default_window_count(length, jobs);
    const auto both = [](std::uint64_t count) {
        return std::to_string(count) + " " + argument_text(count);
    };
    std::printf("p %d\nptext %s\nN %s\nnmin %s\n", static_cast<int>(run.p), run.p_text,
                both(run.N).c_str(), both(run.nmin).c_str());
    // A head only ahead of other windows; it is there when the split made one
    // window more than asked for.
    const auto list = morvane::split_windows(run.N, run.nmin, windows,
                                             head && windows > 1 ? morvane::head_start_window : 0);
    for (std::size_t k = 0; k < list.size(); ++k) {
        const auto [a, b] = list[k];
        std::printf("%s %s %s %s %s\n", k == 0 && list.size() > windows ? "head" : "window",
                    std::to_string(a).c_str(), std::to_string(b).c_str(), argument_text(a).c_str(),
                    argument_text(b).c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// A positive decimal option value, or 0.
std::uint64_t option_count(const char* s) {
    if (!*s || std::strlen(s) > 9) return 0;
    for (const char* c = s; *c; ++c)
        if (!morvane::is_digit(*c)) return 0;
    return std::stoull(s);
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
        const bool head = argc > 2 && std::string(argv[2]) == "--head";
        const int at = head ? 3 : 2;  // JOBS
        if (argc < at + 4) return misuse("--plan needs JOBS, WINDOWS, PROGRAM and p");
        const std::uint64_t jobs = option_count(argv[at]);
        const std::string windows_text = argv[at + 1];
        const std::uint64_t windows = windows_text == "0" ? 0 : option_count(argv[at + 1]);
        if (jobs == 0) return misuse("JOBS must be a whole number from 1");
        if (windows == 0 && windows_text != "0") return misuse("WINDOWS must be a whole number");
        int status = 0;
        if (!with_profile(argv[at + 2], [&](auto profile) {
                status = plan<decltype(profile)>(jobs, windows, head, argc - at - 2, argv + at + 2);
            }))
            return misuse(std::string("unknown PROGRAM '") + argv[at + 2] + "'");
        return status;
    }

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
    if (i >= argc) return misuse("no FILE");
    const std::vector<std::string> files(argv + i, argv + argc);
    int status = 0;
    const bool known = with_profile(program, [&](auto profile) {
        try {
            morvane::merge_record_files<decltype(profile)>(program, p_argument, files, ".");
        } catch (const morvane::MergeRefusal& refusal) {
            std::fprintf(stderr, "morvane-merge: %s\n", refusal.what());
            status = 1;
        }
    });
    if (!known) return misuse("unknown PROGRAM '" + program + "'");
    return status;
}
