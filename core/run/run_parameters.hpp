#pragma once

#include <cstdint>

namespace morvane {

// Validated parameters of one run.
template <class Profile>
struct RunParameters {
    using Count = typename Profile::Count;
    std::int32_t p;      // 2..97, not necessarily prime
    const char* p_text;  // the first argument cut at its first non-digit; names the files
    Count N;             // last n scanned
    Count nmin;          // first n that may write a record
};

}  // namespace morvane
