// Reading the record files of window runs: their names, and every line checked
// against what the program writes, each record's excess recomputed from its n
// and count in the profile's own arithmetic.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "engine/scan_state.hpp"
#include "arith/squares.hpp"
#include "profiles/profile.hpp"
#include "run/decimal.hpp"
#include "run/printed_excess.hpp"
#include "run/record_files.hpp"
#include "run/set_arguments.hpp"

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
    std::string p_text;     // digits (maybe none) or "all", maybe "k" and a power
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
    // The p text: digits (maybe none) or "all", then "k" and the power's
    // digits when the power is not 2. Which of those a program writes,
    // set_of_name decides.
    std::size_t i = 0;
    if (s.substr(0, 3) == "all")
        i = 3;
    else
        while (i < s.size() && is_digit(s[i])) ++i;
    if (i < s.size() && s[i] == 'k') {
        const std::size_t k_at = ++i;
        while (i < s.size() && is_digit(s[i])) ++i;
        if (i == k_at) return std::nullopt;
    }
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
    // Every line of a merge passes here twice: no division, and the overflow
    // looked for only where it can happen, at a twentieth digit.
    if (s.size() > 20) return std::nullopt;
    const std::size_t safe = s.size() < 19 ? s.size() : 19;  // 10^19 - 1 < 2^64
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < safe; ++i) {
        const auto digit = static_cast<unsigned char>(s[i] - '0');
        if (digit > 9) return std::nullopt;
        value = value * 10 + digit;
    }
    if (s.size() == 20) {
        const auto digit = static_cast<unsigned char>(s[19] - '0');
        if (digit > 9 || __builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, std::uint64_t{digit}, &value))
            return std::nullopt;
    }
    if (value > std::numeric_limits<Count>::max()) return std::nullopt;
    return static_cast<Count>(value);
}

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

    // Whether a line read from a file is line(kind, n, count, e), given that its
    // first two fields are n and count as the program prints them and
    // `excess` is its third and last. A binary64 excess is checked by value
    // (printed_excess.hpp), as exact as printing it and a tenth of its cost;
    // print_every_line prints every line instead, as the reference.
    bool matches(char kind, Count n, Count count, const Real& e, std::string_view line,
                 std::string_view excess) {
        if constexpr (prints_binary64) {
            if (!print_every_line)
                return prints_with_12_decimals(Profile::Density::printed(kind == 'Q' ? e : -e),
                                               excess);
        }
        return this->line(kind, n, count, e) == line;
    }
    bool print_every_line = false;

private:
    static constexpr bool ends_with(std::string_view s, std::string_view tail) {
        return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
    }
    // The profiles whose records print a binary64 excess with %.12f, last.
    static constexpr bool prints_binary64 =
        std::is_same_v<decltype(Profile::Density::printed(std::declval<const Real&>())), double>;
    static_assert(!prints_binary64 || ends_with(Profile::record_format, " %.12f\n"));

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

// A line's fields: how many there are, and the first four (a record line has
// three), kept without allocating, since every line of a merge is split.
struct Fields {
    std::size_t count = 0;
    std::string_view first[4];
    std::size_t size() const { return count; }
    std::string_view operator[](std::size_t i) const { return first[i]; }
};

// Splits a line (without its newline) at single spaces.
inline Fields fields_of(std::string_view line) {
    Fields fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (fields.count < 4) fields.first[fields.count] = line.substr(start, i - start);
            ++fields.count;
            start = i + 1;
        }
    }
    return fields;
}

// A file's lines, read in blocks of 64 KiB (a line longer than a block
// widens it): a merge reads 10^7 lines, and a getline each costs a tenth of
// the check of the line.
struct LineReader {
    explicit LineReader(const std::string& path)
        : file(std::fopen(path.c_str(), "r")), buffer(std::size_t{1} << 16) {}
    ~LineReader() {
        if (file) std::fclose(file);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    // The next line, newline included (the last one may lack it), or nullopt
    // at the end; valid until the next call.
    std::optional<std::string_view> next() {
        for (;;) {
            const char* start = buffer.data() + begin;
            const std::size_t left = end - begin;
            if (const void* newline = std::memchr(start, '\n', left)) {
                const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
                begin += length;
                return std::string_view(start, length);
            }
            if (at_end) {
                begin = end;
                if (left == 0) return std::nullopt;
                return std::string_view(start, left);
            }
            std::memmove(buffer.data(), start, left);
            begin = 0;
            end = left;
            if (end == buffer.size()) buffer.resize(2 * buffer.size());
            const std::size_t got = std::fread(buffer.data() + end, 1, buffer.size() - end, file);
            end += got;
            at_end = got == 0;
        }
    }
    std::FILE* file;
    std::vector<char> buffer;
    std::size_t begin = 0, end = 0;
    bool at_end = false;
};

}  // namespace detail

// Reads one window file of the given kind whose window starts at nmin, checks
// every line, and hands each record line (newline included) with its excess to
// keep(line, e). Returns the summary. Throws MergeRefusal for the first fault.
template <class Profile, class Keep>
Summary<typename Profile::Count> read_window_file(const std::string& path, char kind,
                                                  typename Profile::Count nmin,
                                                  const typename Profile::Density& density,
                                                  ProgramLines<Profile>& lines,
                                                  const std::string& program, Keep&& keep) {
    using Count = typename Profile::Count;
    detail::LineReader reader(path);
    if (!reader.file)
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    // An incomplete file names the line where it breaks off: the one without
    // its newline, or the missing summary line after the last.
    const auto incomplete = [&](std::uint64_t at) {
        return MergeRefusal(path, "line " + std::to_string(at) +
                                      ": incomplete: no summary line at its end "
                                      "(its run was stopped or failed)");
    };
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
        if (line.back() != '\n') throw incomplete(number);
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
        // The excess as the program computes it, from n and C(n) alone.
        const auto e = density.excess(*n, q_count);
        if (!lines.matches(kind, *n, *count, e, line, fields[2]))
            throw at_line("the excess is not the one " + program +
                          " computes at this n and count for this p");
        const bool beats = kind == 'Q' ? e > state.maxQ : e < state.minE;
        if (!beats && !any_record)
            throw at_line(kind == 'Q'
                              ? "the excess is not above -1e-12, the first Q record's threshold"
                              : "the excess is not above 0, the first F record's threshold");
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
    if (!summary) throw incomplete(number + 1);
    return *summary;
}

// How p and the power were given beside the names: -p P as the program reads
// its first argument, -k K as morvane-x reads its power (0: not given). The
// options' names, for messages, are the caller's: the Python module says p=.
struct NameArguments {
    NameArguments(const char* p_argument = nullptr, int k_argument = 0)
        : p(p_argument), k(k_argument) {}
    const char* p;
    int k;
    std::string p_option = "-p", k_option = "-k";
};

namespace detail {

// morvane and morvane-l: p read as the program reads its first argument, from
// a p text of digits or from -p, both where both are given.
inline std::int32_t p_of_name(const std::string& p_text, const NameArguments& given,
                              const std::string& path) {
    const char* p_argument = given.p;
    for (const char c : p_text)
        if (!is_digit(c))
            throw MergeRefusal(path, "the p text " + p_text +
                                         " is not one of morvane or morvane-l (digits only)");
    std::int32_t p = 0;
    if (p_argument) {
        p = read_p(p_argument);
        if (!p_text.empty() && read_p(p_text.c_str()) != p)
            throw MergeRefusal(path,
                               "its p text gives p = " + std::to_string(read_p(p_text.c_str())) +
                                   ", " + given.p_option + " gives " + std::to_string(p));
    } else {
        if (p_text.empty())
            throw MergeRefusal(path,
                               "the p text is empty (a first argument such as +7): "
                               "give p with " + given.p_option);
        p = read_p(p_text.c_str());
    }
    if (static_cast<std::uint32_t>(p) < 2 || p > 97)
        throw MergeRefusal(path, "p = " + std::to_string(p) + " is out of range (2 to 97)");
    return p;
}

// morvane-x: the bound from "<digits>" or "all" and the power from "k<K>"
// (2 when absent; never written as k2), each checked against -p and -k.
inline PrimeSet set_of_set_text(const std::string& p_text, const NameArguments& given,
                                const std::string& path) {
    const std::size_t k_at = p_text.find('k');
    const std::string number = p_text.substr(0, k_at);
    PrimeSet set{0, 2};
    if (k_at != std::string::npos) {
        const std::string k_text = p_text.substr(k_at + 1);
        if (read_power(k_text.c_str(), set.k) != nullptr || set.k == 2 || k_text[0] == '0')
            throw MergeRefusal(path, "the p text " + p_text + " has no power from 3 to 63 after k");
    }
    if (given.k != 0 && given.k != set.k)
        throw MergeRefusal(path, "its name gives k = " + std::to_string(set.k) + ", " +
                                     given.k_option + " gives " + std::to_string(given.k));
    if (!number.empty() && read_bound(number.c_str(), set.bound) != nullptr)
        throw MergeRefusal(path, "p = " + number + " is out of range (2 to 4294967295, or all)");
    if (given.p) {
        std::uint64_t bound = 0;
        if (read_bound(given.p, bound) != nullptr)
            throw MergeRefusal(path, given.p_option + " " + given.p +
                                         " is out of range (2 to 4294967295, or all)");
        if (!number.empty() && bound != set.bound)
            throw MergeRefusal(path, "its p text gives p = " + number + ", " + given.p_option +
                                         " gives " + bound_text(PrimeSet{bound, 2}));
        set.bound = bound;
    } else if (number.empty()) {
        throw MergeRefusal(path, "the p text is empty (a first argument such as +7): give p with " +
                                     given.p_option);
    }
    return set;
}

}  // namespace detail

// The set of a file of Profile's program named with this p text, and given p
// and K beside the names. Throws MergeRefusal, naming path, for a set that
// cannot be known, disagrees, or is not the program's.
template <class Profile>
PrimeSet set_of_name(const std::string& p_text, const NameArguments& given,
                     const std::string& path) {
    if constexpr (Profile::any_set) {
        return detail::set_of_set_text(p_text, given, path);
    } else {
        return squares_set(detail::p_of_name(p_text, given, path));
    }
}

}  // namespace morvane
