// Each program's profile, chosen by the program's name, and the run its
// arguments ask for: one place for every front end that takes PROGRAM on its
// command line (morvane-merge, morvane-check, the Python module).
//
// A build has morvane always, morvane-l where long double is the x87 format
// (MORVANE_WITH_EXTENDED), morvane-x where GMP, MPFR and libprimesieve are
// (MORVANE_WITH_EXACT).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <type_traits>

#include "profiles/profile.hpp"
#include "run/command_line.hpp"
#include "run/power_option.hpp"
#include "run/set_arguments.hpp"
#ifdef MORVANE_WITH_EXACT
#include "run/set_command_line.hpp"
#endif

namespace morvane {

// The programs by name, whether or not this build has each: what PROGRAM may
// be on the command line of morvane-merge, morvane-check and morvane-par.
inline constexpr std::array<std::string_view, 3> program_names = {"morvane", "morvane-l",
                                                                  "morvane-x"};

// Whether the program takes a power, -k K before p: morvane-x alone.
inline bool takes_power(std::string_view program) { return program == "morvane-x"; }

// The program whose arithmetic the profile is (the names are null-terminated
// literals).
template <class Profile>
constexpr const char* program_name() {
    if constexpr (std::is_same_v<Profile, NarrowProfile>) {
        return program_names[0].data();
    } else if constexpr (std::is_same_v<Profile, ExtendedProfile>) {
        return program_names[1].data();
    } else {
        static_assert(Profile::any_set, "the exact profile, morvane-x's");
        return program_names[2].data();
    }
}

// Calls body with a value of the profile of the program so named; false when
// this build has no such program.
template <class Body>
bool with_profile(const std::string& program, Body&& body) {
    if (program == program_name<NarrowProfile>()) return body(NarrowProfile{}), true;
#ifdef MORVANE_WITH_EXTENDED
    if (program == program_name<ExtendedProfile>()) return body(ExtendedProfile{}), true;
#endif
#ifdef MORVANE_WITH_EXACT
    if (program == program_name<ExactProfile>()) return body(ExactProfile{}), true;
#endif
    return false;
}

// The sets Profile's program takes: morvane and morvane-l the squares of the
// primes up to p <= 97, morvane-x any bound it reads and power 2 to 63.
template <class Profile>
constexpr SetRange set_range() {
    return Profile::any_set ? read_sets : table_sets;
}

template <class Profile>
bool takes_set(const PrimeSet& set) {
    return set_range<Profile>().takes(set);
}

// Given for arguments that name no p: "-k 3" alone.
inline constexpr const char no_p_given[] = "no p";

// The run that PROGRAM's arguments ask for (argv[0] the program's name, at
// least one argument after it), or the program's own message for a refused
// one, or no_p_given. morvane-x's first argument cut in place as it cuts it.
template <class Profile>
const char* read_program_arguments(int argc, char** argv, RunParameters<Profile>& run) {
#ifdef MORVANE_WITH_EXACT
    if constexpr (std::is_same_v<Profile, ExactProfile>) {
        run = RunParameters<Profile>{};
        run.N = 0;
        if (const char* error = read_set_arguments(argc, argv, run)) return error;
        return run.N == 0 ? no_p_given : nullptr;
    }
#endif
    run = read_arguments<Profile>(argc, argv);
    return argument_error(run);
}

}  // namespace morvane
