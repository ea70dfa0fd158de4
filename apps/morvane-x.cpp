// morvane-x: the experiment in 64-bit counts with the exact excess, for any
// set of primes and power.
#include "run/morvane_x.hpp"

int main(int argc, char** argv) { return morvane::run_set_command_line(argc, argv); }
