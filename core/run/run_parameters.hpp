#pragma once

#include <cstdint>
#include <string>

#include "arith/prime_set.hpp"

namespace morvane {

// Validated parameters of one run.
template <class Profile>
struct RunParameters {
    using Count = typename Profile::Count;
    std::int32_t p;      // morvane and morvane-l: 2..97, not necessarily prime
    std::string p_text;  // the first argument cut at its first non-digit (or "all"),
                         // with the power when it is not 2; names the files
    Count N;             // last n scanned
    Count nmin;          // first n that may write a record
    PrimeSet set;        // the primes and the power that make a Q-number
    bool runs = false;   // also the record runs of Q-numbers (morvane-x -r)
};

}  // namespace morvane
