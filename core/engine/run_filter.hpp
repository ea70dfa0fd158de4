// Where in a block of flag words a run of at least `length` Q bits may lie:
// the cheap test that lets the run search skip nearly every block.
//
// From 8 on, a byte at a time. A run of L >= step + 7 bits fills a whole
// byte that starts at a multiple of step from the block's start: of its first
// `step` bits one stands at such a multiple, and the 8 bits from there lie in
// the run. So a run of at least 15 fills a byte of a word (step 8), of 11 a
// byte of a word or of a word shifted by 4 (step 4), of 9 one at a shift of 0,
// 2, 4 or 6, of 8 one at any shift. A byte of the word shifted by o takes its
// top bits from the next word: the caller keeps a clear word after the
// block's last. The records of every prime's squares pass 10 within the first
// 10^9 n of a run (a run of 11 starts at 221167422), after which the test is
// one or three byte maxima a word, fed by the gate's loads in a gated block
// (RunProbeAvx2, RunProbeAvx512), and a block passes only where a run of 8 or
// more fills such a byte: a few blocks in a hundred.
//
// Below 8 (the first 10^6 n of a run of squares; cubes, whose record runs
// stay below 8 up to 10^12), exactly: x & x >> 1 keeps the bits that start a
// run of 2, and ANDing shifted copies so doubles the length each time, to L in
// about log2 L steps. A run of L <= 33 that crosses from a word into the next
// lies within the 64 bits from the middle of one to the middle of the other,
// so that word pair is the second one tested.
//
// Three copies, as the gate's: plain code (a byte is full when adding one to
// its low seven bits carries into its top bit, which is set), AVX2 and
// AVX-512, eight words at a time. All mark the same groups.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morvane {

// The test for runs of at least `length` (at least 1).
struct RunFilter {
    unsigned step = 0;      // of the bytes, or 0 for the chain of shifts
    unsigned shifts[3]{};   // of the chain: L = 1 + the sum of them
    unsigned chain = 0;

    explicit constexpr RunFilter(std::uint64_t length) {
        step = length >= 15 ? 8 : length >= 11 ? 4 : length >= 9 ? 2 : length >= 8 ? 1 : 0;
        for (std::uint64_t covered = 1; step == 0 && covered < length; ++chain) {
            shifts[chain] = unsigned(covered < length - covered ? covered : length - covered);
            covered += shifts[chain];
        }
    }
};

namespace detail {

inline std::uint64_t full_bytes(std::uint64_t v) {
    constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7full, ones = 0x0101010101010101ull;
    return ((v & low7) + ones) & v & 0x8080808080808080ull;
}

inline std::uint64_t chained(std::uint64_t v, const RunFilter& filter) {
    for (unsigned i = 0; i < filter.chain; ++i) v &= v >> filter.shifts[i];
    return v;
}

}  // namespace detail

// Whether word w (with the bits from it into the next) passes the test.
inline bool word_may_hold_run(const std::uint64_t* flags, std::size_t w, const RunFilter& filter) {
    if (filter.step == 0)
        return (detail::chained(flags[w], filter) |
                detail::chained(flags[w] >> 32 | flags[w + 1] << 32, filter)) != 0;
    std::uint64_t full = detail::full_bytes(flags[w]);
    for (unsigned o = filter.step; o < 8; o += filter.step)
        full |= detail::full_bytes(flags[w] >> o | flags[w + 1] << (64 - o));
    return full != 0;
}

// The groups of eight words (bit g for words 8g .. 8g + 7) that pass, of a
// block of at most 512 words; with Any, only whether one does (bit 0).
template <bool Any>
std::uint64_t run_groups(const std::uint64_t* flags, std::size_t words, const RunFilter& filter) {
    std::uint64_t groups = 0;
    for (std::size_t w = 0; w < words; ++w)
        if (word_may_hold_run(flags, w, filter)) {
            if constexpr (Any) return 1;
            groups |= std::uint64_t{1} << (w / 8);
        }
    return groups;
}

#if defined(__x86_64__)
// Four words: full bytes show as bytes 0xff of the result, chains as any bit.
[[gnu::target("avx2")]] inline __m256i run_test_avx2(const std::uint64_t* flags,
                                                     const RunFilter& filter) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags));
    if (filter.step == 8) return v;
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags + 1));
    if (filter.step == 0) {
        __m256i a = v, b = _mm256_or_si256(_mm256_srli_epi64(v, 32), _mm256_slli_epi64(next, 32));
        for (unsigned i = 0; i < filter.chain; ++i) {
            const __m128i s = _mm_cvtsi32_si128(int(filter.shifts[i]));
            a = _mm256_and_si256(a, _mm256_srl_epi64(a, s));
            b = _mm256_and_si256(b, _mm256_srl_epi64(b, s));
        }
        return _mm256_or_si256(a, b);
    }
    __m256i most = v;
    for (unsigned o = filter.step; o < 8; o += filter.step)
        most = _mm256_max_epu8(most, _mm256_or_si256(_mm256_srli_epi64(v, int(o)),
                                                     _mm256_slli_epi64(next, int(64 - o))));
    return most;
}

template <bool Any>
[[gnu::target("avx2")]] inline std::uint64_t run_groups_avx2(const std::uint64_t* flags,
                                                             std::size_t words,
                                                             const RunFilter& filter) {
    const __m256i all = _mm256_set1_epi8(-1);
    const bool bytes = filter.step != 0;
    std::uint64_t groups = 0;
    std::size_t w = 0;
    __m256i most = _mm256_setzero_si256();
    for (; w + 8 <= words; w += 8) {
        const __m256i a = run_test_avx2(flags + w, filter), b = run_test_avx2(flags + w + 4, filter);
        const __m256i group = bytes ? _mm256_max_epu8(a, b) : _mm256_or_si256(a, b);
        if constexpr (Any) {
            most = bytes ? _mm256_max_epu8(most, group) : _mm256_or_si256(most, group);
        } else {
            const bool hit = bytes ? _mm256_movemask_epi8(_mm256_cmpeq_epi8(group, all)) != 0
                                   : !_mm256_testz_si256(group, group);
            if (hit) groups |= std::uint64_t{1} << (w / 8);
        }
    }
    if constexpr (Any)
        if (bytes ? _mm256_movemask_epi8(_mm256_cmpeq_epi8(most, all)) != 0
                  : !_mm256_testz_si256(most, most))
            return 1;
    const std::uint64_t tail = run_groups<Any>(flags + w, words - w, filter);
    return Any ? tail : groups | (tail ? std::uint64_t{1} << (w / 8) : 0);
}

// The two byte steps of long records in a loop of their own, or fed the
// vectors of a loop that reads every word anyway (the gate's, which so serves
// both with one load): a byte maximum of each word, and for step 4 of each
// word shifted by 4 and of the words from 4 bytes on shifted by 4. A word's
// bytes at bit 4 modulo 8 are those at bits 4, 12, ..., 60, the last across
// into the next word; a 64-bit lane shifted by 4 holds seven of them, so two
// lanes are needed: the word's own (bits 4 to 59) and the one from 4 bytes on
// (bits 36 to 91, the byte across among them). Fed words 0, 4, 8, ... (the
// caller keeps the word after them readable); passes() adds the words from
// `fed` on, word by word.
struct RunProbeAvx2 {
    __m256i most;
    bool step4;
    std::size_t fed = 0;

    [[gnu::target("avx2")]] explicit RunProbeAvx2(const RunFilter& filter)
        : most(_mm256_setzero_si256()), step4(filter.step == 4) {}
    // Words w .. w + 3 (v), into lanes that the caller keeps in registers from
    // zero (and `previous`, here unused) and gives back by take().
    using Vector = __m256i;
    [[gnu::target("avx2")]] void feed(Vector& lanes, Vector&, const std::uint64_t* flags,
                                      std::size_t w, Vector v) const {
        if (step4) {
            const auto* bytes = reinterpret_cast<const char*>(flags + w);
            const __m256i across = _mm256_srli_epi64(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 4)), 4);
            v = _mm256_max_epu8(_mm256_max_epu8(v, _mm256_srli_epi64(v, 4)), across);
        }
        lanes = _mm256_max_epu8(lanes, v);
    }
    [[gnu::target("avx2")]] void take(Vector lanes, std::size_t words_fed) {
        most = _mm256_max_epu8(most, lanes);
        fed = words_fed;
    }
    [[gnu::target("avx2")]] bool passes(const std::uint64_t* flags, std::size_t words,
                                        const RunFilter& filter) const {
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(most, _mm256_set1_epi8(-1)))) return true;
        return run_groups<true>(flags + fed, words - fed, filter) != 0;
    }
};

// Whether any word passes.
[[gnu::target("avx2")]] inline bool may_hold_run_avx2(const std::uint64_t* flags,
                                                      std::size_t words,
                                                      const RunFilter& filter) {
    if (filter.step != 8 && filter.step != 4) return run_groups_avx2<true>(flags, words, filter);
    RunProbeAvx2 probe(filter);
    __m256i lanes = _mm256_setzero_si256(), previous = lanes;
    std::size_t w = 0;
    for (; w + 4 <= words; w += 4)
        probe.feed(lanes, previous, flags, w,
                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags + w)));
    probe.take(lanes, w);
    return probe.passes(flags, words, filter);
}

// GCC 12 takes the undefined vectors that its AVX-512 headers pass as unused
// operands for uninitialised values.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
[[gnu::target("arch=x86-64-v4")]] inline __m512i run_test_avx512(const std::uint64_t* flags,
                                                                 const RunFilter& filter) {
    const __m512i v = _mm512_loadu_si512(flags);
    if (filter.step == 8) return v;
    const __m512i next = _mm512_loadu_si512(flags + 1);
    if (filter.step == 0) {
        __m512i a = v, b = _mm512_or_si512(_mm512_srli_epi64(v, 32), _mm512_slli_epi64(next, 32));
        for (unsigned i = 0; i < filter.chain; ++i) {
            const __m128i s = _mm_cvtsi32_si128(int(filter.shifts[i]));
            a = _mm512_and_si512(a, _mm512_srl_epi64(a, s));
            b = _mm512_and_si512(b, _mm512_srl_epi64(b, s));
        }
        return _mm512_or_si512(a, b);
    }
    __m512i most = v;
    for (unsigned o = filter.step; o < 8; o += filter.step)
        most = _mm512_max_epu8(most, _mm512_or_si512(_mm512_srli_epi64(v, o),
                                                     _mm512_slli_epi64(next, 64 - o)));
    return most;
}

template <bool Any>
[[gnu::target("arch=x86-64-v4")]] inline std::uint64_t run_groups_avx512(
    const std::uint64_t* flags, std::size_t words, const RunFilter& filter) {
    const __m512i all = _mm512_set1_epi8(-1);
    const bool bytes = filter.step != 0;
    std::uint64_t groups = 0;
    std::size_t w = 0;
    __m512i most = _mm512_setzero_si512();
    for (; w + 8 <= words; w += 8) {
        const __m512i group = run_test_avx512(flags + w, filter);
        if constexpr (Any) {
            most = bytes ? _mm512_max_epu8(most, group) : _mm512_or_si512(most, group);
        } else {
            const bool hit = bytes ? _mm512_cmpeq_epi8_mask(group, all) != 0
                                   : _mm512_test_epi64_mask(group, group) != 0;
            if (hit) groups |= std::uint64_t{1} << (w / 8);
        }
    }
    if constexpr (Any)
        if (bytes ? _mm512_cmpeq_epi8_mask(most, all) != 0 : _mm512_test_epi64_mask(most, most) != 0)
            return 1;
    const std::uint64_t tail = run_groups<Any>(flags + w, words - w, filter);
    return Any ? tail : groups | (tail ? std::uint64_t{1} << (w / 8) : 0);
}
// As RunProbeAvx2, eight words at a time; the words from 4 bytes on come from
// two vectors by VALIGND, not from a load that splits a cache line, and so
// those of a vector's last word with the next vector, or in passes().
struct RunProbeAvx512 {
    __m512i most;
    bool step4;
    std::size_t fed = 0;

    [[gnu::target("arch=x86-64-v4")]] explicit RunProbeAvx512(const RunFilter& filter)
        : most(_mm512_setzero_si512()), step4(filter.step == 4) {}
    // `previous`: the vector fed last (zero before the first).
    using Vector = __m512i;
    [[gnu::target("arch=x86-64-v4")]] void feed(Vector& lanes, Vector& previous,
                                                const std::uint64_t*, std::size_t,
                                                Vector v) const {
        if (step4) {
            // The last vector's words from 4 bytes on (nothing before the first).
            const __m512i across = _mm512_srli_epi64(_mm512_alignr_epi32(v, previous, 1), 4);
            previous = v;
            v = _mm512_max_epu8(_mm512_max_epu8(v, _mm512_srli_epi64(v, 4)), across);
        }
        lanes = _mm512_max_epu8(lanes, v);
    }
    [[gnu::target("arch=x86-64-v4")]] void take(Vector lanes, std::size_t words_fed) {
        most = _mm512_max_epu8(most, lanes);
        fed = words_fed;
    }
    [[gnu::target("arch=x86-64-v4")]] bool passes(const std::uint64_t* flags, std::size_t words,
                                                  const RunFilter& filter) const {
        __m512i top = most;
        if (step4 && fed > 0) {
            // The last vector's upper halves, into the word after it.
            const auto* bytes = reinterpret_cast<const char*>(flags + fed - 8);
            top = _mm512_max_epu8(top, _mm512_srli_epi64(_mm512_loadu_si512(bytes + 4), 4));
        }
        if (_mm512_cmpeq_epi8_mask(top, _mm512_set1_epi8(-1))) return true;
        return run_groups<true>(flags + fed, words - fed, filter) != 0;
    }
};

[[gnu::target("arch=x86-64-v4")]] inline bool may_hold_run_avx512(const std::uint64_t* flags,
                                                                  std::size_t words,
                                                                  const RunFilter& filter) {
    if (filter.step != 8 && filter.step != 4) return run_groups_avx512<true>(flags, words, filter);
    RunProbeAvx512 probe(filter);
    __m512i lanes = _mm512_setzero_si512(), previous = lanes;
    std::size_t w = 0;
    for (; w + 8 <= words; w += 8)
        probe.feed(lanes, previous, flags, w, _mm512_loadu_si512(flags + w));
    probe.take(lanes, w);
    return probe.passes(flags, words, filter);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace morvane
