// The window functions compiled once for each profile (windows.hpp lists
// them): the declarations there, the definitions here.
#include "instances/windows.hpp"

namespace morvane {


template std::optional<RunRecords<NarrowProfile>> scan_windows<NarrowProfile>(
    const PrimeSet&, NarrowProfile::Count, NarrowProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
template int run_task<NarrowProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                            const TaskSettings&,
                                            const WindowInspector<NarrowProfile>&);
template void merge_record_files<NarrowProfile>(const std::string&, NameArguments,
                                                       const std::vector<std::string>&,
                                                       const std::filesystem::path&,
                                                       std::optional<NarrowProfile::Count>, bool);
template void check_record_file<NarrowProfile>(const std::string&, NameArguments,
                                                      const std::string&);
template RunFiles<NarrowProfile> read_run_files<NarrowProfile>(const std::string&,
                                                                      const std::string&,
                                                                      const std::string&,
                                                                      const NameArguments&, const std::string&);
template std::pair<std::string, std::string> write_run_files<NarrowProfile>(
    const RunFiles<NarrowProfile>&, const std::string&, const std::string&);

#if LDBL_MANT_DIG == 64
template std::optional<RunRecords<ExtendedProfile>> scan_windows<ExtendedProfile>(
    const PrimeSet&, ExtendedProfile::Count, ExtendedProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
template int run_task<ExtendedProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                              const TaskSettings&,
                                              const WindowInspector<ExtendedProfile>&);
template void merge_record_files<ExtendedProfile>(
    const std::string&, NameArguments, const std::vector<std::string>&,
    const std::filesystem::path&, std::optional<ExtendedProfile::Count>, bool);
template void check_record_file<ExtendedProfile>(const std::string&, NameArguments,
                                                        const std::string&);
template RunFiles<ExtendedProfile> read_run_files<ExtendedProfile>(const std::string&,
                                                                          const std::string&,
                                                                          const std::string&,
                                                                          const NameArguments&, const std::string&);
template std::pair<std::string, std::string> write_run_files<ExtendedProfile>(
    const RunFiles<ExtendedProfile>&, const std::string&, const std::string&);
#endif

template std::optional<RunRecords<ExactProfile>> scan_windows<ExactProfile>(
    const PrimeSet&, ExactProfile::Count, ExactProfile::Count, unsigned, std::uint64_t,
    std::uint64_t, const std::function<bool()>&, bool);
template int run_task<ExactProfile>(const RunPlan&, const std::string&, std::uint64_t,
                                           const TaskSettings&,
                                           const WindowInspector<ExactProfile>&);
template void merge_record_files<ExactProfile>(const std::string&, NameArguments,
                                                      const std::vector<std::string>&,
                                                      const std::filesystem::path&,
                                                      std::optional<ExactProfile::Count>, bool);
template void check_record_file<ExactProfile>(const std::string&, NameArguments,
                                                     const std::string&);
template RunFiles<ExactProfile> read_run_files<ExactProfile>(const std::string&,
                                                                    const std::string&,
                                                                    const std::string&,
                                                                    const NameArguments&, const std::string&);
template std::pair<std::string, std::string> write_run_files<ExactProfile>(
    const RunFiles<ExactProfile>&, const std::string&, const std::string&);

}  // namespace morvane
