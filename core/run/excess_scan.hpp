// One run of the experiment: create the record files, scan, write the summary
// lines, and give the exit status.
#pragma once

#include <cstdio>
#include <string>

#include "engine/fast_scan.hpp"
#include "engine/plain_scan.hpp"
#include "engine/scan_state.hpp"
#include "run/record_files.hpp"
#include "run/run_file.hpp"
#include "run/scan_engine.hpp"
#include "run/run_parameters.hpp"

namespace morvane {

namespace detail {
// The one message without a newline.
inline void report_uncreatable(const std::string& name) {
    std::printf("The file %s could not be created for writing. Aborting program.", name.c_str());
}
inline void report_unwritable(const std::string& name) {
    std::printf("Error: could not write the file %s\n", name.c_str());
}
}  // namespace detail

template <class Profile>
int ExcessScan(const RunParameters<Profile>& run, ScanEngine engine = ScanEngine::fast) {
    const std::string q_name = record_file_name('Q', run.p_text.c_str(), run.nmin);
    const std::string f_name = record_file_name('F', run.p_text.c_str(), run.nmin);
    std::FILE* q = std::fopen(q_name.c_str(), "w");
    if (!q) {
        detail::report_uncreatable(q_name);
        return 1;
    }
    std::FILE* f = std::fopen(f_name.c_str(), "w");
    if (!f) {
        std::fclose(q);  // stays behind, empty
        detail::report_uncreatable(f_name);
        return 1;
    }
    RecordFiles<Profile> files(q, f);
    const std::string run_name = run.runs ? run_file_name(run.p_text, run.nmin) : std::string();
    std::FILE* r = run.runs ? std::fopen(run_name.c_str(), "w") : nullptr;
    if (run.runs && !r) {
        files.abandon();
        detail::report_uncreatable(run_name);
        return 1;
    }
    RunFile runs(r);
    WithRuns<RecordFiles<Profile>, RunFile> with_runs{files, runs};

    ScanState<Profile> state;
    bool written = true;
    switch (engine) {
        case ScanEngine::fast:
            written = run.runs ? fast_scan(run.set, run.N, run.nmin, state, with_runs)
                               : fast_scan(run.set, run.N, run.nmin, state, files);
            break;
        case ScanEngine::plain:
            written = run.runs ? plain_scan(run.set, run.N, run.nmin, state, with_runs)
                               : plain_scan(run.set, run.N, run.nmin, state, files);
            break;
    }
    if (!written) {
        // A record line could not be written: say which file, close them all.
        const char kind = runs.failed() ? 'R' : files.failed_kind();
        files.abandon();
        runs.abandon();
        detail::report_unwritable(kind == 'Q' ? q_name : kind == 'F' ? f_name : run_name);
        return 1;
    }
    if (!files.close_q(run.N, state.count)) {
        files.abandon();
        detail::report_unwritable(q_name);
        return 1;
    }
    if (!files.close_f(run.N, run.N - state.count)) {
        runs.abandon();
        detail::report_unwritable(f_name);
        return 1;
    }
    if (run.runs && !runs.close(run.N, state.runs.longest)) {
        detail::report_unwritable(run_name);
        return 1;
    }
    return 0;
}

}  // namespace morvane
