// The third file of a run with -r: one line "n L" per record run of
// Q-numbers (a run of L from n, longer than every run before it), then the
// summary line "N Lmax", the longest run in [nmin, N] (0 when there is no
// Q-number).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/record_files.hpp"

namespace morvane {

// "maxrunQ_" + p text + "-" + nmin + ".txt", beside the two record files.
inline std::string run_file_name(const std::string& p_text, std::uint64_t nmin) {
    return record_file_name('R', p_text.c_str(), nmin);
}

// A line of the file: "n L", a record, or the summary with N and Lmax.
inline std::string run_line(std::uint64_t n, std::uint64_t length) {
    return std::to_string(n) + ' ' + std::to_string(length) + '\n';
}

// Writes the lines to an open stream, each write reporting whether the stream
// still holds everything written to it.
class RunFile {
public:
    explicit RunFile(std::FILE* stream) : stream_(stream) {}
    RunFile(const RunFile&) = delete;
    RunFile& operator=(const RunFile&) = delete;
    ~RunFile() { abandon(); }

    bool run_record(std::uint64_t n, std::uint64_t length) {
        const bool ok = std::fputs(run_line(n, length).c_str(), stream_) >= 0;
        failed_ = failed_ || !ok;
        return ok;
    }
    // Whether a record line failed.
    bool failed() const { return failed_; }
    // The summary line and close; false if anything written was lost.
    bool close(std::uint64_t N, std::uint64_t longest) {
        const bool written = run_record(N, longest);
        const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        return written && flushed && closed;
    }
    void abandon() {
        if (stream_) std::fclose(stream_);
        stream_ = nullptr;
    }

private:
    std::FILE* stream_;
    bool failed_ = false;
};

// A sink of records that also takes the record runs, for the scans.
template <class Records, class Runs>
struct WithRuns {
    Records& records;
    Runs& runs;
    template <class... A>
    bool q_record(const A&... a) {
        return records.q_record(a...);
    }
    template <class... A>
    bool f_record(const A&... a) {
        return records.f_record(a...);
    }
    bool run_record(std::uint64_t n, std::uint64_t length) { return runs.run_record(n, length); }
};

}  // namespace morvane
