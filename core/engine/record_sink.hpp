// Where the fast scan sends its records: a reference to any object with
// q_record and f_record, as two plain function pointers beside the object, and
// a third for run_record(n, L) where the object has it (the record runs of
// Q-numbers, q_runs.hpp), which is also what asks the scan to find them.
//
// A record is rare (a few hundred in 10^12 n), so the call through a pointer
// costs nothing measurable, and it lets one compiled copy of the scan's loops
// serve every caller: the record files, a window's records in memory, the
// checks of a task, the Python module.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/q_runs.hpp"

namespace morvane {

template <class Profile>
class RecordSink {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    // Refers to `sink`, which must outlive this reference.
    template <class Sink>
        requires(!std::is_same_v<std::remove_cv_t<Sink>, RecordSink>)
    RecordSink(Sink& sink)  // NOLINT: a reference converts implicitly, as Sink& would
        : object_(&sink), q_(&call_q<Sink>), f_(&call_f<Sink>) {
        if constexpr (TakesRuns<Sink>) runs_ = &call_run<Sink>;
    }

    // A new maximum of the Q-excess at n, with C(n); false stops the scan.
    bool q_record(Count n, Count count, const Real& e) const { return q_(object_, n, count, e); }
    // A new minimum of the excess at an F-number n, with n - C(n).
    bool f_record(Count n, Count f_count, const Real& e) const {
        return f_(object_, n, f_count, e);
    }

    // Whether the scan finds the record runs.
    bool counts_runs() const { return runs_ != nullptr; }
    // A run of L Q-numbers from n, longer than every run before it; false
    // stops the scan.
    bool run_record(std::uint64_t n, std::uint64_t length) const {
        return runs_(object_, n, length);
    }

private:
    using Call = bool (*)(void*, Count, Count, const Real&);
    template <class Sink>
    static bool call_q(void* object, Count n, Count count, const Real& e) {
        return static_cast<Sink*>(object)->q_record(n, count, e);
    }
    template <class Sink>
    static bool call_f(void* object, Count n, Count count, const Real& e) {
        return static_cast<Sink*>(object)->f_record(n, count, e);
    }

    template <class Sink>
    static bool call_run(void* object, std::uint64_t n, std::uint64_t length) {
        return static_cast<Sink*>(object)->run_record(n, length);
    }

    void* object_;
    Call q_, f_;
    bool (*runs_)(void*, std::uint64_t, std::uint64_t) = nullptr;
};

}  // namespace morvane
