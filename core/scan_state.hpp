#pragma once

#include "profile.hpp"

namespace morvane {

// What a scan carries from one n to the next: C(n) and the two running extremes.
template <class Profile>
struct ScanState {
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    Count count = 0;
    // The first Q record needs an excess above -1e-12, so that an excess of zero,
    // or one below zero by rounding only, is recorded. The binary64 constant is
    // widened exactly in the extended profile.
    Real maxQ = static_cast<Real>(-1e-12);
    // Lowest count - delta*n at an F-number so far: minus the highest F-excess.
    Real minE = 0;
};

}  // namespace morvane
