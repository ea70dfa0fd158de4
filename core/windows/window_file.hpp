// One record file read whole, every line checked against what the program
// writes: the lines' form (record_lines.hpp), the records' rules
// (record_rules.hpp) and each excess exactly as the program prints it
// (program_lines.hpp), in the profile's own arithmetic.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "windows/line_reader.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/program_lines.hpp"
#include "windows/record.hpp"
#include "windows/record_lines.hpp"
#include "windows/record_rules.hpp"

namespace morvane {

// What a whole file holds besides its records: the summary line.
template <class Count>
struct Summary {
    Count N = 0;
    Count count = 0;
    std::string line;  // as it stands, newline included
};

// A record's fault in the words of a file's refusal.
inline std::string file_fault_text(RecordFault fault, char kind, const std::string& program) {
    switch (fault) {
        case RecordFault::order: return "n is not above the previous record's and nmin";
        case RecordFault::excess:
            return "the excess is not the one " + program +
                   " computes at this n and count for this p";
        case RecordFault::threshold:
            return kind == 'Q' ? "the excess is not above -1e-12, the first Q record's threshold"
                               : "the excess is not above 0, the first F record's threshold";
        case RecordFault::beat: return "the excess does not beat the records before it";
        case RecordFault::none: break;
    }
    return {};
}

// Reads one window file of the given kind whose window starts at nmin, checks
// every line, and hands each record line (newline included) with its record to
// keep(line, record). Returns the summary. Throws MergeRefusal for the first fault.
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
    RecordRules<Profile> rules(density, kind, nmin);
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
        const auto form = line_form<Count>(line.substr(0, line.size() - 1));
        if (form.summary) {
            if (!form.formed) throw at_line("not a summary line of " + program);
            if (!rules.ends_at(form.n)) throw at_line("the summary line's N is below the window's n");
            summary = Summary<Count>{form.n, form.count, std::string(line)};
            continue;
        }
        if (!form.formed) throw at_line("not a record line of " + program);
        const RecordFault fault = rules.next(form.n, form.count, [&](const auto& e) {
            return lines.matches(kind, form.n, form.count, e, line, form.excess);
        });
        if (fault != RecordFault::none) throw at_line(file_fault_text(fault, kind, program));
        keep(line, Record<Profile>{form.n, form.count, rules.extreme()});
    }
    if (std::ferror(reader.file))
        throw MergeRefusal(path, std::string("cannot be read: ") + std::strerror(errno));
    if (!summary) throw incomplete(number + 1);
    return *summary;
}

}  // namespace morvane
