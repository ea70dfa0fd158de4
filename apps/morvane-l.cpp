// morvane-l: the experiment in 64-bit counts and the x87 80-bit extended format.
#include <limits>

#include "run/programs.hpp"

// Another long double format would write other records: refuse to build.
static_assert(std::numeric_limits<morvane::ExtendedProfile::Real>::digits == 64,
              "morvane-l needs long double with a 64-bit significand (x86-64 extended)");

int main(int argc, char** argv) {
    return morvane::run_command_line<morvane::ExtendedProfile>(argc, argv);
}
