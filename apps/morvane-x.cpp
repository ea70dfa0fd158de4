// morvane-x: the experiment in 64-bit counts with the exact excess.
#include "command_line.hpp"
#include "exact_density.hpp"

int main(int argc, char** argv) {
    return morvane::run_command_line<morvane::ExactProfile>(argc, argv);
}
