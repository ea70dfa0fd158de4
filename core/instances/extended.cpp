// The engine compiled for morvane-l's profile (64-bit counts, x87 extended).
// A build whose long double is not the x87 format has no morvane-l, and this
// file then holds nothing.
#include <cfloat>

#include "engine/fast_scan_loops.hpp"
#include "profiles/profile.hpp"
#include "run/command_line.hpp"

#if LDBL_MANT_DIG == 64
namespace morvane {

template class FastScan<ExtendedProfile>;
template bool fast_scan<ExtendedProfile>(const PrimeSet&, ExtendedProfile::Count,
                                         ExtendedProfile::Count, ScanState<ExtendedProfile>&,
                                         RecordSink<ExtendedProfile>, EngineCopy);
template int run_command_line<ExtendedProfile>(int, char**, ScanEngine);

}  // namespace morvane
#endif
