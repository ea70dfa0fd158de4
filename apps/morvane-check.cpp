// morvane-check: the record files of a run checked on their own, without
// scanning again: each line as the program prints it, every count against C(n)
// counted afresh, every excess as the program computes it, the records rising
// from their thresholds, the summary counts; and a file of record runs, each
// run's numbers proved Q-numbers and its neighbours F-numbers. Reads only.
#include <cstdio>
#include <string>

#include "instances/windows.hpp"
#include "run/by_name.hpp"
#include "windows/record_check.hpp"

namespace {

constexpr const char usage[] =
    "Usage: morvane-check [-p P] PROGRAM [-k K] FILE...\n"
    "\n"
    "Checks record files of PROGRAM (morvane, morvane-l or morvane-x), Q and F\n"
    "files alike, each on its own and without scanning again: every line as\n"
    "PROGRAM prints it, every count against C(n) counted afresh for the set and\n"
    "power of the names, every excess as PROGRAM computes it, the records rising from\n"
    "their thresholds, and the summary count. A file of record runs of\n"
    "morvane-x -r (maxrunQ_...): every n of each record run proved a Q-number,\n"
    "the numbers just before and after it F-numbers, the records rising, and\n"
    "the summary. Prints nothing when all is well; one line for each bad file\n"
    "otherwise.\n"
    "  -p P   p as PROGRAM reads its first argument; needed when the p text in\n"
    "         the names is empty (a first argument such as +7)\n"
    "  -k K   morvane-x: the power, as the names give it when it is not 2\n"
    "\n"
    "Exit status: 0 all good, 1 a bad file (the message names it and its line),\n"
    "2 wrong usage.\n";

int misuse(const std::string& what) {
    std::fprintf(stderr, "morvane-check: %s\n%s", what.c_str(), usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return misuse("no PROGRAM");
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        std::fputs(usage, stdout);
        return 0;
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
    int k = 0;
    if (program == "morvane-x")
        if (const char* error = morvane::read_power_option(argc, argv, i, k)) return misuse(error);
    if (i >= argc) return misuse("no FILE");
    int status = 0;
    const bool known = morvane::with_profile(program, [&](auto profile) {
        for (; i < argc; ++i) {
            try {
                morvane::check_record_file<decltype(profile)>(program, {p_argument, k}, argv[i]);
            } catch (const morvane::MergeRefusal& refusal) {
                std::fprintf(stderr, "morvane-check: %s\n", refusal.what());
                status = 1;
            }
        }
    });
    if (!known) return misuse("unknown PROGRAM '" + program + "'");
    if (std::fflush(stderr) != 0) return 1;
    return status;
}
