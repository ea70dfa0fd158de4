// The window functions that the front ends call with a profile (morvane-merge,
// morvane-check, the module, the library's API), compiled once for each
// profile in the library (windows.cpp): declared here as instantiated
// elsewhere, so that a front end that includes this header compiles none of
// them again. The list is the same for every profile; what is not on it is
// compiled where it is used.
#pragma once

#include <cfloat>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "profiles/exact_density.hpp"
#include "profiles/profile.hpp"
#include "windows/record_check.hpp"
#include "windows/record_merge.hpp"
#include "windows/run_files.hpp"
#include "windows/window_scan.hpp"
#include "windows/window_task.hpp"

namespace morvane {

extern template std::optional<RunRecords<NarrowProfile>> scan_windows<NarrowProfile>(
    const PrimeSet&, NarrowProfile::Count, NarrowProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
extern template int run_task<NarrowProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                            const TaskSettings&,
                                            const WindowInspector<NarrowProfile>&);
extern template void merge_record_files<NarrowProfile>(const std::string&, NameArguments,
                                                       const std::vector<std::string>&,
                                                       const std::filesystem::path&,
                                                       std::optional<NarrowProfile::Count>, bool);
extern template void check_record_file<NarrowProfile>(const std::string&, NameArguments,
                                                      const std::string&);
extern template RunFiles<NarrowProfile> read_run_files<NarrowProfile>(const std::string&,
                                                                      const std::string&,
                                                                      const std::string&,
                                                                      const NameArguments&, const std::string&);
extern template std::pair<std::string, std::string> write_run_files<NarrowProfile>(
    const RunFiles<NarrowProfile>&, const std::string&, const std::string&);

#if LDBL_MANT_DIG == 64
extern template std::optional<RunRecords<ExtendedProfile>> scan_windows<ExtendedProfile>(
    const PrimeSet&, ExtendedProfile::Count, ExtendedProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
extern template int run_task<ExtendedProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                              const TaskSettings&,
                                              const WindowInspector<ExtendedProfile>&);
extern template void merge_record_files<ExtendedProfile>(
    const std::string&, NameArguments, const std::vector<std::string>&,
    const std::filesystem::path&, std::optional<ExtendedProfile::Count>, bool);
extern template void check_record_file<ExtendedProfile>(const std::string&, NameArguments,
                                                        const std::string&);
extern template RunFiles<ExtendedProfile> read_run_files<ExtendedProfile>(const std::string&,
                                                                          const std::string&,
                                                                          const std::string&,
                                                                          const NameArguments&, const std::string&);
extern template std::pair<std::string, std::string> write_run_files<ExtendedProfile>(
    const RunFiles<ExtendedProfile>&, const std::string&, const std::string&);
#endif

extern template std::optional<RunRecords<ExactProfile>> scan_windows<ExactProfile>(
    const PrimeSet&, ExactProfile::Count, ExactProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
extern template int run_task<ExactProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                           const TaskSettings&,
                                           const WindowInspector<ExactProfile>&);
extern template void merge_record_files<ExactProfile>(const std::string&, NameArguments,
                                                      const std::vector<std::string>&,
                                                      const std::filesystem::path&,
                                                      std::optional<ExactProfile::Count>, bool);
extern template void check_record_file<ExactProfile>(const std::string&, NameArguments,
                                                     const std::string&);
extern template RunFiles<ExactProfile> read_run_files<ExactProfile>(const std::string&,
                                                                    const std::string&,
                                                                    const std::string&,
                                                                    const NameArguments&, const std::string&);
extern template std::pair<std::string, std::string> write_run_files<ExactProfile>(
    const RunFiles<ExactProfile>&, const std::string&, const std::string&);

}  // namespace morvane
