// Which engine a run scans with.
#pragma once

namespace morvane {

// The fast engine writes the same bytes as the plain one; the plain one stays
// as the reference.
enum class ScanEngine { fast, plain };

}  // namespace morvane
