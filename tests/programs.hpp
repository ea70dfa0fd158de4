// The built programs and the record files that both of them write alike.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.hpp"

namespace morvane::testing {

struct Program {
    const char* name;  // for test names
    const char* path;
    const char* data;  // its folder in tests/data
    const char* usage;  // the first line of its usage text
};

// Test names show the program's name instead of the structure's bytes.
inline void PrintTo(const Program& program, std::ostream* os) { *os << program.name; }

// morvane-l prints morvane's usage text; morvane-x has its own.
inline constexpr const char narrow_usage[] = "Program usage: morvane p N [nmin]";
inline const Program narrow{"morvane", MORVANE_PATH, "morvane", narrow_usage};
#ifdef MORVANE_L_PATH
inline const Program extended{"morvane_l", MORVANE_L_PATH, "morvane-l", narrow_usage};
#endif
#ifdef MORVANE_X_PATH
inline const Program exact{"morvane_x", MORVANE_X_PATH, "morvane-x",
                           "Program usage: morvane-x [-r] [-k K] p|all N [nmin]"};
#endif

inline std::vector<Program> all_programs() {
    return {narrow,
#ifdef MORVANE_L_PATH
            extended,
#endif
#ifdef MORVANE_X_PATH
            exact,
#endif
    };
}

// The programs with 64-bit counts.
inline std::vector<Program> wide_programs() {
    return {
#ifdef MORVANE_L_PATH
        extended,
#endif
#ifdef MORVANE_X_PATH
        exact,
#endif
    };
}

inline std::string program_name(const ::testing::TestParamInfo<Program>& info) {
    return info.param.name;
}

// p = 2, N = 10: delta = 0.25 exactly, so every program writes these bytes.
inline const std::string p2_q = "4 1 0.000000000000\n10 2\n";
inline const std::string p2_f =
    "1 1 0.250000000000\n"
    "2 2 0.500000000000\n"
    "3 3 0.750000000000\n"
    "10 8\n";

using Args = std::vector<std::string>;
using Names = std::vector<std::string>;

// The two files of a run that must succeed silently, Q file first, from a
// folder of their own that holds nothing else afterwards.
std::pair<std::string, std::string> files_of(const std::string& program, const Args& args,
                                             const std::string& q_name,
                                             const std::string& f_name);

inline const std::string bad_p = "Error: value of p out of range\n";
inline const std::string small_N = "Error: value of N too small\n";
inline const std::string big_nmin = "Error: The value specified for n1 is larger than N\n";

inline std::string cannot_create(const std::string& name) {
    return "The file " + name + " could not be created for writing. Aborting program.";
}
inline std::string unwritable(const std::string& name) {
    return "Error: could not write the file " + name + "\n";
}

struct Refusal {
    Args args;
    const std::string& message;
};

// Each case in a fresh folder: status 1, the message alone, no file created.
void expect_refusals(const std::string& program, const std::vector<Refusal>& cases);

// The record lines' n, in order, without the summary line.
std::vector<std::string> record_ns(const std::string& file);

}  // namespace morvane::testing
