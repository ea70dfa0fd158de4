// A window's records checked before a task merges them, from n and the count
// alone, as morvane-check checks a file: the records' rules of a run that
// starts from the window's extremes (record_rules.hpp), every count against
// C(n) counted afresh (count_afresh.hpp), and the count at the window's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "arith/prime_set.hpp"
#include "engine/scan_state.hpp"
#include "windows/count_afresh.hpp"
#include "windows/record.hpp"
#include "windows/record_rules.hpp"
#include "windows/window_records.hpp"

namespace morvane {

namespace detail {

// The fault of a window's next record of `kind`, in the words of a task's
// message, or an empty text.
template <class Profile>
std::string window_record_fault(RecordRules<Profile>& rules, CountWalk& walk, char kind,
                                const Record<Profile>& r) {
    const std::string at = std::string(1, kind) + " record at n = " + std::to_string(r.n);
    switch (rules.next(r.n, r.count, [&](const auto& e) { return e == r.e; })) {
        case RecordFault::none: break;
        case RecordFault::order:
            return at + ": n is outside the window or not above the record before it";
        case RecordFault::excess:
            return at + ": the excess is not the one computed from n and C(n)";
        case RecordFault::threshold:
        case RecordFault::beat: return at + ": the excess does not beat the records before it";
    }
    std::uint64_t afresh = 0;
    switch (count_fault(walk, kind, r.n, r.count, afresh)) {
        case CountFault::none: break;
        case CountFault::kind:
            return at + ": n is not a" + std::string(kind == 'Q' ? " Q" : "n F") + "-number";
        case CountFault::count:
            return at + ": the count is " + std::to_string(r.count) + ", counted afresh " +
                   std::to_string(afresh);
    }
    return {};
}

}  // namespace detail

// The first fault of a window's records, or an empty text: each record inside
// the window, above the one before of its kind and beating it (the first
// beating the extreme the window started from), its excess the one the profile
// computes from n and the count, n a Q- or F-number as its kind says and the
// count C(n) (or n - C(n)) counted afresh; and C(N) at the end.
template <class Profile>
std::string window_fault(const typename Profile::Density& density, const PrimeSet& set,
                         const WindowRecords<Profile>& w) {
    CountWalk walk(set);
    ScanState<Profile> from;
    from.maxQ = w.maxQ;
    from.minE = w.minE;
    RecordRules<Profile> q_rules(density, 'Q', w.a, w.N, from), f_rules(density, 'F', w.a, w.N, from);
    // Both kinds in ascending n, for the walk.
    std::size_t i = 0, j = 0;
    while (i < w.q.size() || j < w.f.size()) {
        const bool is_q = j == w.f.size() || (i < w.q.size() && w.q[i].n < w.f[j].n);
        const std::string fault = is_q ? detail::window_record_fault(q_rules, walk, 'Q', w.q[i++])
                                       : detail::window_record_fault(f_rules, walk, 'F', w.f[j++]);
        if (!fault.empty()) return fault;
    }
    const std::uint64_t c = count_afresh(walk, 'Q', w.N);
    if (w.count != c)
        return "the count at N = " + std::to_string(w.N) + " is " + std::to_string(w.count) +
               ", counted afresh " + std::to_string(c);
    return {};
}

}  // namespace morvane
