// morvane-x's power on a command line, "-k K" or "-kK": before p on its own
// command line, after the program's name on those of morvane-merge and
// morvane-check.
#pragma once

#include <cstring>

#include "run/set_arguments.hpp"

namespace morvane {

// Reads the -k option at argv[i]: i moved past it and k set, or i and k left
// as they are when argv[i] is no -k. The message of a bad K; a -k without K
// is one ("Error: value of k is not a number").
inline const char* read_power_option(int argc, char** argv, int& i, int& k) {
    if (i >= argc || std::strncmp(argv[i], "-k", 2) != 0) return nullptr;
    const bool joined = argv[i][2] != '\0';
    const char* text = joined ? argv[i] + 2 : i + 1 < argc ? argv[i + 1] : "";
    i += joined ? 1 : 2;
    return read_power(text, k);
}

}  // namespace morvane
