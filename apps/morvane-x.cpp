// morvane-x: the experiment in 64-bit counts with the exact excess.
#include "profiles/exact_density.hpp"
#include "run/command_line.hpp"

int main(int argc, char** argv) {
    return morvane::run_command_line<morvane::ExactProfile>(argc, argv);
}
