// The form of a record file's lines: a record line "n count excess", the
// count being C(n) in a Q file and n - C(n) in an F file, and the summary line
// "N count" at the end, every count printed as the program prints it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "windows/printed_count.hpp"

namespace morvane {

// A line read for its form alone: a summary line (two fields) or a record
// line (any other number), and whether its counts are the program's: printed
// counts, a record line's three fields, the count not above n (or N).
template <class Count>
struct LineForm {
    bool summary = false;
    bool formed = false;
    Count n = 0;              // N in a summary line
    Count count = 0;
    std::string_view excess;  // a record line's third field, as it stands
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

}  // namespace detail

// The form of a line without its newline.
template <class Count>
LineForm<Count> line_form(std::string_view line) {
    const auto fields = detail::fields_of(line);
    LineForm<Count> form;
    form.summary = fields.size() == 2;
    if (!form.summary && fields.size() != 3) return form;
    const auto n = read_printed_count<Count>(fields[0]);
    const auto count = read_printed_count<Count>(fields[1]);
    if (!n || !count || *count > *n) return form;
    form.formed = true;
    form.n = *n;
    form.count = *count;
    if (!form.summary) form.excess = fields[2];
    return form;
}

// The summary line the program writes at N, with the count its file shows.
template <class Profile>
std::string summary_line(typename Profile::Count N, typename Profile::Count count) {
    using Printed = typename Profile::Printed;
    char text[64];
    std::snprintf(text, sizeof text, Profile::summary_format, Printed(N), Printed(count));
    return text;
}

}  // namespace morvane
