// Merging the record files of window runs into the files of one run.
//
// A run over [nmin, N] cut into consecutive windows [a, b], each run on its own
// as `PROGRAM p b a`, leaves one Q file and one F file per window. Every record
// of the whole run is a record of its window's run: it beats every excess since
// nmin, so it beats every excess since a, and both runs start from the same
// thresholds. So the whole run's records are the window records, in window
// order, that beat the records kept so far. That comparison is made on the
// excess as the program computed it, recomputed from the line's n and count with
// the profile's own arithmetic; the printed twelve decimals would tie where the
// program saw a difference (p = 2, p = 3, the extended profile far out).
//
// Every file is read twice, a line at a time: once to check all of it before
// anything is written, once to copy the kept lines. Nothing grows with N or
// with the number of records.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "decimal.hpp"
#include "profile.hpp"
#include "record_files.hpp"
#include "scan_state.hpp"
#include "squares.hpp"

namespace morvane {

// A refusal: the file it concerns (or the output name) and what is wrong.
struct MergeRefusal : std::runtime_error {
    MergeRefusal(const std::string& file, const std::string& fault)
        : std::runtime_error(file + ": " + fault) {}
};

// The parts of a record file's name, maxdev<kind>_<p text>-<nmin>.txt, read
// from the last component of a path.
struct RecordName {
    char kind;              // 'Q' or 'F'
    std::string p_text;     // digits only, maybe none
    std::string nmin_text;  // digits, as the program wrote them
};

inline std::optional<RecordName> read_record_name(std::string_view path) {
    const auto slash = path.rfind('/');
    std::string_view s = slash == std::string_view::npos ? path : path.substr(slash + 1);
    constexpr std::string_view head = "maxdev", tail = ".txt";
    if (s.size() < head.size() + 4 + tail.size() || s.substr(0, head.size()) != head ||
        s.substr(s.size() - tail.size()) != tail)
        return std::nullopt;
    s = s.substr(head.size(), s.size() - head.size() - tail.size());
    if ((s[0] != 'Q' && s[0] != 'F') || s[1] != '_') return std::nullopt;
    RecordName name{s[0], {}, {}};
    s.remove_prefix(2);
    std::size_t i = 0;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == s.size() || s[i] != '-') return std::nullopt;
    name.p_text = std::string(s.substr(0, i));
    name.nmin_text = std::string(s.substr(i + 1));
    if (name.nmin_text.empty()) return std::nullopt;
    for (char c : name.nmin_text)
        if (!is_digit(c)) return std::nullopt;
    return name;
}

// A count as the programs print it: decimal digits without a leading zero
// (except 0 itself), within the profile's count range.
template <class Count>
std::optional<Count> read_printed_count(std::string_view s) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : s) {
        if (!is_digit(c)) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value > std::numeric_limits<Count>::max()) return std::nullopt;
    return static_cast<Count>(value);
}

// The excess C(n) - delta*n at n, as the program computes it: by the profile's
// own Density, from n and C(n) alone.
template <class Profile>
class RecordExcess {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    explicit RecordExcess(std::int32_t p) : density_(active_square_count<Count>(p)) {}
    Real operator()(Count n, Count q_count) const { return density_.excess(n, q_count); }

private:
    typename Profile::Density density_;
};

// The record lines the program writes, made by its own RecordFiles into two
// memory streams: a line read from a file is the program's if and only if it
// has these bytes.
template <class Profile>
class ProgramLines {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    ProgramLines() : q_(open(q_bytes_, q_size_)), f_(open(f_bytes_, f_size_)), files_(q_, f_) {}
    ~ProgramLines() {
        files_.abandon();
        std::free(q_bytes_);
        std::free(f_bytes_);
    }
    ProgramLines(const ProgramLines&) = delete;
    ProgramLines& operator=(const ProgramLines&) = delete;

    // The Q line at n with C(n) = count, or the F line with n - C(n) = count;
    // e is the excess at n.
    std::string_view line(char kind, Count n, Count count, Real e) {
        std::FILE* s = kind == 'Q' ? q_ : f_;
        std::rewind(s);
        if (kind == 'Q')
            files_.q_record(n, count, e);
        else
            files_.f_record(n, count, e);
        std::fflush(s);
        const long length = std::ftell(s);
        const char* bytes = kind == 'Q' ? q_bytes_ : f_bytes_;
        return {bytes, length > 0 ? static_cast<std::size_t>(length) : 0};
    }

private:
    static std::FILE* open(char*& bytes, std::size_t& size) {
        std::FILE* s = open_memstream(&bytes, &size);
        if (!s) throw std::bad_alloc();
        return s;
    }
    char* q_bytes_ = nullptr;
    char* f_bytes_ = nullptr;
    std::size_t q_size_ = 0, f_size_ = 0;
    std::FILE* q_;
    std::FILE* f_;
    RecordFiles<Profile> files_;
};

// What a whole file holds besides its records: the summary line.
template <class Count>
struct Summary {
    Count N = 0;
    Count count = 0;
    std::string line;  // as it stands, newline included
};

namespace detail {

// Splits a line (without its newline) at single spaces.
inline std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            fields.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    return fields;
}

struct LineReader {
    explicit LineReader(const std::string& path) : file(std::fopen(path.c_str(), "r")) {}
    ~LineReader() {
        if (file) std::fclose(file);
        std::free(buffer);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    // The next line, newline included, or nullopt at the end.
    std::optional<std::string_view> next() {
        const ssize_t got = getline(&buffer, &capacity, file);
        if (got < 0) return std::nullopt;
        return std::string_view(buffer, static_cast<std::size_t>(got));
    }
    std::FILE* file;
    char* buffer = nullptr;
    std::size_t capacity = 0;
};

}  // namespace detail

// Reads one window file of the given kind whose window starts at nmin, checks
// every line, and hands each record line (newline included) with its excess to
// keep(line, e). Returns the summary. Throws MergeRefusal for the first fault.
template <class Profile, class Keep>
Summary<typename Profile::Count> read_window_file(const std::string& path, char kind,
                                                  typename Profile::Count nmin,
                                                  const RecordExcess<Profile>& excess,
                                                  ProgramLines<Profile>& lines,
                                                  const std::string& program, Keep&& keep) {
    using Count = typename Profile::Count;
    detail::LineReader reader(path);
    if (!reader.file)
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    const std::string incomplete =
        "incomplete: no summary line at its end (its run was stopped or failed)";
    ScanState<Profile> state;  // the file's own running extreme
    Count last_n = 0;
    bool any_record = false;
    std::optional<Summary<Count>> summary;
    std::uint64_t number = 0;
    while (const auto got = reader.next()) {
        ++number;
        const auto at_line = [&](const std::string& fault) {
            return MergeRefusal(path, "line " + std::to_string(number) + ": " + fault);
        };
        if (summary) throw at_line("a line after the summary line");
        const std::string_view line = *got;
        if (line.back() != '\n') throw MergeRefusal(path, incomplete);
        const auto fields = detail::fields_of(line.substr(0, line.size() - 1));
        if (fields.size() == 2) {
            const auto N = read_printed_count<Count>(fields[0]);
            const auto count = read_printed_count<Count>(fields[1]);
            if (!N || !count || *count > *N) throw at_line("not a summary line of " + program);
            if (*N < nmin || *N < 2 || (any_record && *N < last_n))
                throw at_line("the summary line's N is below the window's n");
            summary = Summary<Count>{*N, *count, std::string(line)};
            continue;
        }
        const auto n = fields.size() == 3 ? read_printed_count<Count>(fields[0]) : std::nullopt;
        const auto count = fields.size() == 3 ? read_printed_count<Count>(fields[1]) : std::nullopt;
        if (!n || !count || *count > *n) throw at_line("not a record line of " + program);
        if (*n < nmin || *n == 0 || (any_record && *n <= last_n))
            throw at_line("n is not above the previous record's and nmin");
        const Count q_count = kind == 'Q' ? *count : *n - *count;
        const auto e = excess(*n, q_count);
        if (lines.line(kind, *n, *count, e) != line)
            throw at_line("the excess is not the one " + program +
                          " computes at this n and count for this p");
        const bool beats = kind == 'Q' ? e > state.maxQ : e < state.minE;
        if (!beats) throw at_line("the excess does not beat the records before it");
        if (kind == 'Q')
            state.maxQ = e;
        else
            state.minE = e;
        last_n = *n;
        any_record = true;
        keep(line, e);
    }
    if (std::ferror(reader.file))
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    if (!summary) throw MergeRefusal(path, incomplete);
    return *summary;
}

// The Q and F files of one window.
template <class Count>
struct WindowFiles {
    Count nmin = 0;
    std::string nmin_text;
    std::string q_path, f_path;
    Summary<Count> q, f;
};

namespace detail {

// A temporary file beside the output, renamed over it when complete.
class TemporaryFile {
public:
    TemporaryFile(const std::filesystem::path& target) : target_(target) {
        std::string hidden(1, '.');
        hidden += target.filename().string();
        hidden += ".merge-XXXXXX";
        std::string pattern = (target.parent_path() / hidden).string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw MergeRefusal(target.string(),
                               std::string("cannot be created: ") + std::strerror(errno));
        path_ = pattern;
        // The permissions a program's fopen gives: 0666 less the umask.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        stream_ = fdopen(fd, "w");
        if (!stream_) {
            const int error = errno;
            close(fd);
            unlink(path_.c_str());
            errno = error;
            fail("cannot be written");
        }
    }
    ~TemporaryFile() {
        if (stream_) std::fclose(stream_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(std::string_view bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
            fail("cannot be written");
    }
    // Flushed to the disk and closed: a machine that stops after the rename
    // finds the whole file.
    void finish() {
        const bool ok = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        if (!ok || !closed) fail("cannot be written");
    }
    void rename_over_target() {
        if (std::rename(path_.c_str(), target_.c_str()) != 0) fail("cannot be put in place");
        path_.clear();
    }

private:
    [[noreturn]] void fail(const std::string& what) {
        throw MergeRefusal(target_.string(), what + ": " + std::strerror(errno));
    }
    std::filesystem::path target_;
    std::string path_;
    std::FILE* stream_ = nullptr;
};

}  // namespace detail

// Merges the files into the two files of the whole run, written into out_dir.
// p_argument, when not null, gives p as the program's first argument would
// (needed when the p text is empty: a first argument such as "+7" leaves no
// digits in the names). Throws MergeRefusal, before anything is written, for
// names that are not record files', mixed p texts, a window without its Q or F
// partner, an incomplete or damaged file, and gaps or overlaps between windows.
template <class Profile>
void merge_record_files(const std::string& program, const char* p_argument,
                        const std::vector<std::string>& paths,
                        const std::filesystem::path& out_dir) {
    using Count = typename Profile::Count;
    if (paths.empty()) throw MergeRefusal(program, "no record file to merge");

    // Names: one p text, and each window's Q and F file once.
    std::map<Count, WindowFiles<Count>> windows;
    std::string p_text;
    std::string first_path;
    for (const auto& path : paths) {
        const auto name = read_record_name(path);
        if (!name)
            throw MergeRefusal(path,
                               "not named like a record file "
                               "(maxdevQ_<p text>-<nmin>.txt or maxdevF_<p text>-<nmin>.txt)");
        if (first_path.empty()) {
            first_path = path;
            p_text = name->p_text;
        } else if (name->p_text != p_text) {
            throw MergeRefusal(path, "mixed p texts: \"" + name->p_text + "\" here, \"" + p_text +
                                         "\" in " + first_path);
        }
        const auto nmin = read_printed_count<Count>(name->nmin_text);
        if (!nmin)
            throw MergeRefusal(path, "the nmin in the name, " + name->nmin_text +
                                         ", is not a count of " + program);
        auto& window = windows[*nmin];
        window.nmin = *nmin;
        window.nmin_text = name->nmin_text;
        std::string& slot = name->kind == 'Q' ? window.q_path : window.f_path;
        if (!slot.empty())
            throw MergeRefusal(path, std::string("overlap: a second ") + name->kind +
                                         " file of the window from nmin " + name->nmin_text +
                                         ", after " + slot);
        slot = path;
    }
    for (const auto& [nmin, window] : windows) {
        if (window.q_path.empty())
            throw MergeRefusal(
                window.f_path,
                "its Q partner, " + record_file_name('Q', p_text.c_str(), nmin) + ", is missing");
        if (window.f_path.empty())
            throw MergeRefusal(
                window.q_path,
                "its F partner, " + record_file_name('F', p_text.c_str(), nmin) + ", is missing");
    }

    // p, read as the program reads its first argument.
    std::int32_t p = 0;
    if (p_argument) {
        p = read_p(p_argument);
        if (!p_text.empty() && read_p(p_text.c_str()) != p)
            throw MergeRefusal(first_path,
                               "its p text gives p = " + std::to_string(read_p(p_text.c_str())) +
                                   ", -p gives " + std::to_string(p));
    } else {
        if (p_text.empty())
            throw MergeRefusal(first_path,
                               "the p text is empty (a first argument such as +7): "
                               "give p with -p");
        p = read_p(p_text.c_str());
    }
    if (static_cast<std::uint32_t>(p) < 2 || p > 97)
        throw MergeRefusal(first_path, "p = " + std::to_string(p) + " is out of range (2 to 97)");

    // Every line of every file, then the windows' sequence.
    const RecordExcess<Profile> excess(p);
    ProgramLines<Profile> lines;
    const auto ignore = [](std::string_view, auto) {};
    for (auto& [nmin, window] : windows) {
        window.q =
            read_window_file<Profile>(window.q_path, 'Q', nmin, excess, lines, program, ignore);
        window.f =
            read_window_file<Profile>(window.f_path, 'F', nmin, excess, lines, program, ignore);
        if (window.q.N != window.f.N || window.f.count != window.q.N - window.q.count)
            throw MergeRefusal(
                window.f_path,
                "its summary line does not match that of its Q partner " + window.q_path);
    }
    const WindowFiles<Count>* before = nullptr;
    for (const auto& [nmin, window] : windows) {
        if (before) {
            const Count end = before->q.N;
            if (nmin <= end)
                throw MergeRefusal(window.q_path, "overlap: the window starts at n = " +
                                                      window.nmin_text + ", but " + before->q_path +
                                                      " ends at N = " + std::to_string(end));
            if (nmin != end + 1)
                throw MergeRefusal(window.q_path,
                                   "gap: the window starts at n = " + window.nmin_text + ", but " +
                                       before->q_path + " ends at N = " + std::to_string(end));
        }
        before = &window;
    }

    // The kept lines, through temporary files renamed over the outputs. A
    // folder in an output's place would stop the second rename after the first.
    const auto& first = windows.begin()->second;
    const auto& last = windows.rbegin()->second;
    const auto q_target = out_dir / record_file_name('Q', p_text.c_str(), first.nmin);
    const auto f_target = out_dir / record_file_name('F', p_text.c_str(), first.nmin);
    for (const auto& target : {q_target, f_target}) {
        std::error_code error;
        const auto status = std::filesystem::status(target, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
            throw MergeRefusal(target.string(), "is in the way: not a regular file");
    }
    detail::TemporaryFile q_out(q_target);
    detail::TemporaryFile f_out(f_target);
    ScanState<Profile> state;
    for (const auto& [nmin, window] : windows) {
        read_window_file<Profile>(window.q_path, 'Q', nmin, excess, lines, program,
                                  [&](std::string_view line, auto e) {
                                      if (e > state.maxQ) {
                                          state.maxQ = e;
                                          q_out.write(line);
                                      }
                                  });
        read_window_file<Profile>(window.f_path, 'F', nmin, excess, lines, program,
                                  [&](std::string_view line, auto e) {
                                      if (e < state.minE) {
                                          state.minE = e;
                                          f_out.write(line);
                                      }
                                  });
    }
    q_out.write(last.q.line);
    f_out.write(last.f.line);
    q_out.finish();
    f_out.finish();
    q_out.rename_over_target();
    f_out.rename_over_target();
}

}  // namespace morvane
