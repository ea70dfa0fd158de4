// morvane-x's whole program, compiled once in the library.
#include "run/set_command_line.hpp"

#include <cstdio>

#include "run/excess_scan.hpp"

namespace morvane {

int run_set_command_line(int argc, char** argv, ScanEngine engine) {
    RunParameters<ExactProfile> run{};
    run.N = 0;
    if (const char* error = read_set_arguments(argc, argv, run)) {
        std::printf("%s\n", error);
        return 1;
    }
    if (run.N == 0) {  // no p given
        std::printf("%s\n", set_usage_text);
        return 0;
    }
    try {
        return ExcessScan(run, engine);
    } catch (const UndecidedExcess& undecided) {
        std::printf("%s\n", undecided.what());
        return 1;
    }
}

}  // namespace morvane
