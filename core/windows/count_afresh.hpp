// The rule a record's count follows beyond its line: n is a number of the
// record's kind, and the count is C(n) (a Q record) or n - C(n) (an F record)
// counted afresh along the records' ascending n (count_walk.hpp), never by the
// engine's sieve or a file's own counts. A count that a fault changed together
// with its excess passes every rule of record_rules.hpp; it fails this one.
// morvane-check and a task's window check ask it, each in its own words.
#pragma once

#include <cstdint>

#include "windows/count_walk.hpp"

namespace morvane {

enum class CountFault {
    none,
    kind,   // n is not a number of the record's kind
    count,  // the count is not the one counted afresh
};

// The count a line of `kind` shows at n, counted afresh: C(n) in a Q line,
// n - C(n) in an F line. The walk's n ascend from one call to the next.
inline std::uint64_t count_afresh(CountWalk& walk, char kind, std::uint64_t n) {
    const std::uint64_t c = walk.at(n);
    return kind == 'Q' ? c : n - c;
}

// The fault of a record of `kind` at n that shows `count`; `afresh` receives
// the count it should show, once n is found of its kind.
inline CountFault count_fault(CountWalk& walk, char kind, std::uint64_t n, std::uint64_t count,
                              std::uint64_t& afresh) {
    if (walk.is_q_number(n) != (kind == 'Q')) return CountFault::kind;
    afresh = count_afresh(walk, kind, n);
    return count == afresh ? CountFault::none : CountFault::count;
}

}  // namespace morvane
