#pragma once

#include <cstdint>

#include "engine/q_runs.hpp"

namespace morvane {

// What a scan carries from one n to the next: C(n) and the two running extremes.
template <class Profile>
struct ScanState {
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    Count count = 0;
    // Highest Q-excess so far, or the threshold a first Q record must pass.
    Real maxQ = Profile::Density::q_start();
    // Lowest count - delta*n at an F-number so far: minus the highest F-excess.
    Real minE = 0;
    // The runs of consecutive Q-numbers, where the sink asks for them.
    QRuns runs;
};

}  // namespace morvane
