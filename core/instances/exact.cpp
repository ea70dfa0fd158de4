// The engine compiled for morvane-x's profile (64-bit counts, the exact excess
// of any set and power).
#include "engine/fast_scan_loops.hpp"
#include "profiles/exact_density.hpp"

namespace morvane {

template class FastScan<ExactProfile>;
template bool fast_scan<ExactProfile>(const PrimeSet&, ExactProfile::Count, ExactProfile::Count,
                                      ScanState<ExactProfile>&, RecordSink<ExactProfile>,
                                      EngineCopy);

}  // namespace morvane
