// The fast scan's fixed point: excesses in units of 2^-32, and delta as the
// scan's filters see it.
#pragma once

#include <cstdint>

namespace morvane {

inline constexpr int unit_bits = 32;
inline constexpr std::int64_t unit = std::int64_t{1} << unit_bits;

// Thresholds and fixed-point sums stay within +-unit_limit; a threshold beyond it
// is cut to it, which only lets more n through.
inline constexpr std::int64_t unit_limit = std::int64_t{1} << 60;

// delta for the filters of a scan up to some last n, supplied by each profile's
// density. The scan keeps X(n) = C(n) * 2^scale - significand * n modulo 2^128
// and cuts it to units; what that misses of the profile's own excess is in slack.
struct FixedDelta {
    unsigned __int128 significand;    // delta * 2^scale, rounded down
    std::int64_t delta_lo, delta_hi;  // delta * 2^32 rounded down and up
    std::int64_t slack;               // units by which an excess may pass the bounds; 0 if exact
};

}  // namespace morvane
