// The second test of the fast scan, for the words that pass the gate
// (word_gate.hpp), or the first, over whole blocks, where the gate lets most
// words through: whether a word might hold a record, judged from the popcounts
// of its four 16-bit quarters.
//
// Relative to x at the block's start (a, in units of 2^-32, rounded down), x at
// the start of word w lies within [C_w * unit - 64 w delta_hi,
// C_w * unit - 64 w delta_lo + 1), C_w the Q bits of the block before word w.
// Inside the word, take quarter h with pc_h Q bits, and Q bits before it
// and up to its end B_h and E_h = B_h + pc_h:
//   - at its k-th Q bit, J = B_h + k and i + 1 >= 16 h + k, so the excess has
//     moved by at most B_h + k - delta (16 h + k) <= E_h - delta (16 h + pc_h);
//   - at its k-th F bit, J = B_h + (i + 1 - 16 h) - k, so it has moved by at
//     least B_h - delta (16 h) + (1 - delta)(i + 1 - 16 h) - k
//     >= B_h - delta (16 h + k) >= B_h - delta (16 h + 16 - pc_h).
// A word passes when either bound reaches the given level. The levels are the
// thresholds at the block's start; they only move inwards later, so the words
// that pass are a superset of those needed.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/excess_bounds.hpp"

namespace morvane {

struct WordFilter {
    std::int64_t delta_lo, delta_hi;  // delta * 2^32 rounded down and up
    std::int64_t q_level;             // a Q bound above this marks the word (threshold - a)
    std::int64_t f_level;             // an F bound below this marks the word (threshold - a)
};

// Word w of the block, with Q bits q and C_w = before: whether it passes, and
// its Q bits (which the plain loop over a block needs too, and which cost a
// library call in baseline x86-64 code).
struct QuarterBounds {
    bool pass;
    std::int64_t q_bits;
};
inline QuarterBounds quarter_bounds(std::uint64_t q, std::uint64_t before, std::size_t w,
                                    const WordFilter& filter) {
    const auto wi = static_cast<std::int64_t>(w);
    const auto start = static_cast<std::int64_t>(before) * unit;
    std::int64_t q_peak = -WordBounds::none, f_trough = WordBounds::none, b = 0;
    for (int h = 0; h < 4; ++h) {
        const std::int64_t pc = std::popcount((q >> (16 * h)) & 0xffff);
        if (pc > 0) q_peak = std::max(q_peak, (b + pc) * unit - filter.delta_lo * (16 * h + pc));
        if (pc < 16) f_trough = std::min(f_trough, b * unit - filter.delta_hi * (16 * h + 16 - pc));
        b += pc;
    }
    return {start - 64 * wi * filter.delta_lo + q_peak > filter.q_level ||
                start - 64 * wi * filter.delta_hi + f_trough < filter.f_level,
            b};
}

inline bool quarter_bounds_pass(std::uint64_t q, std::uint64_t before, std::size_t w,
                                const WordFilter& filter) {
    return quarter_bounds(q, before, w, filter).pass;
}

// The whole block: sets bit w of marks (zeroed by the caller) for each word w
// that passes, stores C_w in before[w], and returns the Q bits of all the words.
inline std::uint64_t mark_words(const std::uint64_t* flags, std::size_t words,
                                const WordFilter& filter, std::uint64_t* marks,
                                std::uint64_t* before) {
    std::uint64_t c = 0;
    for (std::size_t w = 0; w < words; ++w) {
        before[w] = c;
        const QuarterBounds word = quarter_bounds(flags[w], c, w, filter);
        marks[w / 64] |= std::uint64_t{word.pass} << (w % 64);
        c += static_cast<std::uint64_t>(word.q_bits);
    }
    return c;
}

#if defined(__x86_64__)
// The popcounts of the 32 bytes of v, from a table of the 16 nibbles.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i byte_popcounts_avx2(__m256i v) {
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i bits_in = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                             0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i low = _mm256_and_si256(v, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    return _mm256_add_epi8(_mm256_shuffle_epi8(bits_in, low), _mm256_shuffle_epi8(bits_in, high));
}

// The inclusive prefix sums of the four 64-bit lanes of v.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i lane_prefix_sums_avx2(__m256i v) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i sum =
        _mm256_add_epi64(v, _mm256_blend_epi32(_mm256_permute4x64_epi64(v, 0x90), zero, 0x03));
    return _mm256_add_epi64(sum,
                            _mm256_blend_epi32(_mm256_permute4x64_epi64(sum, 0x40), zero, 0x0f));
}

// The value held in all four 16-bit lanes of each 64-bit lane, in units of 1/256,
// as 64 bits in units of 2^-32.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i widen_to_units(__m256i v) {
    const __m256i v32 = _mm256_srai_epi32(v, 16);
    return _mm256_slli_epi64(_mm256_blend_epi32(v32, _mm256_srai_epi32(v32, 31), 0xaa), 24);
}

// The same marks, four words at a time with AVX2. The sixteen quarter bounds of
// four words fill one vector of 16-bit lanes, in units of 1/256 with delta
// rounded outwards to 1/256 (|bound| <= 64, so within 2^14 units); each word's
// extreme is then widened to 2^-32 units. The outward rounding makes these marks
// a little more generous than the scalar ones, never less.
[[gnu::target("avx2")]] inline std::uint64_t mark_words_avx2(const std::uint64_t* flags,
                                                             std::size_t words,
                                                             const WordFilter& filter,
                                                             std::uint64_t* marks,
                                                             std::uint64_t* before) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i sixteen = _mm256_set1_epi16(16);
    // 16 h for quarter h of each word, and 16 h + 16.
    const __m256i at =
        _mm256_setr_epi16(0, 16, 32, 48, 0, 16, 32, 48, 0, 16, 32, 48, 0, 16, 32, 48);
    const __m256i after = _mm256_add_epi16(at, sixteen);
    const __m256i lowest = _mm256_set1_epi16(-32768), highest = _mm256_set1_epi16(32767);
    // Rotations of the four 16-bit lanes inside each 64-bit lane, by one and two.
    const __m256i turn1 = _mm256_setr_epi8(2, 3, 4, 5, 6, 7, 0, 1, 10, 11, 12, 13, 14, 15, 8, 9,  //
                                           2, 3, 4, 5, 6, 7, 0, 1, 10, 11, 12, 13, 14, 15, 8, 9);
    const __m256i turn2 = _mm256_setr_epi8(4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11,  //
                                           4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11);
    // delta in 1/256, rounded down for the Q bounds and up for the F bounds.
    const __m256i q_delta = _mm256_set1_epi16(static_cast<short>(filter.delta_lo >> 24));
    const __m256i f_delta =
        _mm256_set1_epi16(static_cast<short>((filter.delta_hi + (1 << 24) - 1) >> 24));
    const __m256i q_level = _mm256_set1_epi64x(filter.q_level);
    const __m256i f_level = _mm256_set1_epi64x(filter.f_level);
    const std::int64_t lo = 64 * filter.delta_lo, hi = 64 * filter.delta_hi;
    __m256i q_drop = _mm256_setr_epi64x(0, lo, 2 * lo, 3 * lo);
    __m256i f_drop = _mm256_setr_epi64x(0, hi, 2 * hi, 3 * hi);
    const __m256i q_drop_step = _mm256_set1_epi64x(4 * lo);
    const __m256i f_drop_step = _mm256_set1_epi64x(4 * hi);
    __m256i carry = zero;  // Q bits before the group, in every lane

    std::size_t w = 0;
    for (; w + 4 <= words; w += 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags + w));
        const __m256i bytes = byte_popcounts_avx2(v);
        const __m256i pc = _mm256_sad_epu8(bytes, zero);             // per word
        const __m256i quarters = _mm256_maddubs_epi16(bytes, ones);  // pc_h per quarter
        // E_h: quarters 0..h of the word added up.
        __m256i ends = _mm256_add_epi64(quarters, _mm256_slli_epi64(quarters, 16));
        ends = _mm256_add_epi64(ends, _mm256_slli_epi64(ends, 32));

        // Q: E_h - delta (16 h + pc_h), for quarters with Q bits.
        __m256i q_peak =
            _mm256_sub_epi16(_mm256_slli_epi16(ends, 8),
                             _mm256_mullo_epi16(q_delta, _mm256_add_epi16(at, quarters)));
        q_peak = _mm256_blendv_epi8(q_peak, lowest, _mm256_cmpeq_epi16(quarters, zero));
        q_peak = _mm256_max_epi16(q_peak, _mm256_shuffle_epi8(q_peak, turn1));
        q_peak = _mm256_max_epi16(q_peak, _mm256_shuffle_epi8(q_peak, turn2));
        // F: B_h - delta (16 h + 16 - pc_h), for quarters with F bits.
        __m256i f_trough =
            _mm256_sub_epi16(_mm256_slli_epi16(_mm256_sub_epi16(ends, quarters), 8),
                             _mm256_mullo_epi16(f_delta, _mm256_sub_epi16(after, quarters)));
        f_trough = _mm256_blendv_epi8(f_trough, highest, _mm256_cmpeq_epi16(quarters, sixteen));
        f_trough = _mm256_min_epi16(f_trough, _mm256_shuffle_epi8(f_trough, turn1));
        f_trough = _mm256_min_epi16(f_trough, _mm256_shuffle_epi8(f_trough, turn2));

        const __m256i sum = lane_prefix_sums_avx2(pc);
        const __m256i c = _mm256_add_epi64(carry, _mm256_sub_epi64(sum, pc));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(before + w), c);
        const __m256i start = _mm256_slli_epi64(c, 32);
        const __m256i q_top =
            _mm256_add_epi64(_mm256_sub_epi64(start, q_drop), widen_to_units(q_peak));
        const __m256i f_bottom =
            _mm256_add_epi64(_mm256_sub_epi64(start, f_drop), widen_to_units(f_trough));
        const __m256i hit = _mm256_or_si256(_mm256_cmpgt_epi64(q_top, q_level),
                                            _mm256_cmpgt_epi64(f_level, f_bottom));
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
