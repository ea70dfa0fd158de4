// The two record files of a run: one line per new maximum of the Q-excess (Q
// file) or of the F-excess (F file), then a summary line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>

#include "profiles/profile.hpp"

namespace morvane {

// "maxdevQ_" + p text + "-" + nmin + ".txt", formed in full whatever the p
// text's length; "maxdevF_" for kind F, and "maxrunQ_" for kind R, the record
// runs of Q-numbers (morvane-x -r).
template <class Count>
std::string record_file_name(char kind, const char* p_text, Count nmin) {
    const std::string head = kind == 'R' ? std::string("maxrunQ") : std::string("maxdev") + kind;
    return head + '_' + p_text + '-' + std::to_string(nmin) + ".txt";
}

// Writes record and summary lines to two open streams. Each write reports
// whether the stream still holds everything written to it, so that a scan on a
// full disk stops at the first failed write instead of running on for hours.
template <class Profile>
class RecordFiles {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    using Printed = typename Profile::Printed;

    RecordFiles(std::FILE* q, std::FILE* f) : q_(q), f_(f) {}

    // An F record shows the F-excess, the negated excess.
    bool q_record(Count n, Count count, const Real& e) { return note(line(q_, n, count, e), 'Q'); }
    bool f_record(Count n, Count f_count, const Real& e) {
        return note(line(f_, n, f_count, -e), 'F');
    }

    // The kind letter of the file whose record line failed, or 0.
    char failed_kind() const { return failed_kind_; }

    // Summary line and close, Q file first. Returns false if anything written to
    // that file was lost; the file is closed either way.
    bool close_q(Count N, Count q_count) { return finish(q_, N, q_count); }
    bool close_f(Count N, Count f_count) { return finish(f_, N, f_count); }

    // Closes whatever is still open, without a summary line.
    void abandon() {
        if (q_) std::fclose(q_);
        if (f_) std::fclose(f_);
        q_ = f_ = nullptr;
    }

    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;
    ~RecordFiles() { abandon(); }

private:
    // What printf receives for the excess: a binary64 value for %.12f, or the
    // text of the exact profile's decimals for %s.
    static double printf_value(double e) { return e; }
    template <std::size_t Size>
    static const char* printf_value(const std::array<char, Size>& text) {
        return text.data();
    }
    static bool line(std::FILE* s, Count n, Count count, const Real& e) {
        return std::fprintf(s, Profile::record_format, Printed(n), Printed(count),
                            printf_value(Profile::Density::printed(e))) >= 0;
    }

    bool note(bool ok, char kind) {
        if (!ok && !failed_kind_) failed_kind_ = kind;
        return ok;
    }
    static bool finish_stream(std::FILE* s, Count a, Count b) {
        const bool written = std::fprintf(s, Profile::summary_format, Printed(a), Printed(b)) >= 0;
        const bool flushed = std::fflush(s) == 0 && !std::ferror(s);
        const bool closed = std::fclose(s) == 0;
        return written && flushed && closed;
    }
    bool finish(std::FILE*& s, Count a, Count b) {
        const bool ok = finish_stream(s, a, b);
        s = nullptr;
        return ok;
    }

    std::FILE* q_;
    std::FILE* f_;
    char failed_kind_ = 0;
};

}  // namespace morvane
