// Record files of a run written to memory, and the two ways of making them that
// the tests and the fuzz target compare: the plain per-n scan and the fast one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "engine/fast_scan.hpp"
#include "engine/plain_scan.hpp"
#include "engine/q_count.hpp"
#include "run/record_files.hpp"
#include "run/run_file.hpp"

namespace morvane::testing {


struct MemoryRecords {
    std::string q, f;         // the two files, summary lines included
    std::uint64_t count = 0;  // C(N) as the scan left it
    bool written = false;     // the scan and both closes succeeded
};

// Runs scan(state, files) into two memory streams and closes them with their
// summary lines, as a run does.
template <class Profile, class Scan>
MemoryRecords records_in_memory(typename Profile::Count N, Scan&& scan) {
    char* q_bytes = nullptr;
    char* f_bytes = nullptr;
    std::size_t q_size = 0, f_size = 0;
    std::FILE* q = open_memstream(&q_bytes, &q_size);
    std::FILE* f = open_memstream(&f_bytes, &f_size);
    if (!q || !f) std::abort();
    MemoryRecords out;
    {
        RecordFiles<Profile> files(q, f);
        ScanState<Profile> state;
        const bool scanned = scan(state, files);
        const bool closed = files.close_q(N, state.count) && files.close_f(N, N - state.count);
        out.written = scanned && closed;
        out.count = state.count;
    }
    out.q.assign(q_bytes, q_size);
    out.f.assign(f_bytes, f_size);
    std::free(q_bytes);
    std::free(f_bytes);
    return out;
}

// The plain scan's files. Up to walk_limit it walks every n from 1; a window
// starting further out starts at nmin from the exact count below it (checked
// against walking by the tests) and a detector placed there.
template <class Profile>
MemoryRecords plain_reference(int p, typename Profile::Count N, typename Profile::Count nmin,
                              std::uint64_t walk_limit) {
    using Count = typename Profile::Count;
    return records_in_memory<Profile>(N, [&](ScanState<Profile>& state, auto& files) {
        if (nmin <= walk_limit) return plain_scan<Profile>(p, N, nmin, state, files);
        state.count = Count(count_q_numbers(nmin - 1, active_square_count<Count>(p)));
        QNumberDetector<Profile> detector(p, nmin);
        return plain_window(detector, nmin, N, state, files);
    });
}

template <class Profile>
MemoryRecords fast_records(const PrimeSet& set, typename Profile::Count N,
                           typename Profile::Count nmin, EngineCopy copy = chosen_engine_copy()) {
    return records_in_memory<Profile>(N, [&](ScanState<Profile>& state, auto& files) {
        return fast_scan<Profile>(set, N, nmin, state, files, copy);
    });
}

template <class Profile>
MemoryRecords fast_records(int p, typename Profile::Count N, typename Profile::Count nmin,
                           EngineCopy copy = chosen_engine_copy()) {
    return fast_records<Profile>(squares_set(p), N, nmin, copy);
}

// The file of record runs that morvane-x -r writes for the run, by the fast
// scan whole, with the program's own RunFile.
template <class Profile>
std::string fast_run_file(const PrimeSet& set, std::uint64_t N, std::uint64_t nmin) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&bytes, &size);
    if (!stream) std::abort();
    RunFile runs(stream);
    const MemoryRecords files = records_in_memory<Profile>(N, [&](ScanState<Profile>& state, auto& f) {
        WithRuns<std::remove_reference_t<decltype(f)>, RunFile> sink{f, runs};
        const bool scanned = fast_scan<Profile>(set, N, nmin, state, sink);
        return runs.close(N, state.runs.longest) && scanned;
    });
    std::string text(bytes, size);
    std::free(bytes);
    if (!files.written) std::abort();
    return text;
}

}  // namespace morvane::testing
