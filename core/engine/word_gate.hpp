// The first and cheapest test of the fast scan, over a whole block of flag
// words: which words might hold a record, judged from nothing but each word's
// popcount and the count before it.
//
// Relative to x at the block's start (a, in units of 2^-32, rounded down), x at
// the start of word w lies below C_w * unit - 64 w delta_lo + 1, and at or
// above C_w * unit - 64 w delta_hi, C_w the Q bits of the block before word w
// (word_filter.hpp). Inside a word with pc Q bits:
//   - at its k-th Q bit, bit i >= k - 1, the excess has moved by at most
//     k * unit - delta_lo (i + 1) <= k (unit - delta_lo) <= pc (unit - delta_lo);
//   - at its k-th F bit, bit i = J + k - 1 with J Q bits before it, it has moved
//     by at least J unit - delta_hi (J + k) >= -delta_hi k >= -delta_hi (64 - pc).
// So with C = C_w + pc, the Q bits after the word:
//   Q bound  C unit - delta_lo (64 w + pc),
//   F bound  C unit - delta_hi (64 w + 64) - pc (unit - delta_hi).
// These bounds are weaker than the quarter bounds (every word those mark, the
// gate marks too), and cost a popcount and a few additions per word: about one
// word in a hundred passes at p = 97 and goes on to the quarter bounds.
//
// Three copies: plain code, AVX2 (four words at a time, popcounts from nibble
// tables) and AVX-512 (eight words, VPOPCNTQ). Each stores C_w in before[w],
// sets bit w of marks (zeroed by the caller) for each word that passes, and
// returns the Q bits of all the words; all three give the same marks. The
// vector copies feed each vector they load to a probe as well: the run
// search's byte test (run_filter.hpp) takes its words so, or NoProbe nothing.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/word_filter.hpp"

namespace morvane {

struct NoProbe {
    // Vectors by reference: by value, an AVX-512 vector in a function without
    // the target is a question of calling convention the compiler notes.
    template <class Vector>
    void feed(Vector&, Vector&, const std::uint64_t*, std::size_t, const Vector&) const {}
    template <class Vector>
    void take(const Vector&, std::size_t) {}
};

inline std::uint64_t gate_words(const std::uint64_t* flags, std::size_t words,
                                const WordFilter& filter, std::uint64_t* marks,
                                std::uint64_t* before) {
    const std::int64_t q_rise = filter.delta_lo, f_rise = unit - filter.delta_hi;
    std::int64_t c = 0, q_drop = 0, f_drop = 64 * filter.delta_hi;  // at word w
    for (std::size_t w = 0; w < words; ++w) {
        const std::int64_t pc = std::popcount(flags[w]);
        before[w] = static_cast<std::uint64_t>(c);
        c += pc;
        const std::int64_t top = c * unit;
        const bool hit = top - q_drop - pc * q_rise > filter.q_level ||
                         top - f_drop - pc * f_rise < filter.f_level;
        marks[w / 64] |= std::uint64_t{hit} << (w % 64);
        q_drop += 64 * filter.delta_lo;
        f_drop += 64 * filter.delta_hi;
    }
    return static_cast<std::uint64_t>(c);
}

namespace detail {

// The words from w on, after a vector loop has gated the first w of them with
// `done` Q bits: the plain gate with the levels moved to word w.
inline std::uint64_t gate_tail(const std::uint64_t* flags, std::size_t words, std::size_t w,
                               std::uint64_t done, const WordFilter& filter, std::uint64_t* marks,
                               std::uint64_t* before) {
    if (w == words) return done;
    WordFilter rest = filter;
    const auto wi = static_cast<std::int64_t>(w);
    rest.q_level += 64 * wi * filter.delta_lo - static_cast<std::int64_t>(done) * unit;
    rest.f_level += 64 * wi * filter.delta_hi - static_cast<std::int64_t>(done) * unit;
    std::uint64_t tail_marks = 0;  // fewer than 8 words
    const std::uint64_t tail = gate_words(flags + w, words - w, rest, &tail_marks, before + w);
    for (std::size_t t = w; t < words; ++t) {
        before[t] += done;
        marks[t / 64] |= (tail_marks >> (t - w) & 1) << (t % 64);
    }
    return done + tail;
}

}  // namespace detail

#if defined(__x86_64__)
// Four words at a time. delta_lo and unit - delta_hi lie below 2^32 (delta is
// below 1/2), and popcounts below 2^7, so their products are 32-bit multiplies.
template <class Probe>
[[gnu::target("avx2")]] inline std::uint64_t gate_words_avx2(const std::uint64_t* flags,
                                                             std::size_t words,
                                                             const WordFilter& filter,
                                                             std::uint64_t* marks,
                                                             std::uint64_t* before,
                                                             Probe& probe) {
    const __m256i zero = _mm256_setzero_si256();
    // The probe's lanes from zero in registers: from the probe, whose own
    // live on across the calls of the slow path, they went through memory in
    // every group of words.
    __m256i lanes = zero, previous = zero;
    const __m256i q_rise = _mm256_set1_epi64x(filter.delta_lo);
    const __m256i f_rise = _mm256_set1_epi64x(unit - filter.delta_hi);
    const __m256i q_level = _mm256_set1_epi64x(filter.q_level);
    const __m256i f_level = _mm256_set1_epi64x(filter.f_level);
    const std::int64_t lo = 64 * filter.delta_lo, hi = 64 * filter.delta_hi;
    __m256i q_drop = _mm256_setr_epi64x(0, lo, 2 * lo, 3 * lo);
    __m256i f_drop = _mm256_setr_epi64x(hi, 2 * hi, 3 * hi, 4 * hi);
    const __m256i q_step = _mm256_set1_epi64x(4 * lo), f_step = _mm256_set1_epi64x(4 * hi);
    __m256i carry = zero;  // Q bits before the group, in every lane

    std::size_t w = 0;
    for (; w + 4 <= words; w += 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags + w));
        probe.feed(lanes, previous, flags, w, v);
        const __m256i pc = _mm256_sad_epu8(byte_popcounts_avx2(v), zero);
        // Inclusive prefix sums over the four lanes, plus the words before.
        const __m256i c = _mm256_add_epi64(carry, lane_prefix_sums_avx2(pc));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(before + w), _mm256_sub_epi64(c, pc));
        const __m256i top = _mm256_slli_epi64(c, unit_bits);
        const __m256i q_top =
            _mm256_sub_epi64(_mm256_sub_epi64(top, q_drop), _mm256_mul_epu32(pc, q_rise));
        const __m256i f_bottom =
            _mm256_sub_epi64(_mm256_sub_epi64(top, f_drop), _mm256_mul_epu32(pc, f_rise));
        const __m256i hit = _mm256_or_si256(_mm256_cmpgt_epi64(q_top, q_level),
                                            _mm256_cmpgt_epi64(f_level, f_bottom));
        const auto m = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(hit)));
        marks[w / 64] |= std::uint64_t{m} << (w % 64);
        carry = _mm256_permute4x64_epi64(c, 0xff);
        q_drop = _mm256_add_epi64(q_drop, q_step);
        f_drop = _mm256_add_epi64(f_drop, f_step);
    }
    probe.take(lanes, w);
    const auto done = static_cast<std::uint64_t>(_mm256_extract_epi64(carry, 0));
    return detail::gate_tail(flags, words, w, done, filter, marks, before);
}

// GCC 12 takes the undefined vectors that its AVX-512 headers pass as unused
// operands for uninitialised values.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
// Eight words at a time: VPOPCNTQ for the popcounts, lane shifts by VALIGNQ
// against zero for the prefix sums, and the comparisons straight into a mask.
template <class Probe>
[[gnu::target("arch=x86-64-v4,avx512vpopcntdq")]] inline std::uint64_t gate_words_avx512(
    const std::uint64_t* flags, std::size_t words, const WordFilter& filter, std::uint64_t* marks,
    std::uint64_t* before, Probe& probe) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i q_rise = _mm512_set1_epi64(filter.delta_lo);
    const __m512i f_rise = _mm512_set1_epi64(unit - filter.delta_hi);
    const __m512i q_level = _mm512_set1_epi64(filter.q_level);
    const __m512i f_level = _mm512_set1_epi64(filter.f_level);
    const __m512i lane = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
    const std::int64_t lo = 64 * filter.delta_lo, hi = 64 * filter.delta_hi;
    __m512i q_drop = _mm512_mullo_epi64(lane, _mm512_set1_epi64(lo));
    __m512i f_drop =
        _mm512_add_epi64(_mm512_mullo_epi64(lane, _mm512_set1_epi64(hi)), _mm512_set1_epi64(hi));
    const __m512i q_step = _mm512_set1_epi64(8 * lo), f_step = _mm512_set1_epi64(8 * hi);
    const __m512i last = _mm512_set1_epi64(7);
    __m512i carry = zero;
    __m512i lanes = zero, previous = zero;  // as in gate_words_avx2

    std::size_t w = 0;
    for (; w + 8 <= words; w += 8) {
        const __m512i v = _mm512_loadu_si512(flags + w);
        probe.feed(lanes, previous, flags, w, v);
        const __m512i pc = _mm512_popcnt_epi64(v);
        // Lane j gets lane j - s (zero below s): the inclusive prefix sums.
        __m512i sum = _mm512_add_epi64(pc, _mm512_alignr_epi64(pc, zero, 7));
        sum = _mm512_add_epi64(sum, _mm512_alignr_epi64(sum, zero, 6));
        sum = _mm512_add_epi64(sum, _mm512_alignr_epi64(sum, zero, 4));
        const __m512i c = _mm512_add_epi64(carry, sum);
        _mm512_storeu_si512(before + w, _mm512_sub_epi64(c, pc));
        const __m512i top = _mm512_slli_epi64(c, unit_bits);
        const __m512i q_top =
            _mm512_sub_epi64(_mm512_sub_epi64(top, q_drop), _mm512_mul_epu32(pc, q_rise));
        const __m512i f_bottom =
            _mm512_sub_epi64(_mm512_sub_epi64(top, f_drop), _mm512_mul_epu32(pc, f_rise));
        const __mmask8 hit =
            _mm512_cmpgt_epi64_mask(q_top, q_level) | _mm512_cmpgt_epi64_mask(f_level, f_bottom);
        marks[w / 64] |= std::uint64_t{hit} << (w % 64);
        carry = _mm512_permutexvar_epi64(last, c);
        q_drop = _mm512_add_epi64(q_drop, q_step);
        f_drop = _mm512_add_epi64(f_drop, f_step);
    }
    probe.take(lanes, w);
    const auto done = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(carry)));
    return detail::gate_tail(flags, words, w, done, filter, marks, before);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace morvane
