// The record lines the program writes, made by its own RecordFiles into two
// memory streams: a line read from a file is the program's if and only if it
// has these bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "run/printed_excess.hpp"
#include "run/record_files.hpp"

namespace morvane {

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

}  // namespace morvane
