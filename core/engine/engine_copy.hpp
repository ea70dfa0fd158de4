// The copies of the fast scan's loops, and which one runs.
//
// The loops lean on popcnt, tzcnt and lzcnt, which baseline x86-64 lacks
// (popcount is then a library call), and on vector units. The same source is
// compiled three times: for baseline x86-64, for x86-64-v3 (AVX2) and for
// x86-64-v4 (AVX-512 with VPOPCNTDQ), each with its own kernels where they
// differ (word_gate.hpp). Floating-point contraction stays off in every copy,
// and all of them write the same records. The best copy the processor runs is
// taken, unless MORVANE_ENGINE names another (for tests and benchmarks), or is
// "second": the best copy below that one, where the processor runs two, so
// that a second scan of a run (morvane-par --double-check) runs other code.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace morvane {

enum class EngineCopy { baseline, v3, v4 };

inline constexpr EngineCopy engine_copies[] = {EngineCopy::baseline, EngineCopy::v3,
                                               EngineCopy::v4};

// As MORVANE_ENGINE takes it.
inline const char* engine_copy_name(EngineCopy copy) {
    switch (copy) {
        case EngineCopy::v4:
            return "x86-64-v4";
        case EngineCopy::v3:
            return "x86-64-v3";
        default:
            return "baseline";
    }
}

namespace detail {

#if defined(__x86_64__)
inline bool cpu_has_lzcnt() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) && (ecx & bit_LZCNT);
}

// Clang before 18 (Debian's clang 14 builds the fuzz targets) does not know the
// levels' names in __builtin_cpu_supports: their features are asked one by one.
inline bool cpu_has_x86_64_v3() {
    return cpu_has_lzcnt() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("popcnt");
}

inline bool cpu_has_x86_64_v4() {
    return cpu_has_x86_64_v3() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vpopcntdq");
}
#endif

}  // namespace detail

// Whether this build holds the copy and this processor runs it.
inline bool engine_copy_runs(EngineCopy copy) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (copy == EngineCopy::v4) return detail::cpu_has_x86_64_v4();
    if (copy == EngineCopy::v3) return detail::cpu_has_x86_64_v3();
#endif
    return copy == EngineCopy::baseline;
}

inline EngineCopy best_engine_copy() {
    EngineCopy best = EngineCopy::baseline;
    for (EngineCopy copy : engine_copies)
        if (engine_copy_runs(copy)) best = copy;
    return best;
}

// The best copy below the best, or the best when it is the only one that runs.
inline EngineCopy second_engine_copy() {
    EngineCopy second = best_engine_copy();
    for (EngineCopy copy : engine_copies)
        if (copy < best_engine_copy() && engine_copy_runs(copy)) second = copy;
    return second;
}

// The copy a scan runs, decided once per process. A MORVANE_ENGINE that names
// no copy, or one that this build or processor cannot run, is reported once on
// standard error and the best copy runs instead: the records are the same.
inline EngineCopy chosen_engine_copy() {
    static const EngineCopy chosen = [] {
        const EngineCopy best = best_engine_copy();
        const char* asked = std::getenv("MORVANE_ENGINE");
        if (!asked || !*asked) return best;
        if (std::strcmp(asked, "second") == 0) return second_engine_copy();
        for (EngineCopy copy : engine_copies)
            if (std::strcmp(asked, engine_copy_name(copy)) == 0 && engine_copy_runs(copy))
                return copy;
        std::fprintf(stderr, "MORVANE_ENGINE=%s: not a copy of the scan that runs here; using %s\n",
                     asked, engine_copy_name(best));
        return best;
    }();
    return chosen;
}

}  // namespace morvane
