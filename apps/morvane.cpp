// morvane: the experiment in 32-bit counts and binary64.
#include "run/programs.hpp"

int main(int argc, char** argv) {
    return morvane::run_command_line<morvane::NarrowProfile>(argc, argv);
}
