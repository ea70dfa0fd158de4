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
// Every file is read a line at a time: once to check all of it before anything
// is written, and again to copy the kept lines when its last record beats the
// records kept before it. Nothing grows with N or with the number of records
// (two excesses per window are kept).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fast_scan.hpp"
#include "engine/q_count.hpp"
#include "engine/scan_state.hpp"
#include "run/record_files.hpp"
#include "windows/printed_count.hpp"
#include "windows/program_lines.hpp"
#include "windows/record_lines.hpp"
#include "windows/record_name.hpp"
#include "windows/replacing_file.hpp"
#include "windows/run_merge.hpp"
#include "windows/window_file.hpp"

namespace morvane {

// The records of one run from the records of its windows, offered in window
// order: a window record is one of the run's when it beats every record kept
// before it. The files' merge below and the in-memory window runs of the
// Python module keep records by this one rule.
template <class Profile>
class RecordMerge {
public:
    using Real = typename Profile::Real;
    bool keeps_q(const Real& e) {
        if (!(e > state_.maxQ)) return false;
        state_.maxQ = e;
        return true;
    }
    bool keeps_f(const Real& e) {
        if (!(e < state_.minE)) return false;
        state_.minE = e;
        return true;
    }
    // The running extremes of the records kept so far.
    const ScanState<Profile>& kept() const { return state_; }

private:
    ScanState<Profile> state_;
};

// The Q and F files of one window.
template <class Count>
struct WindowFiles {
    Count nmin = 0;
    std::string nmin_text;
    std::string q_path, f_path, r_path;  // r_path: the record runs, where given
    Summary<Count> q, f;
};

// Merges the files into the two files of the whole run, written into out_dir.
// `given` holds p as the program's first argument would give it (needed when
// the p text is empty: a first argument such as "+7" leaves no digits in the
// names) and K, each checked against the names. Throws MergeRefusal, before anything is written, for
// names that are not record files', mixed p texts, a window without its Q or F
// partner, an incomplete or damaged file, and gaps or overlaps between windows.
//
// With `through`, the windows end where the profile's excess has repeated for
// one period from the first window's start, and the run goes on to `through`:
// no n beyond that period can beat what the period holds (the excess there
// repeats one met already), so the records are the windows', and the summary
// lines give C(through) counted by inclusion and exclusion, as the program's
// own scan stops and counts. print_every_line checks each line by printing it
// (program_lines.hpp), the reference for benchmarks.
template <class Profile>
void merge_record_files(const std::string& program, NameArguments given,
                        const std::vector<std::string>& paths, const std::filesystem::path& out_dir,
                        std::optional<typename Profile::Count> through = std::nullopt,
                        bool print_every_line = false) {
    using Count = typename Profile::Count;
    if (paths.empty()) throw MergeRefusal(program, "no record file to merge");

    // Names: one p text, and each window's Q and F file once.
    std::map<Count, WindowFiles<Count>> windows;
    std::string p_text;
    std::string first_path;
    for (const auto& path : paths) {
        const auto name = read_record_name(path);
        if (!name) throw MergeRefusal(path, record_name_fault);
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
        std::string& slot = name->kind == 'Q'   ? window.q_path
                            : name->kind == 'F' ? window.f_path
                                                : window.r_path;
        if (!slot.empty())
            throw MergeRefusal(path, std::string("overlap: a second ") + name->kind +
                                         " file of the window from nmin " + name->nmin_text +
                                         ", after " + slot);
        slot = path;
    }
    // With the record runs of one window, those of every window.
    const WindowFiles<Count>* with_runs = nullptr;
    for (const auto& [nmin, window] : windows)
        if (!window.r_path.empty()) with_runs = &window;
    if (with_runs && !Profile::any_set)
        throw MergeRefusal(with_runs->r_path, run_file_program_fault);
    for (const auto& [nmin, window] : windows) {
        const std::string& some = !window.q_path.empty() ? window.q_path
                                  : !window.f_path.empty() ? window.f_path
                                                           : window.r_path;
        if (with_runs && window.r_path.empty())
            throw MergeRefusal(some, "its record runs partner, " +
                                         record_file_name('R', p_text.c_str(), nmin) +
                                         ", is missing (" + with_runs->r_path + " has one)");
        if (window.q_path.empty())
            throw MergeRefusal(
                some,
                "its Q partner, " + record_file_name('Q', p_text.c_str(), nmin) + ", is missing");
        if (window.f_path.empty())
            throw MergeRefusal(
                some,
                "its F partner, " + record_file_name('F', p_text.c_str(), nmin) + ", is missing");
    }

    // The set, from the p text and what is given beside the names.
    const PrimeSet set = set_of_name<Profile>(p_text, given, first_path);

    // Every line of every file, then the windows' sequence.
    const typename Profile::Density density(set);
    ProgramLines<Profile> lines;
    lines.print_every_line = print_every_line;
    // Each file's extreme, its last record's excess: a file whose extreme
    // cannot beat the records kept before it adds no line, and is not read
    // a second time.
    std::map<Count, std::pair<typename Profile::Real, typename Profile::Real>> extremes;
    for (auto& [nmin, window] : windows) {
        ScanState<Profile> own;
        window.q =
            read_window_file<Profile>(window.q_path, 'Q', nmin, density, lines, program,
                                      [&](std::string_view, const auto& r) { own.maxQ = r.e; });
        window.f =
            read_window_file<Profile>(window.f_path, 'F', nmin, density, lines, program,
                                      [&](std::string_view, const auto& r) { own.minE = r.e; });
        extremes.emplace(nmin, std::make_pair(own.maxQ, own.minE));
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

    const auto& first = windows.begin()->second;
    const auto& last = windows.rbegin()->second;
    std::string q_summary = last.q.line, f_summary = last.f.line;
    if (through) {
        const std::uint64_t start = first.nmin > 1 ? first.nmin : 1;
        if (*through <= last.q.N ||
            last.q.N != last_record_n<Profile>(set, start, *through, with_runs != nullptr))
            throw MergeRefusal(last.q_path,
                               "it ends at N = " + std::to_string(last.q.N) +
                                   ", not where the excess has repeated from n = " +
                                   std::to_string(start) + " on the way to " +
                                   std::to_string(*through));
        const auto c = static_cast<Count>(count_q_numbers(*through, set));
        q_summary = summary_line<Profile>(*through, c);
        f_summary = summary_line<Profile>(*through, *through - c);
    }

    // The record runs joined, every run file read before anything is written.
    std::optional<std::string> run_text;
    if (with_runs) {
        std::vector<RunWindow> run_windows;
        for (const auto& [nmin, window] : windows)
            run_windows.push_back({nmin, window.q.N, window.r_path});
        run_text = merge_run_files(set, run_windows, through);
    }

    // The kept lines, through temporary files renamed over the outputs. A
    // folder in an output's place would stop the second rename after the first.
    const auto q_target = out_dir / record_file_name('Q', p_text.c_str(), first.nmin);
    const auto f_target = out_dir / record_file_name('F', p_text.c_str(), first.nmin);
    const auto r_target = out_dir / record_file_name('R', p_text.c_str(), first.nmin);
    for (const auto& target : {q_target, f_target, r_target}) {
        if (target == r_target && !run_text) continue;
        std::error_code error;
        const auto status = std::filesystem::status(target, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
            throw MergeRefusal(target.string(), "is in the way: not a regular file");
    }
    detail::TemporaryFile q_out(q_target);
    detail::TemporaryFile f_out(f_target);
    RecordMerge<Profile> merge;
    for (const auto& [nmin, window] : windows) {
        // A window whose last record cannot beat the records kept before it
        // has nothing to add: its file is not read a second time.
        const auto& [q_extreme, f_extreme] = extremes.at(nmin);
        if (q_extreme > merge.kept().maxQ)
            read_window_file<Profile>(window.q_path, 'Q', nmin, density, lines, program,
                                      [&](std::string_view line, const auto& r) {
                                          if (merge.keeps_q(r.e)) q_out.write(line);
                                      });
        if (f_extreme < merge.kept().minE)
            read_window_file<Profile>(window.f_path, 'F', nmin, density, lines, program,
                                      [&](std::string_view line, const auto& r) {
                                          if (merge.keeps_f(r.e)) f_out.write(line);
                                      });
    }
    q_out.write(q_summary);
    f_out.write(f_summary);
    q_out.finish();
    f_out.finish();
    std::optional<detail::TemporaryFile> r_out;
    if (run_text) {
        r_out.emplace(r_target);
        r_out->write(*run_text);
        r_out->finish();
    }
    q_out.rename_over_target();
    f_out.rename_over_target();
    if (r_out) r_out->rename_over_target();
}

}  // namespace morvane
