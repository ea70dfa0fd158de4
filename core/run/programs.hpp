// morvane's and morvane-l's whole program, compiled once in the library
// (instances/narrow.cpp, instances/extended.cpp; command_line.hpp defines it):
// the front ends need nothing else.
#pragma once

#include <cfloat>

#include "profiles/profile.hpp"
#include "run/scan_engine.hpp"

namespace morvane {

// Reads the arguments, runs, writes the files; the exit status.
template <class Profile>
int run_command_line(int argc, char** argv, ScanEngine engine = ScanEngine::fast);

extern template int run_command_line<NarrowProfile>(int, char**, ScanEngine);
#if LDBL_MANT_DIG == 64
extern template int run_command_line<ExtendedProfile>(int, char**, ScanEngine);
#endif

}  // namespace morvane
