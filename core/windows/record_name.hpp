// A record file's name, maxdev<kind>_<p text>-<nmin>.txt (kind Q or F) or
// maxrunQ_<p text>-<nmin>.txt (kind R, the record runs), and the set it names
// with what is given beside it: p as the program's first argument reads, and
// morvane-x's power.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "arith/prime_set.hpp"
#include "run/decimal.hpp"
#include "run/set_arguments.hpp"
#include "windows/merge_refusal.hpp"

namespace morvane {

inline constexpr const char record_name_fault[] =
    "not named like a record file (maxdevQ_<p text>-<nmin>.txt or maxdevF_<p text>-<nmin>.txt)";

// The parts of a record file's name, read from the last component of a path.
struct RecordName {
    char kind;              // 'Q', 'F' or 'R'
    std::string p_text;     // digits (maybe none) or "all", maybe "k" and a power
    std::string nmin_text;  // digits, as the program wrote them
};

inline std::optional<RecordName> read_record_name(std::string_view path) {
    const auto slash = path.rfind('/');
    std::string_view s = slash == std::string_view::npos ? path : path.substr(slash + 1);
    constexpr std::string_view head = "maxdev", runs = "maxrun", tail = ".txt";
    if (s.size() < head.size() + 4 + tail.size() || s.substr(s.size() - tail.size()) != tail)
        return std::nullopt;
    const bool run_file = s.substr(0, runs.size()) == runs;
    if (!run_file && s.substr(0, head.size()) != head) return std::nullopt;
    s = s.substr(head.size(), s.size() - head.size() - tail.size());
    if ((s[0] != 'Q' && (run_file || s[0] != 'F')) || s[1] != '_') return std::nullopt;
    RecordName name{run_file ? 'R' : s[0], {}, {}};
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
    if (static_cast<std::uint32_t>(p) < 2 || static_cast<std::uint32_t>(p) > largest_table_prime)
        throw MergeRefusal(path, "p = " + std::to_string(p) + " is out of range (2 to " +
                                     std::to_string(largest_table_prime) + ")");
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
