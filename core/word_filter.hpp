// The first, cheapest test of the fast scan, over a whole block of flag words:
// which words might hold a record, judged from the popcount alone.
//
// Relative to x at the block's start (a, in units of 2^-32, rounded down), x at
// the start of word w lies within [C_w * unit - 64 w delta_hi,
// C_w * unit - 64 w delta_lo + 1), C_w the Q bits of the block before word w.
// Inside the word, at its k-th Q bit the excess has risen by k - delta (i + 1)
// <= k (1 - delta), and at its k-th F bit it has fallen by
// delta (i + 1) - (i + 1 - k) <= delta k: so by at most pc (1 - delta) over Q
// bits and delta (64 - pc) over F bits. A word is marked when either reaches
// the given level. The levels are the thresholds at the block's start; they only
// move inwards later, so the marks are a superset of what is needed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "excess_bounds.hpp"

namespace morvane {

struct WordFilter {
    std::int64_t delta_lo, delta_hi;  // delta * 2^32 rounded down and up
    std::int64_t q_level;  // a Q bound above this marks the word (threshold - a)
    std::int64_t f_level;  // an F bound below this marks the word (threshold - a)
};

// Sets bit w of marks (zeroed by the caller) for each word w to look at, stores
// C_w in before[w], and returns the Q bits of all the words.
inline std::uint64_t mark_words(const std::uint64_t* flags, std::size_t words,
                                const WordFilter& filter, std::uint64_t* marks,
                                std::uint64_t* before) {
    std::uint64_t c = 0;
    for (std::size_t w = 0; w < words; ++w) {
        const auto pc = static_cast<std::int64_t>(std::popcount(flags[w]));
        const auto wi = static_cast<std::int64_t>(w);
        const std::int64_t base = static_cast<std::int64_t>(c) * unit;
        const bool q = base + pc * (unit - filter.delta_lo) - 64 * wi * filter.delta_lo > filter.q_level;
        // F bits fall from x_lo, which is x_hi less one unit per n before the word at most.
        const bool f = base - (64 - pc) * filter.delta_hi - 64 * wi * filter.delta_hi < filter.f_level;
        marks[w / 64] |= std::uint64_t{q || f} << (w % 64);
        before[w] = c;
        c += pc;
    }
    return c;
}

#if defined(__x86_64__)
// The same marks, four words at a time with AVX2.
[[gnu::target("avx2")]] inline std::uint64_t mark_words_avx2(const std::uint64_t* flags,
                                                              std::size_t words,
                                                              const WordFilter& filter,
                                                              std::uint64_t* marks,
                                                              std::uint64_t* before) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i bits_in = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                             0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    // Both factors fit 32 bits: delta_lo and delta_hi lie in [2^30, 2^31].
    const __m256i q_rise = _mm256_set1_epi64x(unit - filter.delta_lo);
    const __m256i f_fall = _mm256_set1_epi64x(filter.delta_hi);
    const __m256i q_level = _mm256_set1_epi64x(filter.q_level);
    // base - (64 - pc) delta_hi - 64 w delta_hi < f_level  <=>
    // base + pc delta_hi - 64 (w + 1) delta_hi < f_level
    const __m256i f_level = _mm256_set1_epi64x(filter.f_level);
    const std::int64_t lo = 64 * filter.delta_lo, hi = 64 * filter.delta_hi;
    __m256i q_drop = _mm256_setr_epi64x(0, lo, 2 * lo, 3 * lo);
    __m256i f_drop = _mm256_setr_epi64x(hi, 2 * hi, 3 * hi, 4 * hi);
    const __m256i q_drop_step = _mm256_set1_epi64x(4 * lo);
    const __m256i f_drop_step = _mm256_set1_epi64x(4 * hi);
    __m256i carry = zero;  // Q bits before the group, in every lane

    std::size_t w = 0;
    for (; w + 4 <= words; w += 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags + w));
        const __m256i low = _mm256_and_si256(v, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
        const __m256i bytes = _mm256_add_epi8(_mm256_shuffle_epi8(bits_in, low),
                                              _mm256_shuffle_epi8(bits_in, high));
        const __m256i pc = _mm256_sad_epu8(bytes, zero);  // popcount of each word
        // Inclusive prefix sums over the four lanes: shift by one lane, then two.
        __m256i sum = _mm256_add_epi64(
            pc, _mm256_blend_epi32(_mm256_permute4x64_epi64(pc, 0x90), zero, 0x03));
        sum = _mm256_add_epi64(
            sum, _mm256_blend_epi32(_mm256_permute4x64_epi64(sum, 0x40), zero, 0x0f));
        const __m256i c = _mm256_add_epi64(carry, _mm256_sub_epi64(sum, pc));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(before + w), c);
        const __m256i base = _mm256_slli_epi64(c, 32);
        const __m256i q_bound =
            _mm256_sub_epi64(_mm256_add_epi64(base, _mm256_mul_epu32(pc, q_rise)), q_drop);
        const __m256i f_bound =
            _mm256_sub_epi64(_mm256_add_epi64(base, _mm256_mul_epu32(pc, f_fall)), f_drop);
        const __m256i hit = _mm256_or_si256(_mm256_cmpgt_epi64(q_bound, q_level),
                                            _mm256_cmpgt_epi64(f_level, f_bound));
        const auto m = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(hit)));
        marks[w / 64] |= std::uint64_t{m} << (w % 64);
        carry = _mm256_permute4x64_epi64(_mm256_add_epi64(carry, sum), 0xff);
        q_drop = _mm256_add_epi64(q_drop, q_drop_step);
        f_drop = _mm256_add_epi64(f_drop, f_drop_step);
    }
    const auto done = static_cast<std::uint64_t>(_mm256_extract_epi64(carry, 0));
    if (w == words) return done;
    // The last few words: as above, one at a time, shifted to start at w.
    WordFilter rest = filter;
    const auto wi = static_cast<std::int64_t>(w);
    rest.q_level += 64 * wi * filter.delta_lo - static_cast<std::int64_t>(done) * unit;
    rest.f_level += 64 * wi * filter.delta_hi - static_cast<std::int64_t>(done) * unit;
    std::uint64_t tail_marks = 0;
    const std::uint64_t tail = mark_words(flags + w, words - w, rest, &tail_marks, before + w);
    for (std::size_t t = w; t < words; ++t) {
        before[t] += done;
        marks[t / 64] |= (tail_marks >> (t - w) & 1) << (t % 64);
    }
    return done + tail;
}
#endif

}  // namespace morvane
