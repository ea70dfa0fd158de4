// The numeric profiles of the experiment.
//
// Everything in core/ is written once over a profile: `Count` holds n, N, nmin,
// the Q count and the sieve's multiples; `Real` holds the excesses, as the
// profile's `Density` computes them from n and C(n). The narrow profile is
// morvane's, the extended one morvane-l's; the exact one, morvane-x's, is in
// exact_density.hpp, apart from these two, since it needs a big-integer library.
#pragma once

#include <cstdint>
#include <limits>

#include "arith/prime_set.hpp"
#include "profiles/float_density.hpp"

namespace morvane {

struct NarrowProfile {
    using Count = std::uint32_t;
    using Primes = TablePrimes;
    using Density = FloatDensity<double>;
    using Real = Density::Real;
    // Counts go to printf as this type, with the conversion in the formats below;
    // the excess as Density::Printed.
    using Printed = unsigned;
    // The sets the program takes: the squares of the primes up to p <= 97.
    static constexpr bool any_set = false;
    static constexpr const char* record_format = "%u %u %.12f\n";
    static constexpr const char* summary_format = "%u %u\n";
};

struct ExtendedProfile {
    using Count = std::uint64_t;
    using Primes = TablePrimes;
    using Density = FloatDensity<long double>;
    using Real = Density::Real;
    using Printed = unsigned long long;
    static constexpr bool any_set = false;
    static constexpr const char* record_format = "%llu %llu %.12f\n";
    static constexpr const char* summary_format = "%llu %llu\n";
};

// The extended records are defined by the x87 format (64-bit significand), in
// which every 64-bit count converts exactly. That is asserted where morvane-l is
// built, not here: on a target whose long double is narrower, morvane and its
// tests still build, and the build leaves out morvane-l.
static_assert(std::numeric_limits<NarrowProfile::Real>::digits == 53);

}  // namespace morvane
