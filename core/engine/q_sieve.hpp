// Segmented sieve of Q flags, 64 consecutive n to a word, bit i of a word for
// the word's first n plus i. Written here for squares, as in the default runs;
// any power k is sieved the same way (for k = 3 the first pattern is 8*27*125).
//
// The squares of the small primes divide so many n that marking them one by
// one would dominate. Their flags repeat with the product of the squares as
// period, so the flags of a few squares together are stored for one period and
// read at the right offset instead, 64 flags at a time: 4*9*25*49 = 44100,
// 121*169 = 20449 (stored twice) and 289*361 = 104329 n, 23 KiB in all, which
// stays in the first-level cache. The squares from 529 on mark about 0.006 of all n between
// them and are marked one multiple at a time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/bucket_sieve.hpp"
#include "arith/prime_set.hpp"

namespace morvane {

// The flags of a few squares, stored for one period of `bits` flags (a multiple
// of the product of the squares) and then the first 128 flags once more, so
// that 64 flags from any offset below `bits` are two neighbouring stored words
// shifted by the offset's bit. Consecutive scan words advance the offset by 64,
// which keeps that shift until the offset passes `bits` and wraps: between two
// wraps a scan word is always the same two-word funnel shift, a loop the
// compiler vectorises.
class PeriodicFlags {
public:
    PeriodicFlags() = default;
    PeriodicFlags(const std::uint64_t* squares, int count, std::uint64_t first) {
        std::uint64_t period = 1;
        for (int k = 0; k < count; ++k) period *= squares[k];
        // At least a block of the scan (32768 flags), so that short periods
        // (p = 2: 4 n, p = 17: 289 n) still copy in long runs between wraps.
        bits_ = period * ((32768 + period - 1) / period);
        flags_ = stored(squares, count, bits_);
        // Stored flag j stands for n = j (mod bits_).
        offset_ = first % bits_;
    }

    bool empty() const { return !flags_; }

    // Scan words before the offset wraps: those starting below bits_.
    std::uint64_t run() const { return (bits_ - offset_ + 63) / 64; }
    // Scan word i of the current run (i < run()). The high word is shifted in
    // two steps, so that a shift of zero takes nothing from it.
    std::uint64_t word(std::uint64_t i) const {
        const std::uint64_t* in = flags_->data() + offset_ / 64 + i;
        const unsigned r = offset_ % 64;
        return (in[0] >> r) | ((in[1] << 1) << (63 - r));
    }
    void advance(std::uint64_t words) {
        offset_ += 64 * words;
        if (offset_ >= bits_) offset_ -= bits_;
    }

private:
    using Table = std::vector<std::uint64_t>;

    // The stored flags of these squares, made once per process and shared by
    // every scan (and thread): they are the same for every start, and making
    // them would be most of the set-up of a short window.
    static std::shared_ptr<const Table> stored(const std::uint64_t* squares, int count,
                                               std::uint64_t bits) {
        static std::mutex guard;
        static std::map<std::vector<std::uint64_t>, std::shared_ptr<const Table>> made;
        const std::lock_guard<std::mutex> lock(guard);
        auto& table = made[std::vector<std::uint64_t>(squares, squares + count)];
        if (!table) {
            auto flags = std::make_shared<Table>((bits + 128 + 63) / 64, 0);
            for (int k = 0; k < count; ++k)
                for (std::uint64_t j = 0; j < bits + 128; j += squares[k])
                    (*flags)[j / 64] |= 1ull << (j % 64);
            table = std::move(flags);
        }
        return table;
    }

    std::shared_ptr<const Table> flags_;
    std::uint64_t bits_ = 0;    // flags in one stored period
    std::uint64_t offset_ = 0;  // stored flag of the next scan word's first n
};

// The Q flags of a run: the powers q^k up to a block's length from the stored
// patterns and by marking, block by block; the larger ones from the buckets
// (bucket_sieve.hpp), with the primes from the profile's source.
template <class Primes>
class QSieve {
public:
    // Patterns are stored for consecutive small powers whose product stays
    // within this many flags: for k = 2 that gives 4*9*25*49, 121*169 and
    // 289*361. The next pair, 529 * 841, would need 55 KiB, more than the
    // first-level cache holds beside the block.
    static constexpr std::uint64_t stored_period_limit = 131072;
    static constexpr int most_stored = 3;

    // Flags for n = first, first + 1, ..., last in the order the fill calls ask
    // for them.
    QSieve(const PrimeSet& set, std::uint64_t first, std::uint64_t last) {
        const std::vector<std::uint64_t> powers = small_powers(set, last);
        const std::uint64_t* p = powers.data();
        const std::uint64_t* const end = p + powers.size();
        while (p != end && stored_count_ < most_stored) {
            // The longest run of powers from p whose product fits the limit.
            std::uint64_t product = *p;
            const std::uint64_t* to = p + 1;
            for (; to != end && product <= stored_period_limit / *to; ++to) product *= *to;
            if (stored_count_ > 0 && !worth_storing(p, static_cast<int>(to - p))) break;
            stored_[stored_count_++] = PeriodicFlags(p, static_cast<int>(to - p), first);
            p = to;
        }
        for (; p != end; ++p) {
            // Distance from first to the least multiple of s at or above it.
            const std::uint64_t s = *p;
            sparse_.push_back({s, (s - first % s) % s});
        }
        large_ = BucketSieve(set, integer_root(block_bits, set.k) + 1, first, last, Primes{});
    }

    // The prime powers q^k up to a block's length of the primes of the set that
    // a run up to `last` needs, ascending.
    static std::vector<std::uint64_t> small_powers(const PrimeSet& set, std::uint64_t last) {
        std::vector<std::uint64_t> powers;
        const std::uint64_t largest =
            std::min(largest_needed_prime(set, last), integer_root(block_bits, set.k));
        Primes::each(2, largest, [&](std::uint64_t q) { powers.push_back(prime_power(q, set.k)); });
        return powers;
    }

    // Writes the flags of the next `bits` n (bits a multiple of block_bits,
    // except for the last call) into words[0 .. ceil(bits / 64)). Flags past
    // `bits` in the last word are unspecified. Inlined, so that each copy of
    // the scan's loops has its own, compiled for its processor.
    [[gnu::always_inline]] inline void fill(std::uint64_t* words, std::uint64_t bits) {
        const std::uint64_t count = (bits + 63) / 64;
        switch (stored_count_) {
            case 0:
                std::fill_n(words, count, 0);
                break;
            case 1:
                put<1>(words, count);
                break;
            case 2:
                put<2>(words, count);
                break;
            default:
                put<3>(words, count);
                break;
        }
        // The step in a local: the words may alias m for all the compiler
        // knows once a caller has let their address out (the run search's
        // call does), and it would read m.square again after every store.
        for (auto& m : sparse_) {
            const std::uint64_t square = m.square;
            std::uint64_t j = m.offset;
            for (; j < bits; j += square) words[j / 64] |= 1ull << (j % 64);
            m.offset = j - bits;
        }
        if (!large_.empty())
            for (std::uint64_t done = 0; done < bits; done += block_bits)
                large_.mark(words + done / 64, std::min(block_bits, bits - done));
    }

private:
    static constexpr std::uint64_t block_bits = BucketSieve::block_bits;

    struct Sparse {
        std::uint64_t square;
        std::uint64_t offset;  // of its next multiple from the start of the next fill
    };

    // Reading a stored pattern into every word costs about as much as marking
    // 0.3 multiples a word one by one: 289 alone (p = 17, 0.22 a word) is
    // marked, 121 alone (p = 11, 0.53) and 289 with 361 (0.40) are stored. The
    // first group is always stored.
    static bool worth_storing(const std::uint64_t* squares, int count) {
        double marks_per_word = 0;
        for (int k = 0; k < count; ++k) marks_per_word += 64.0 / double(squares[k]);
        return marks_per_word > 0.3;
    }

    // The stored flags of the next `count` words, all patterns in one pass: in
    // stretches where none of them wraps, each is a fixed funnel shift.
    template <int Patterns>
    [[gnu::always_inline]] inline void put(std::uint64_t* __restrict out, std::uint64_t count) {
        while (count) {
            std::uint64_t run = count;
            for (int g = 0; g < Patterns; ++g) run = std::min(run, stored_[g].run());
            const PeriodicFlags &a = stored_[0], &b = stored_[Patterns > 1],
                                &c = stored_[Patterns - 1];
            for (std::uint64_t i = 0; i < run; ++i) {
                std::uint64_t v = a.word(i);
                if constexpr (Patterns > 1) v |= b.word(i);
                if constexpr (Patterns > 2) v |= c.word(i);
                out[i] = v;
            }
            for (int g = 0; g < Patterns; ++g) stored_[g].advance(run);
            out += run;
            count -= run;
        }
    }

    std::array<PeriodicFlags, most_stored> stored_;
    int stored_count_ = 0;
    std::vector<Sparse> sparse_;
    BucketSieve large_;
};

}  // namespace morvane
