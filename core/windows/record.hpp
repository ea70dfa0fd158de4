// One record of a run, as the scan finds it and as a record line shows it.
#pragma once

namespace morvane {

template <class Profile>
struct Record {
    typename Profile::Count n;
    typename Profile::Count count;  // C(n) in a Q record, n - C(n) in an F record
    typename Profile::Real e;       // the excess C(n) - delta * n; an F record shows -e
};

}  // namespace morvane
