// The fixture of the engine's differential tests, which CTest runs once in each
// copy of the scan's loops.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "engine/engine_copy.hpp"

namespace morvane::testing {

// CTest runs the engine's tests once for each copy of its loops, named in
// MORVANE_ENGINE; in a copy that this build or processor cannot run, they are
// skipped, by name, rather than run silently in another copy.
class EngineCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* asked = std::getenv("MORVANE_ENGINE");
        if (!asked || !*asked) return;
        for (EngineCopy copy : engine_copies)
            if (std::string(asked) == engine_copy_name(copy) && engine_copy_runs(copy)) return;
        GTEST_SKIP() << "the " << asked << " copy of the scan: not in this build, or not run by "
                     << "this processor";
    }
};

}  // namespace morvane::testing
