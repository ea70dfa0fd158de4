// The rules the records of one kind follow, in a record file as in the
// records a window's scan hands over: each n in the run's range and above the
// record before it, each excess the one the profile computes from n and the
// count alone, and each beating the records before it, the first beating the
// extreme the run started from (the thresholds, -1e-12 for Q and 0 for F, in
// a run from the start). A summary line's N lies at or after the last record.
// A file's reader, morvane-check through it, and a task's window check all
// ask these rules, each in its own words.
#pragma once

#include <limits>

#include "engine/scan_state.hpp"

namespace morvane {

enum class RecordFault {
    none,
    order,      // n is outside the range, or not above the record before it
    excess,     // the excess shown is not the one computed from n and the count
    threshold,  // the first record does not beat the extreme the run starts from
    beat,       // a later record does not beat the ones before it
};

template <class Profile>
class RecordRules {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    using Density = typename Profile::Density;

    // The records of `kind` ('Q' or 'F') of the run over [nmin, nmax] that
    // starts from the extremes in `from`.
    RecordRules(const Density& density, char kind, Count nmin,
                Count nmax = std::numeric_limits<Count>::max(), const ScanState<Profile>& from = {})
        : density_(density), kind_(kind), nmin_(nmin), nmax_(nmax), state_(from) {}

    // The fault of the next record, at n with the count its line shows;
    // shows(e) says whether the record shows the excess e computed from them.
    // Without a fault, it becomes the last record and e the extreme.
    template <class Shows>
    RecordFault next(Count n, Count count, Shows&& shows) {
        if (n < nmin_ || n > nmax_ || n == 0 || (any_ && n <= last_)) return RecordFault::order;
        // The excess as the program computes it, from n and C(n) alone.
        const Real e = density_.excess(n, kind_ == 'Q' ? count : n - count);
        if (!shows(e)) return RecordFault::excess;
        if (kind_ == 'Q' ? !(e > state_.maxQ) : !(e < state_.minE))
            return any_ ? RecordFault::beat : RecordFault::threshold;
        (kind_ == 'Q' ? state_.maxQ : state_.minE) = e;
        last_ = n;
        any_ = true;
        return RecordFault::none;
    }

    // Whether a run of these records may end at N: not below nmin, 2 or the
    // last record.
    bool ends_at(Count N) const { return N >= nmin_ && N >= 2 && !(any_ && N < last_); }

    // The excess of the last record, or the one the run started from.
    const Real& extreme() const { return kind_ == 'Q' ? state_.maxQ : state_.minE; }

private:
    const Density& density_;
    char kind_;
    Count nmin_, nmax_;
    ScanState<Profile> state_;
    Count last_ = 0;
    bool any_ = false;
};

}  // namespace morvane
