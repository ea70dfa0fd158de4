// What a record file's name tells of its run, whichever program wrote it: the
// kind, the p text, nmin, and the set the p text gives. morvane-merge
// --name-fields prints these for morvane-plot, which draws the files of any
// program and is told none.
#pragma once

#include <optional>
#include <string>

#include "arith/prime_set.hpp"
#include "profiles/profile.hpp"
#include "run/by_name.hpp"
#include "run/decimal.hpp"
#include "run/set_arguments.hpp"
#include "windows/merge_refusal.hpp"
#include "windows/record_name.hpp"

namespace morvane {

struct NameFields {
    RecordName name;
    std::string p_number;  // the p text without its power: digits (maybe none) or "all"
    std::string k_text;    // the power's digits after "k"; empty for the power 2
};

// The fields of the name at the end of path; throws MergeRefusal for a name
// that is not maxdev<Q|F>_<p text>-<nmin>.txt.
inline NameFields name_fields(const std::string& path) {
    const auto name = read_record_name(path);
    if (!name)
        throw MergeRefusal(path, "not named like a record file "
                                 "(maxdevQ_<p>-<nmin>.txt or maxdevF_<p>-<nmin>.txt)");
    const std::size_t k_at = name->p_text.find('k');
    if (k_at == std::string::npos) return {*name, name->p_text, {}};
    return {*name, name->p_text.substr(0, k_at), name->p_text.substr(k_at + 1)};
}

// The power the name gives: 2 without "k", else its digits from 3 to 63 as
// morvane-x writes them (never "k2", never a leading zero). Throws for any
// other: a power above 63 by its own message, the rest as no record name.
inline int name_power(const NameFields& fields, const std::string& path) {
    const std::string& text = fields.k_text;
    if (text.empty()) return PrimeSet::min_power;
    int k = 0;
    const bool leading_zero = text[0] == '0';
    if (!leading_zero && read_power(text.c_str(), k) == nullptr && k != PrimeSet::min_power)
        return k;
    const std::size_t widest = std::to_string(PrimeSet::max_power).size();
    if (!leading_zero && (text.size() > widest || std::stoi(text) > PrimeSet::max_power))
        throw MergeRefusal(path, "the power " + text + " in the file names is above " +
                                     std::to_string(PrimeSet::max_power) +
                                     ": not a record file name");
    throw MergeRefusal(path, "not named like a record file "
                             "(maxdevQ_<p>-<nmin>.txt or maxdevF_<p>-<nmin>.txt)");
}

// The set the p text gives, read as the program that writes such a name reads
// its first argument: morvane-x the bound (2 to 4294967295, or all) with any
// power; else, for the power 2, morvane and morvane-l the low 32 bits of the
// value (2 to 97: 4294967298 is 2). Nothing for a p text without p's digits
// (a first argument such as +7): p is then not in the name. Throws for a p
// text that no run writes.
inline std::optional<PrimeSet> name_set(const NameFields& fields, const std::string& path) {
    const int k = name_power(fields, path);
    if (fields.p_number.empty()) return std::nullopt;
    PrimeSet set{0, k};
    if (read_bound(fields.p_number.c_str(), set.bound) == nullptr) return set;
    const PrimeSet squares = squares_set(read_p(fields.p_number.c_str()));
    if (k == PrimeSet::min_power && takes_set<NarrowProfile>(squares)) return squares;
    throw MergeRefusal(path, "the p text " + fields.name.p_text +
                                 " in the file names gives no p of a run: not a record file name");
}

// The fields by name, as morvane-merge --name-fields prints them: kind,
// ptext, pnumber (the p text's p without the power), p (the bound, "all", or
// empty when the name gives none), k and nmin. Nothing for a name that is no
// field; p and k throw as name_set does.
inline std::optional<std::string> name_field(const NameFields& fields, const std::string& field,
                                             const std::string& path) {
    if (field == "kind") return std::string(1, fields.name.kind);
    if (field == "ptext") return fields.name.p_text;
    if (field == "pnumber") return fields.p_number;
    if (field == "nmin") return fields.name.nmin_text;
    if (field == "k") return std::to_string(name_power(fields, path));
    if (field == "p") {
        const auto set = name_set(fields, path);
        return set ? bound_text(*set) : std::string();
    }
    return std::nullopt;
}

// The names of the fields, in the order morvane-merge --name-fields prints them.
inline constexpr const char* name_field_names[] = {"kind", "ptext", "pnumber", "p", "k", "nmin"};

}  // namespace morvane
