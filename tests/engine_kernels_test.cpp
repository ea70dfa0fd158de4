// The fast scan's kernels: each vector copy of the word gate against the plain
// one, and the AVX2 quarter bounds against theirs, on random and adversarial
// blocks; the three bounds of a word nested as
// their derivations say (every bit's own bound passing implies the quarter
// bounds passing, which implies the gate); the sieve's stored patterns against
// the detector from any start, across their wraps; the run search's byte test
// fed by each vector gate against the plain test, word by word.
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine_copy.hpp"
#include "engine/q_number_detector.hpp"
#include "engine/q_sieve.hpp"
#include "engine/run_filter.hpp"
#include "engine/word_filter.hpp"
#include "engine/word_gate.hpp"

namespace morvane {
namespace {

struct WideCounts {
    using Count = std::uint64_t;
    using Real = double;
};

constexpr std::size_t block_words = 512;

// Blocks of flag words with the shapes that reach the kernels' edges.
std::vector<std::vector<std::uint64_t>> test_blocks(std::mt19937_64& random) {
    std::vector<std::vector<std::uint64_t>> blocks;
    auto add = [&](auto word_at) {
        std::vector<std::uint64_t> block(block_words);
        for (std::size_t w = 0; w < block_words; ++w) block[w] = word_at(w);
        blocks.push_back(block);
    };
    add([](std::size_t) { return 0ull; });
    add([](std::size_t) { return ~0ull; });
    add([](std::size_t w) { return w % 2 ? 0x5555555555555555ull : 0xaaaaaaaaaaaaaaaaull; });
    add([](std::size_t w) { return w % 3 ? 0ull : ~0ull; });
    add([](std::size_t w) { return 1ull << (w % 64) | 1ull << 63; });
    // Like the sieve's at p = 97, at other densities, and sparse runs of ones.
    for (double density : {0.39, 0.1, 0.9}) {
        add([&](std::size_t) {
            std::uint64_t word = 0;
            for (int i = 0; i < 64; ++i)
                word |= std::uint64_t{std::generate_canonical<double, 53>(random) < density} << i;
            return word;
        });
    }
    add([&](std::size_t) { return random() % 7 == 0 ? ~0ull : random() & random(); });
    return blocks;
}

// Levels from the block's own bounds, so that the comparisons meet their
// boundaries exactly: some words pass, some just fail.
std::vector<WordFilter> test_filters(const std::vector<std::uint64_t>& block,
                                     std::mt19937_64& random) {
    std::vector<WordFilter> filters;
    const std::int64_t delta_lo = 1684801024, delta_hi = delta_lo + 1;  // about delta at p = 97
    std::vector<std::uint64_t> marks(block_words / 64), before(block_words);
    for (int k = 0; k < 12; ++k) {
        const std::size_t w = random() % block_words;
        std::uint64_t c = 0;
        for (std::size_t v = 0; v < w; ++v) c += std::popcount(block[v]);
        const std::int64_t pc = std::popcount(block[w]), top = std::int64_t(c + pc) * unit;
        const std::int64_t q = top - delta_lo * (64 * std::int64_t(w) + pc);
        const std::int64_t f = top - delta_hi * (64 * std::int64_t(w) + 64) - pc * (unit - delta_hi);
        const std::int64_t nudge = std::int64_t(random() % 3) - 1;
        filters.push_back({delta_lo, delta_hi, q + nudge, f + nudge});
    }
    filters.push_back({delta_lo, delta_hi, unit_limit, -unit_limit});   // nothing passes
    filters.push_back({delta_lo, delta_hi, -unit_limit, unit_limit});   // everything passes
    filters.push_back({std::int64_t{1} << 30, std::int64_t{1} << 30, 0, 0});  // p = 2, exact
    return filters;
}

struct Gate {
    std::vector<std::uint64_t> marks, before;
    std::uint64_t total;
};

template <class Kernel>
Gate gate_with(Kernel kernel, const std::vector<std::uint64_t>& block, std::size_t words,
               const WordFilter& filter) {
    Gate gate{std::vector<std::uint64_t>(block_words / 64), std::vector<std::uint64_t>(words), 0};
    gate.total = kernel(block.data(), words, filter, gate.marks.data(), gate.before.data());
    return gate;
}

// Word counts at and around the vector widths, and whole blocks.
constexpr std::size_t word_counts[] = {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 63, 64, 65, 511, 512};

template <class Kernel>
void expect_same_gate(Kernel kernel) {
    std::mt19937_64 random(97);
    for (const auto& block : test_blocks(random)) {
        for (const WordFilter& filter : test_filters(block, random)) {
            for (std::size_t words : word_counts) {
                const Gate plain = gate_with(gate_words, block, words, filter);
                const Gate vector = gate_with(kernel, block, words, filter);
                ASSERT_EQ(plain.total, vector.total) << words << " words";
                ASSERT_EQ(plain.before, vector.before) << words << " words";
                ASSERT_EQ(plain.marks, vector.marks)
                    << words << " words, levels " << filter.q_level << " " << filter.f_level;
            }
        }
    }
}

TEST(GateKernels, Avx2GatesAsThePlainGate) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (!engine_copy_runs(EngineCopy::v3)) GTEST_SKIP() << "x86-64-v3: this processor lacks AVX2";
    expect_same_gate([](auto... arguments) {
        NoProbe probe;
        return gate_words_avx2(arguments..., probe);
    });
#else
    GTEST_SKIP() << "x86-64-v3: not in this build";
#endif
}

TEST(GateKernels, Avx512GatesAsThePlainGate) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (!engine_copy_runs(EngineCopy::v4))
        GTEST_SKIP() << "x86-64-v4: this processor lacks AVX-512 F, BW, DQ, VL or VPOPCNTDQ";
    expect_same_gate([](auto... arguments) {
        NoProbe probe;
        return gate_words_avx512(arguments..., probe);
    });
#else
    GTEST_SKIP() << "x86-64-v4: not in this build";
#endif
}

// The quarter bounds four words at a time round delta outwards to 1/256 (see
// word_filter.hpp): they mark every word the plain ones mark, perhaps more.
// Blocks with no run longer than 7 but one planted run of exactly `length` at
// each place of a few words at the start, at the vector edges and at the end.
std::vector<std::vector<std::uint64_t>> run_blocks(std::mt19937_64& random, unsigned length) {
    std::vector<std::uint64_t> base(block_words);
    for (auto& word : base) word = (random() | random()) & 0x7f7f7f7f7f7f7f7full;
    std::vector<std::vector<std::uint64_t>> blocks{base};
    for (std::size_t word : {std::size_t{0}, std::size_t{3}, std::size_t{7}, std::size_t{8},
                             std::size_t{15}, block_words - 2, block_words - 1})
        for (unsigned bit = 0; bit < 64; ++bit) {
            // Exactly `length` ones: the bits on either side cleared.
            std::vector<std::uint64_t> block = base;
            const std::size_t first = 64 * word + bit;
            for (std::size_t i = first ? first - 1 : 0; i <= first + length; ++i) {
                const std::uint64_t one = std::uint64_t{1} << (i % 64);
                if (i >= 64 * block_words) break;
                block[i / 64] = i >= first && i < first + length ? block[i / 64] | one
                                                                 : block[i / 64] & ~one;
            }
            blocks.push_back(block);
        }
    return blocks;
}

// The probe fed by a gate answers as the plain test, for the two byte steps,
// runs just long enough and one short, whole vectors and the words past them.
template <class Probe, class Gate>
void expect_probe_as_plain_test(Gate gate) {
    std::mt19937_64 random(11);
    const WordFilter filter{1684801024, 1684801025, unit_limit, -unit_limit};
    for (unsigned length : {11u, 12u, 14u, 15u, 17u}) {
        for (const auto& block : run_blocks(random, length)) {
            for (std::size_t words : {std::size_t{5}, std::size_t{17}, std::size_t{510},
                                      block_words}) {
                for (std::size_t full : {words, words - 1}) {
                    // The words of the block and a clear one after them.
                    std::vector<std::uint64_t> flags(block.begin(), block.begin() + words);
                    flags.push_back(0);
                    std::vector<std::uint64_t> marks(block_words / 64), before(block_words);
                    for (std::uint64_t least : {length - 1ull, length + 0ull, length + 1ull}) {
                        const RunFilter test(least);
                        if (test.step != 4 && test.step != 8) continue;
                        Probe probe(test);
                        const std::uint64_t* data = flags.data();
                        std::uint64_t *mark = marks.data(), *count = before.data();
                        gate(data, full, filter, mark, count, probe);
                        ASSERT_EQ(probe.fed, full / (sizeof(probe.most) / 8) * (sizeof(probe.most) / 8));
                        ASSERT_EQ(probe.passes(flags.data(), words, test),
                                  run_groups<true>(flags.data(), words, test) != 0)
                            << "run of " << length << ", test for " << least << ", " << words
                            << " words, " << full << " gated";
                    }
                }
            }
        }
    }
}

TEST(GateKernels, RunProbesFedByTheGatesTestAsThePlainTest) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (!engine_copy_runs(EngineCopy::v3)) GTEST_SKIP() << "x86-64-v3: this processor lacks AVX2";
    expect_probe_as_plain_test<RunProbeAvx2>(
        [](auto&... arguments) { return gate_words_avx2(arguments...); });
    if (!engine_copy_runs(EngineCopy::v4))
        GTEST_SKIP() << "x86-64-v4: this processor lacks AVX-512 F, BW, DQ, VL or VPOPCNTDQ";
    expect_probe_as_plain_test<RunProbeAvx512>(
        [](auto&... arguments) { return gate_words_avx512(arguments...); });
#else
    GTEST_SKIP() << "x86-64-v3 and v4: not in this build";
#endif
}

TEST(GateKernels, Avx2QuarterBoundsMarkAtLeastThePlainOnes) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (!engine_copy_runs(EngineCopy::v3)) GTEST_SKIP() << "x86-64-v3: this processor lacks AVX2";
    std::mt19937_64 random(31);
    for (const auto& block : test_blocks(random)) {
        for (const WordFilter& filter : test_filters(block, random)) {
            for (std::size_t words : word_counts) {
                const Gate plain = gate_with(mark_words, block, words, filter);
                const Gate vector = gate_with(mark_words_avx2, block, words, filter);
                ASSERT_EQ(plain.total, vector.total) << words << " words";
                ASSERT_EQ(plain.before, vector.before) << words << " words";
                for (std::size_t m = 0; m < plain.marks.size(); ++m)
                    ASSERT_EQ(plain.marks[m] & ~vector.marks[m], 0u) << words << " words";
            }
        }
    }
#else
    GTEST_SKIP() << "x86-64-v3: not in this build";
#endif
}

// Each bit's bound, computed afresh from its definition: relative to x at the
// block's start, x after bit i of word w lies within
// [C unit - delta_hi (64 w + i + 1), C unit - delta_lo (64 w + i + 1) + 1),
// C the Q bits up to and including bit i.
TEST(GateKernels, BitBoundsImplyQuarterBoundsImplyTheGate) {
    std::mt19937_64 random(13);
    for (const auto& block : test_blocks(random)) {
        for (const WordFilter& filter : test_filters(block, random)) {
            const Gate gate = gate_with(gate_words, block, block_words, filter);
            std::int64_t c = 0;
            for (std::size_t w = 0; w < block_words; ++w) {
                const std::uint64_t before = static_cast<std::uint64_t>(c);
                bool bit_passes = false;
                for (int i = 0; i < 64; ++i) {
                    const bool q = block[w] >> i & 1;
                    c += q;
                    const std::int64_t n = 64 * std::int64_t(w) + i + 1;
                    if (q) bit_passes |= c * unit - filter.delta_lo * n > filter.q_level;
                    if (!q) bit_passes |= c * unit - filter.delta_hi * n < filter.f_level;
                }
                const bool quarter = quarter_bounds_pass(block[w], before, w, filter);
                const bool gated = gate.marks[w / 64] >> (w % 64) & 1;
                ASSERT_TRUE(!bit_passes || quarter) << "word " << w;
                ASSERT_TRUE(!quarter || gated) << "word " << w;
            }
        }
    }
}

// The stored patterns (44100, 20449 and 104329 n) wrap at offsets that differ
// from start to start; every p that stores one, two or three of them, and one
// beyond, over fills of uneven lengths.
TEST(QSieveFill, AgreesWithTheDetectorFromAnyStart) {
    std::mt19937_64 random(5);
    const std::uint64_t starts[] = {1, 2, 44100, 104329 * 3 - 17, (1ull << 32) - 150000,
                                    1000000000000000000ull, ~0ull - 1000000, random() >> 1};
    for (int p : {2, 3, 7, 11, 13, 17, 19, 23, 97}) {
        for (std::uint64_t first : starts) {
            SCOPED_TRACE(::testing::Message() << "p=" << p << " first=" << first);
            QSieve<TablePrimes> sieve(squares_set(p), first, ~0ull);
            QNumberDetector<WideCounts> detector(p, first);
            std::vector<std::uint64_t> words(2048);
            std::uint64_t n = first;
            while (n - first < 300000) {
                const std::uint64_t bits = 64 * (1 + random() % 2048);
                sieve.fill(words.data(), bits);
                for (std::uint64_t b = 0; b < bits; ++b, ++n)
                    ASSERT_EQ(bool(words[b / 64] >> (b % 64) & 1), detector.classify(n)) << n;
            }
        }
    }
}

}  // namespace
}  // namespace morvane
