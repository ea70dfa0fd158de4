// The record files of a run held in memory (RunRecords): made byte for byte by
// the program's own RecordFiles (and the record runs' file as morvane-x -r
// writes it, where the run has them), written whole into a folder, and read
// back with every line checked as morvane-merge checks its inputs. For the
// Python module and the library's public API, which hold runs as values.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "run/record_files.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/printed_count.hpp"
#include "windows/program_lines.hpp"
#include "windows/record.hpp"
#include "windows/record_name.hpp"
#include "windows/replacing_file.hpp"
#include "windows/run_file_reader.hpp"
#include "windows/run_join.hpp"
#include "windows/window_file.hpp"
#include "windows/window_scan.hpp"

namespace morvane {

// A run's records with what names its files.
template <class Profile>
struct RunFiles {
    PrimeSet set;
    std::uint64_t N = 0, nmin = 0;
    std::string p_text;
    RunRecords<Profile> records;
};

// The two files as the program writes them, made by its own RecordFiles.
template <class Profile>
std::pair<std::string, std::string> run_file_bytes(const RunFiles<Profile>& run) {
    using Count = typename Profile::Count;
    char* q_bytes = nullptr;
    char* f_bytes = nullptr;
    std::size_t q_size = 0, f_size = 0;
    std::FILE* q = open_memstream(&q_bytes, &q_size);
    std::FILE* f = open_memstream(&f_bytes, &f_size);
    if (!q || !f) throw std::bad_alloc();
    bool written = true;
    {
        RecordFiles<Profile> files(q, f);
        for (const auto& r : run.records.q)
            written = files.q_record(Count(r.n), Count(r.count), r.e) && written;
        for (const auto& r : run.records.f)
            written = files.f_record(Count(r.n), Count(r.count), r.e) && written;
        written = files.close_q(Count(run.N), Count(run.records.q_total)) && written;
        written = files.close_f(Count(run.N), Count(run.N - run.records.q_total)) && written;
    }
    std::pair<std::string, std::string> bytes{std::string(q_bytes, q_size),
                                              std::string(f_bytes, f_size)};
    std::free(q_bytes);
    std::free(f_bytes);
    if (!written) throw std::bad_alloc();
    return bytes;
}

// Writes both files into folder, named with p_text, each through a temporary
// file renamed over its name when complete, so that a failure leaves any
// earlier files whole; and the record runs' file beside them where the run has
// them. Returns the Q and F paths; throws MergeRefusal.
template <class Profile>
std::pair<std::string, std::string> write_run_files(const RunFiles<Profile>& run,
                                                    const std::string& folder,
                                                    const std::string& p_text) {
    using Count = typename Profile::Count;
    const std::filesystem::path dir(folder);
    const auto q_target = dir / record_file_name('Q', p_text.c_str(), Count(run.nmin));
    const auto f_target = dir / record_file_name('F', p_text.c_str(), Count(run.nmin));
    const auto r_target = dir / record_file_name('R', p_text.c_str(), Count(run.nmin));
    const auto [q_bytes, f_bytes] = run_file_bytes(run);
    const auto& runs = run.records.runs;
    for (const auto& target : {q_target, f_target, r_target}) {
        if (target == r_target && !runs) continue;
        std::error_code error;
        const auto status = std::filesystem::status(target, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
            throw MergeRefusal(target.string(), "is in the way: not a regular file");
    }
    detail::TemporaryFile q_out(q_target), f_out(f_target);
    q_out.write(q_bytes);
    f_out.write(f_bytes);
    q_out.finish();
    f_out.finish();
    std::optional<detail::TemporaryFile> r_out;
    if (runs) {
        r_out.emplace(r_target);
        r_out->write(run_file_text(*runs, run.N));
        r_out->finish();
    }
    q_out.rename_over_target();
    f_out.rename_over_target();
    if (r_out) r_out->rename_over_target();
    return {q_target.string(), f_target.string()};
}

// The pair of record files of one run of `program`, every line checked as
// morvane-merge checks its inputs, and the record runs' file where r_path is
// given. The set comes from the names' p text, checked against what is given
// beside them (as the merge takes them). Throws MergeRefusal naming the file
// and the line of the first fault.
template <class Profile>
RunFiles<Profile> read_run_files(const std::string& program, const std::string& q_path,
                                 const std::string& f_path, const NameArguments& given,
                                 const std::string& r_path = {}) {
    using Count = typename Profile::Count;
    const auto q_name = read_record_name(q_path);
    if (!q_name || q_name->kind != 'Q')
        throw MergeRefusal(q_path, "not named like a Q file (maxdevQ_<p text>-<nmin>.txt)");
    const auto f_name = read_record_name(f_path);
    if (!f_name || f_name->kind != 'F')
        throw MergeRefusal(f_path, "not named like an F file (maxdevF_<p text>-<nmin>.txt)");
    if (f_name->p_text != q_name->p_text || f_name->nmin_text != q_name->nmin_text)
        throw MergeRefusal(f_path,
                           "not the partner of " + q_path + ": another p text or nmin in the name");
    const auto nmin = read_printed_count<Count>(q_name->nmin_text);
    if (!nmin)
        throw MergeRefusal(q_path, "the nmin in the name, " + q_name->nmin_text +
                                       ", is not a count of " + program);
    const PrimeSet set = set_of_name<Profile>(q_name->p_text, given, q_path);

    const typename Profile::Density density(set);
    ProgramLines<Profile> lines;
    RunFiles<Profile> run;
    const auto keep_into = [](std::vector<Record<Profile>>& list) {
        return [&list](std::string_view, const Record<Profile>& r) { list.push_back(r); };
    };
    const auto q = read_window_file<Profile>(q_path, 'Q', *nmin, density, lines, program,
                                             keep_into(run.records.q));
    const auto f = read_window_file<Profile>(f_path, 'F', *nmin, density, lines, program,
                                             keep_into(run.records.f));
    if (q.N != f.N || f.count != q.N - q.count)
        throw MergeRefusal(f_path,
                           "its summary line does not match that of its Q partner " + q_path);
    if (!r_path.empty()) {
        const auto r_name = read_record_name(r_path);
        if (!r_name || r_name->kind != 'R')
            throw MergeRefusal(r_path,
                               "not named like a file of record runs (maxrunQ_<p text>-<nmin>.txt)");
        if (r_name->p_text != q_name->p_text || r_name->nmin_text != q_name->nmin_text)
            throw MergeRefusal(r_path, "not the partner of " + q_path +
                                           ": another p text or nmin in the name");
        if constexpr (!Profile::any_set)
            throw MergeRefusal(r_path, run_file_program_fault);
        const RunFileContent content = read_run_file(r_path, *nmin);
        if (content.N != q.N)
            throw MergeRefusal(r_path, "its summary line's N is not that of its Q partner " + q_path);
        run.records.runs = content.records;
    }
    run.set = set;
    run.N = q.N;
    run.nmin = *nmin;
    run.p_text = q_name->p_text;
    run.records.q_total = q.count;
    return run;
}

}  // namespace morvane
