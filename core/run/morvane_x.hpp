// morvane-x's whole program, compiled once in the library
// (set_command_line.cpp): the front end needs nothing else.
#pragma once

#include "run/scan_engine.hpp"

namespace morvane {

// Reads the arguments, runs, writes the files; the exit status.
int run_set_command_line(int argc, char** argv, ScanEngine engine = ScanEngine::fast);

}  // namespace morvane
