// Whether the processor runs x86-64-v3 code, for the fast scan's run-time
// choice between its baseline loops and the AVX2 ones.
#pragma once

#if defined(__x86_64__)
#include <cpuid.h>

namespace morvane {

inline bool cpu_has_x86_64_v3() {
#if defined(__clang__) && __clang_major__ < 18
    // Clang before 18 does not know the level's name in __builtin_cpu_supports
    // (Debian's clang 14 builds the fuzz targets): ask for the features that the
    // loops use instead, LZCNT through cpuid, since the builtin does not name it.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const bool lzcnt = __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) && (ecx & bit_LZCNT);
    return lzcnt && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("popcnt");
#else
    return __builtin_cpu_supports("x86-64-v3");
#endif
}

}  // namespace morvane
#endif
