// A window run's plan as the work folder keeps it: the program, its set, the range,
// and the windows and tasks, one "key value" line each. morvane-merge --plan
// prints it, morvane-par writes it into the work folder once, and every task,
// the final merge and --status read it back from there, so that a run started
// again goes on with the windows and tasks it began with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "arith/prime_set.hpp"
#include "run/set_arguments.hpp"
#include "run/decimal.hpp"
#include "run/record_files.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/printed_count.hpp"
#include "windows/record_name.hpp"
#include "windows/window_plan.hpp"

namespace morvane {

struct RunPlan {
    std::string program;  // morvane, morvane-l or morvane-x
    PrimeSet set;                   // the primes and the power
    std::string p_text;             // names the files; may be empty
    std::string N_text, nmin_text;  // as arguments that the program reads back as N and nmin
    WindowPlan windows;
    bool runs = false;  // the record runs too (morvane-x -r): a third file
};

// A count as an argument text that the programs read back as that count: the
// C library saturates beyond the signed 64-bit range, so a count above it is
// given as its negative, which wraps to it (-1 is 2^64 - 1).
inline std::string argument_text(std::uint64_t count) {
    if (count <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::to_string(count);
    std::string text = std::to_string(-count);
    text.insert(text.begin(), '-');
    return text;
}

// The plan's text: the set, every count, and N and nmin followed by their
// argument texts.
inline std::string plan_text(const RunPlan& plan) {
    const WindowPlan& w = plan.windows;
    // "k" only for a power other than 2: a plan of squares reads as it always has.
    return "program " + plan.program + "\np " + bound_text(plan.set) +
           (plan.set.k == 2 ? "" : "\nk " + std::to_string(plan.set.k)) + "\nptext " + plan.p_text +
           "\nN " + std::to_string(w.N) + " " + argument_text(w.N) + "\nnmin " +
           std::to_string(w.nmin) + " " + argument_text(w.nmin) + "\nlast " +
           std::to_string(w.last) + "\nwindows " + std::to_string(w.windows) + "\ntasks " +
           std::to_string(w.tasks) + "\nhead " + std::to_string(w.head) + "\n" +
           (w.shifted ? "shifted 1\n" : "") + (plan.runs ? "runs 1\n" : "");
}

// One field of the plan by its name, as morvane-merge --plan-field prints it
// for morvane-par: the value of its line in plan_text, with N and nmin apart
// from their argument texts (the fields N-argument and nmin-argument), k even
// when it is 2, shifted and runs even when they are 0. Nothing for a name that
// is no field.
inline std::optional<std::string> plan_field(const RunPlan& plan, std::string_view name) {
    const WindowPlan& w = plan.windows;
    const std::pair<std::string_view, std::string> fields[] = {
        {"program", plan.program},
        {"p", bound_text(plan.set)},
        {"k", std::to_string(plan.set.k)},
        {"ptext", plan.p_text},
        {"N", std::to_string(w.N)},
        {"N-argument", argument_text(w.N)},
        {"nmin", std::to_string(w.nmin)},
        {"nmin-argument", argument_text(w.nmin)},
        {"last", std::to_string(w.last)},
        {"windows", std::to_string(w.windows)},
        {"tasks", std::to_string(w.tasks)},
        {"head", std::to_string(w.head)},
        {"shifted", w.shifted ? "1" : "0"},
        {"runs", plan.runs ? "1" : "0"},
    };
    for (const auto& [key, value] : fields)
        if (key == name) return value;
    return std::nullopt;
}

// The plan in a work folder's plan file; throws MergeRefusal naming the file
// for anything that is not a plan morvane-merge --plan could have printed.
inline RunPlan read_run_plan(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw MergeRefusal(path, "cannot be read: no plan of a window run");
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos ||
            !values.emplace(line.substr(0, space), line.substr(space + 1)).second)
            throw MergeRefusal(path, "not a plan of a window run: '" + line + "'");
    }
    const auto text = [&](const char* key) {
        const auto at = values.find(key);
        if (at == values.end()) throw MergeRefusal(path, std::string("no '") + key + "' line");
        return at->second;
    };
    const auto count = [&](const char* key) {
        std::string value = text(key);
        value = value.substr(0, value.find(' '));
        const auto n = read_printed_count<std::uint64_t>(value);
        if (!n) throw MergeRefusal(path, std::string("the '") + key + "' line holds no count");
        return *n;
    };
    RunPlan plan;
    plan.program = text("program");
    if (text("p") != "all") plan.set.bound = count("p");
    else plan.set.bound = PrimeSet::every_prime;
    plan.set.k = values.count("k") ? static_cast<int>(std::min<std::uint64_t>(count("k"), 64)) : 2;
    plan.p_text = text("ptext");
    if (!read_record_name(record_file_name('Q', plan.p_text.c_str(), 1)))
        throw MergeRefusal(path, "the p text is not one of a record file's name");
    WindowPlan& w = plan.windows;
    w.N = count("N");
    w.nmin = count("nmin");
    w.last = count("last");
    w.windows = count("windows");
    w.tasks = count("tasks");
    w.head = count("head");
    // The plan of a double check's second scan; a run's plan has no such line.
    if (values.count("shifted")) {
        if (text("shifted") != "1") throw MergeRefusal(path, "the 'shifted' line is not 1");
        w.shifted = true;
    }
    // A run with its record runs; a plan without them has no such line.
    if (values.count("runs")) {
        if (text("runs") != "1") throw MergeRefusal(path, "the 'runs' line is not 1");
        plan.runs = true;
    }
    plan.N_text = argument_text(w.N);
    plan.nmin_text = argument_text(w.nmin);
    const std::uint64_t length = w.last >= w.first() ? w.last - w.first() + 1 : 0;
    bool sound = runnable_set(plan.set) && w.N >= 2 && w.nmin <= w.last &&
                       w.last <= w.N && length >= 1 && w.head < length && w.windows >= 1 &&
                       w.windows - (w.head > 0) <= length - w.head && w.tasks >= 1 &&
                       w.tasks <= w.windows && (w.head == 0 || (w.tasks >= 2 && w.windows >= 2));
    if (sound && w.shifted) {
        // The run's windows, whose middles cut these, are of 2 n at least.
        WindowPlan run = w;
        run.shifted = false;
        run.windows = w.windows - 1;
        const auto again = shifted_window_plan(run, 0);
        sound = run.windows >= 1 + (w.head > 0) && again.has_value();
    }
    if (!sound) throw MergeRefusal(path, "its counts do not make a plan of windows and tasks");
    return plan;
}

// The two record files that task t keeps in the work folder: those of the run
// over its stretch, up to the last window it has merged.
inline std::string task_file(const std::string& work, const RunPlan& plan, char kind,
                             std::uint64_t t) {
    return work + "/" +
           record_file_name(kind, plan.p_text.c_str(), plan.windows.task_range(t).first);
}

// The log that task t appends a line to after every window it has merged.
inline std::string task_log(const std::string& work, std::uint64_t t) {
    return work + "/task-" + std::to_string(t) + ".log";
}

}  // namespace morvane
