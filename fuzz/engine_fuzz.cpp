// Fuzz target: the fast engine against the plain scan.
//
// The input picks the profile (narrow, extended or exact), the copy of the
// engine's loops (among those this processor runs), p from 2 to 97, nmin
// anywhere in the profile's
// count range (near the start, at its end, just below a power of two, or
// anywhere) and a window of at most 20000 n from nmin on. Both engines write
// their record files to memory, closed with their summary lines, and the bytes
// must be the same.
// For morvane-x, bytes after the copy may pick another set: more primes than
// 97, every prime, or a power from 3 to 63.
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

// Any set of morvane-x against the walk, which takes primes below 2^16: the
// window is moved below 65535^k where the set needs more.
void compare_set(const PrimeSet& set, std::uint64_t N, std::uint64_t nmin, EngineCopy copy) {
    const std::uint64_t power = prime_power(65535, set.k);
    if (set.all() && power != 0 && N > power) {
        const std::uint64_t length = N - nmin;
        nmin = nmin % (power - max_window - 2);
        N = std::max<std::uint64_t>(nmin + length, 2);
    }
    const auto plain = testing::records_in_memory<ExactProfile>(N, [&](auto& state, auto& files) {
        const std::uint64_t first = nmin > 1 ? nmin : 1;
        QNumberDetector<ExactProfile> detector(set, first, N);
        state.count = count_q_numbers(first - 1, set);
        return plain_window(detector, first, N, state, files);
    });
    const auto fast = testing::records_in_memory<ExactProfile>(N, [&](auto& state, auto& files) {
        return fast_scan(set, N, nmin, state, files, copy);
    });
    if (!plain.written || !fast.written) std::abort();
    if (plain.q != fast.q || plain.f != fast.f || plain.count != fast.count) {
        std::fprintf(stderr, "MISMATCH (morvane-x, %s copy): p=%s k=%d N=%llu nmin=%llu\n",
                     engine_copy_name(copy), set.all() ? "all" : std::to_string(set.bound).c_str(),
                     set.k, static_cast<unsigned long long>(N), static_cast<unsigned long long>(nmin));
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
    if constexpr (std::is_same_v<Profile, ExactProfile>) {
        // morvane-x's sets last of all, so that an input that ends before
        // them keeps its squares of the primes up to p.
        const int kind = input.ConsumeIntegralInRange<int>(0, 3);
        if (kind != 0) {
            const PrimeSet set = kind == 1   ? PrimeSet{input.ConsumeIntegralInRange<std::uint64_t>(98, 300), 2}
                                 : kind == 2 ? PrimeSet{PrimeSet::every_prime, input.ConsumeIntegralInRange<int>(2, 7)}
                                             : PrimeSet{std::uint64_t(p), input.ConsumeIntegralInRange<int>(3, 63)};
            compare_set(set, N, nmin, copy);
            return;
        }
    }
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
