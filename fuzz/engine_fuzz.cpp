// Fuzz target: the fast engine against the plain scan.
//
// The input picks the profile (narrow, extended or exact), the copy of the
// engine's loops (among those this processor runs), p from 2 to 97, nmin
// anywhere in the profile's
// count range (near the start, at its end, just below a power of two, or
// anywhere) and a window of at most 20000 n from nmin on. Both engines write
// their record files to memory, closed with their summary lines, and the bytes
// must be the same.
// Near the start the plain scan walks every n from 1; further out it starts at
// nmin from the count below it and a detector placed there, and the summary's
// count is checked against counting without walking.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>

#include "profiles/exact_density.hpp"
#include "memory_records.hpp"
#include "engine/q_count.hpp"

namespace {

using namespace morvane;

constexpr std::uint64_t max_window = 20000;
// Below this nmin the plain scan walks every n from 1.
constexpr std::uint64_t walk_limit = 100000;

template <class Profile>
const char* program_name() {
    if constexpr (std::is_same_v<Profile, NarrowProfile>) return "morvane";
    if constexpr (std::is_same_v<Profile, ExtendedProfile>) return "morvane-l";
    return "morvane-x";
}

template <class Profile>
void compare(int p, typename Profile::Count N, typename Profile::Count nmin, EngineCopy copy) {
    using Count = typename Profile::Count;
    const int active = active_square_count<Count>(p);
    const testing::MemoryRecords plain = testing::plain_reference<Profile>(p, N, nmin, walk_limit);
    const testing::MemoryRecords fast = testing::fast_records<Profile>(p, N, nmin, copy);
    // Memory streams do not fail.
    if (!plain.written || !fast.written) std::abort();
    const bool same = plain.q == fast.q && plain.f == fast.f;
    const bool counted = plain.count == count_q_numbers(N, active);
    if (!same || !counted) {
        std::fprintf(stderr, "MISMATCH (%s, %s copy): p=%d N=%llu nmin=%llu\n",
                     program_name<Profile>(), engine_copy_name(copy), p,
                     static_cast<unsigned long long>(N), static_cast<unsigned long long>(nmin));
        if (!counted) std::fprintf(stderr, "C(N): walked %llu, counted %llu\n",
                                   static_cast<unsigned long long>(plain.count),
                                   static_cast<unsigned long long>(count_q_numbers(N, active)));
        std::fprintf(stderr, "--- plain Q\n%s--- fast Q\n%s--- plain F\n%s--- fast F\n%s",
                     plain.q.c_str(), fast.q.c_str(), plain.f.c_str(), fast.f.c_str());
        std::abort();
    }
}

template <class Profile>
void run(FuzzedDataProvider& input) {
    using Count = typename Profile::Count;
    constexpr std::uint64_t top = std::numeric_limits<Count>::max();
    const int p = input.ConsumeIntegralInRange<int>(2, 97);
    std::uint64_t nmin = 0;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:  // near the start, where the extremes are young
            nmin = input.ConsumeIntegralInRange<std::uint64_t>(0, 2 * walk_limit);
            break;
        case 1:  // at the end of the count range
            nmin = top - input.ConsumeIntegralInRange<std::uint64_t>(0, 2 * max_window);
            break;
        case 2: {  // across a power of two (2^32 in morvane-l, say)
            // 2^16 and up: the offset stays below the power.
            const int bits = input.ConsumeIntegralInRange<int>(16, std::numeric_limits<Count>::digits - 1);
            nmin = (std::uint64_t{1} << bits) -
                   input.ConsumeIntegralInRange<std::uint64_t>(0, 2 * max_window);
            break;
        }
        default:
            nmin = input.ConsumeIntegralInRange<std::uint64_t>(0, top);
            break;
    }
    const std::uint64_t length = input.ConsumeIntegralInRange<std::uint64_t>(0, max_window);
    // The command line refuses N below 2 or below nmin.
    const std::uint64_t N = std::max<std::uint64_t>(nmin + std::min(length, top - nmin), 2);
    // The copy comes last, so that the inputs of the corpus keep their windows.
    EngineCopy runnable[std::size(engine_copies)];
    std::size_t copies = 0;
    for (EngineCopy copy : engine_copies)
        if (engine_copy_runs(copy)) runnable[copies++] = copy;
    const EngineCopy copy = runnable[input.ConsumeIntegralInRange<std::size_t>(0, copies - 1)];
    compare<Profile>(p, Count(N), Count(nmin), copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            run<NarrowProfile>(input);
            break;
        case 1:
            run<ExtendedProfile>(input);
            break;
        default:
            run<ExactProfile>(input);
            break;
    }
    return 0;
}
