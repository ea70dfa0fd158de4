// Segmented sieve of Q flags, 64 consecutive n to a word, bit i of a word for
// the word's first n plus i.
//
// The squares of 2, 3, 5 and 7 divide so many n that marking them one by one
// would dominate; their flags repeat with period 4*9*25*49 = 44100, so a stored
// period is read at the right offset instead, 64 flags at a time. The same holds
// for 121 and 169 with period 20449. The squares from 289 on mark about 0.012
// of all n between them and are marked one multiple at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <vector>

#include "engine/q_number_detector.hpp"

namespace morvane {

// The flags of a few squares repeat with the product of the squares as period.
// They are stored over the least common multiple of that period and 64, so
// that a word boundary of the stored flags always falls at the same bit
// offset of the scan's words: each scan word is then two neighbouring stored
// words shifted by one fixed amount, a loop the compiler vectorises.
// (At most 44100 * 16 or 20449 * 64 bits: 86 KiB or 160 KiB.)
class PeriodicFlags {
public:
    PeriodicFlags() = default;
    PeriodicFlags(const std::uint64_t* squares, int count, std::uint64_t first) {
        std::uint64_t period = 1;
        for (int k = 0; k < count; ++k) period *= squares[k];
        // At least 64 words, so that short periods (p = 2: 4 n) still copy in
        // long runs.
        const std::uint64_t lcm = std::lcm(period, std::uint64_t{64});
        const std::uint64_t bits = lcm * ((4096 + lcm - 1) / lcm);
        words_ = bits / 64;
        table_ = stored(squares, count, bits);
        // Stored bit j stands for n = j (mod bits).
        const std::uint64_t offset = first % bits;
        next_ = offset / 64;
        shift_ = offset % 64;
    }

    bool empty() const { return !table_; }

    // Writes (or ORs into) out[0 .. count) the flags of the next 64 * count n.
    template <bool Merge>
    void put(std::uint64_t* __restrict out, std::uint64_t count) {
        while (count) {
            const std::uint64_t run = std::min(count, words_ - next_);
            const std::uint64_t* __restrict in = table_->data() + next_;
            const unsigned r = shift_;
            if (r == 0) {
                for (std::uint64_t i = 0; i < run; ++i) out[i] = Merge ? out[i] | in[i] : in[i];
            } else {
                for (std::uint64_t i = 0; i < run; ++i) {
                    const std::uint64_t v = (in[i] >> r) | (in[i + 1] << (64 - r));
                    out[i] = Merge ? out[i] | v : v;
                }
            }
            next_ += run;
            if (next_ == words_) next_ = 0;
            out += run;
            count -= run;
        }
    }

private:
    using Table = std::vector<std::uint64_t>;

    // The stored flags of these squares, made once per process: they are the
    // same for every scan, and making them (about 0.4 ms for 4 * 9 * 25 * 49
    // and 121 * 169 together) would be most of the set-up of a short window.
    static std::shared_ptr<const Table> stored(const std::uint64_t* squares, int count,
                                               std::uint64_t bits) {
        static std::mutex guard;
        static std::map<std::vector<std::uint64_t>, std::shared_ptr<const Table>> made;
        std::vector<std::uint64_t> key(squares, squares + count);
        const std::lock_guard<std::mutex> lock(guard);
        auto& table = made[key];
        if (!table) {
            auto flags =
                std::make_shared<Table>(bits / 64 + 1, 0);  // one more: a copy of the first
            for (int k = 0; k < count; ++k)
                for (std::uint64_t j = 0; j < bits; j += squares[k])
                    (*flags)[j / 64] |= 1ull << (j % 64);
            flags->back() = flags->front();
            table = std::move(flags);
        }
        return table;
    }

    std::shared_ptr<const Table> table_;
    std::uint64_t words_ = 0;  // stored words in one repetition
    std::uint64_t next_ = 0;   // stored word holding the next scan word's first flag
    unsigned shift_ = 0;       // that flag's bit in it
};

class QSieve {
public:
    // Flags for n = first, first + 1, ... in the order the fill calls ask for them.
    QSieve(int active, std::uint64_t first) {
        std::uint64_t small[4], middle[2];
        int small_count = 0, middle_count = 0;
        for (int k = 0; k < active; ++k) {
            const std::uint64_t s = Squares<std::uint64_t>[k];
            if (k < 4) {
                small[small_count++] = s;
            } else if (k < 6) {
                middle[middle_count++] = s;
            } else {
                // Distance from first to the least multiple of s at or above it.
                sparse_.push_back({s, (s - first % s) % s});
            }
        }
        small_ = PeriodicFlags(small, small_count, first);
        if (middle_count) middle_ = PeriodicFlags(middle, middle_count, first);
    }

    // Writes the flags of the next `bits` n (bits a multiple of 64, except for
    // the last call) into words[0 .. ceil(bits / 64)). Flags past `bits` in the
    // last word are unspecified.
    void fill(std::uint64_t* words, std::uint64_t bits) {
        const std::uint64_t count = (bits + 63) / 64;
        small_.put<false>(words, count);
        if (!middle_.empty()) middle_.put<true>(words, count);
        for (auto& m : sparse_) {
            std::uint64_t j = m.offset;
            for (; j < bits; j += m.square) words[j / 64] |= 1ull << (j % 64);
            m.offset = j - bits;
        }
    }

private:
    struct Sparse {
        std::uint64_t square;
        std::uint64_t offset;  // of its next multiple from the start of the next fill
    };
    PeriodicFlags small_, middle_;
    std::vector<Sparse> sparse_;
};

}  // namespace morvane
