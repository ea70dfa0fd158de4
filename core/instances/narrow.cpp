// The engine compiled for morvane's profile (32-bit counts, binary64): its
// three copies of the loops and the whole run, once, for every program, test
// and module that links the library.
#include "engine/fast_scan_loops.hpp"
#include "profiles/profile.hpp"
#include "run/command_line.hpp"

namespace morvane {

template class FastScan<NarrowProfile>;
template bool fast_scan<NarrowProfile>(const PrimeSet&, NarrowProfile::Count, NarrowProfile::Count,
                                       ScanState<NarrowProfile>&, RecordSink<NarrowProfile>,
                                       EngineCopy);
template int run_command_line<NarrowProfile>(int, char**, ScanEngine);

}  // namespace morvane
