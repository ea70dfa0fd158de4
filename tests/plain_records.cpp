// Writes the record files of one run with the plain per-n scan, in the current
// folder, exactly as the programs would name and fill them. It makes the
// reference files in tests/data that the fast engine is checked against:
//
//   plain_records morvane|morvane-l p [N [nmin]]
#include <cstdio>
#include <string>

#include "run/command_line.hpp"

int main(int argc, char** argv) {
    using namespace morvane;
    const std::string program = argc > 2 ? argv[1] : "";
    // From here on the arguments are the program's own command line.
    if (program == "morvane")
        return run_command_line<NarrowProfile>(argc - 1, argv + 1, ScanEngine::plain);
    if (program == "morvane-l")
        return run_command_line<ExtendedProfile>(argc - 1, argv + 1, ScanEngine::plain);
    std::fputs("usage: plain_records morvane|morvane-l p [N [nmin]]\n", stderr);
    return 2;
}
