// Why a record file, a plan or an output is refused: the file it concerns (or
// the output's name) and what is wrong with it, one line. Every reader of a
// window run's files throws it; morvane-merge and morvane-check print it.
#pragma once

#include <stdexcept>
#include <string>

namespace morvane {

struct MergeRefusal : std::runtime_error {
    MergeRefusal(const std::string& file, const std::string& fault)
        : std::runtime_error(file + ": " + fault) {}
};

}  // namespace morvane
