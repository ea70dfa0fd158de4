// The plain scan: every n from 1 to N through the detector, the excess computed
// at every n from nmin on. It is the reference the fast engine is checked against.
#pragma once

#include "engine/q_number_detector.hpp"
#include "engine/scan_state.hpp"

namespace morvane {

// Scans n = first..last inclusive (first <= last), with state.count = C(first - 1)
// and a detector positioned at first. The loop ends on n == last, so last may be
// the largest Count. Where the sink takes runs, the run still open at last
// stays open in state.runs. Returns false as soon as the sink fails to write.
template <class Profile, class Sink>
bool plain_window(QNumberDetector<Profile>& detector, typename Profile::Count first,
                  typename Profile::Count last, ScanState<Profile>& state, Sink& sink) {
    using Real = typename Profile::Real;
    const typename Profile::Density density(detector.set());
    for (auto n = first;; ++n) {
        const bool q = detector.classify(n);
        if constexpr (TakesRuns<Sink>)
            if (!run_step(state.runs, n, q, sink)) return false;
        if (q) {
            ++state.count;
            const Real e = density.excess(n, state.count);
            if (e > state.maxQ) {
                state.maxQ = e;
                if (!sink.q_record(n, state.count, e)) return false;
            }
        } else {
            const Real e = density.excess(n, state.count);
            if (e < state.minE) {
                state.minE = e;
                if (!sink.f_record(n, n - state.count, e)) return false;
            }
        }
        if (n == last) return true;
    }
}

// The whole run: warm-up below nmin (counting only), then the records from
// max(nmin, 1) to N.
template <class Profile, class Sink>
bool plain_scan(const PrimeSet& set, typename Profile::Count N, typename Profile::Count nmin,
                ScanState<Profile>& state, Sink& sink) {
    QNumberDetector<Profile> detector(set, 1, N);
    typename Profile::Count n = 1;
    for (; n < nmin; ++n) state.count += detector.classify(n);
    if (!plain_window(detector, n, N, state, sink)) return false;
    if constexpr (TakesRuns<Sink>) return finish_runs(state.runs, N, sink);
    return true;
}
template <class Profile, class Sink>
bool plain_scan(std::int32_t p, typename Profile::Count N, typename Profile::Count nmin,
                ScanState<Profile>& state, Sink& sink) {
    return plain_scan(squares_set(p), N, nmin, state, sink);
}

}  // namespace morvane
