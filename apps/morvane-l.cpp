// morvane-l: the experiment in 64-bit counts and the x87 80-bit extended format.
#include "command_line.hpp"

int main(int argc, char** argv) {
    return morvane::run_command_line<morvane::ExtendedProfile>(argc, argv);
}
