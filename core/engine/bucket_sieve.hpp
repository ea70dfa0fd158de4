// The multiples of the large prime powers, q^k above the length of a sieve
// block: each divides fewer than one n of a block, so each is kept, with its
// next multiple, in the bucket of the block that multiple falls in, and looked
// at only there (the bucket sieve of Oliveira e Silva's prime sieves).
//
// The blocks' buckets cover the current stretch of 1024 blocks and the next;
// a multiple further off waits in the bucket of its stretch, up to 64
// stretches ahead (2^31 n), and beyond that in a heap ordered by position, and
// moves on to its block's bucket when its stretch is the next. So the memory is
// one entry per prime with a multiple still ahead
// in the scan, never one per multiple: a run to 10^13 keeps the 230,000 primes
// below its square root, a window far out only the primes with a multiple in
// it. Far out, the primes above a cut are not looked at one by one: their
// multiples come by their cofactor (cofactor_hits.hpp).
//
// The sum of 1/q^2 over the primes above 181 is about 0.0011: that many marks
// per n for every prime and k = 2, against 0.4 set by the stored patterns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/cofactor_hits.hpp"
#include "arith/prime_set.hpp"

namespace morvane {

class BucketSieve {
public:
    static constexpr std::uint64_t block_bits = 32768;
    // Blocks are grouped in stretches of this many; the buckets hold the
    // blocks of the current stretch and the next, one bucket a block.
    static constexpr std::uint64_t stretch_blocks = 1024;
    // The stretches after those, up to this many from the current one, have
    // a bucket each, shared out to the blocks' buckets when it becomes the
    // next; a multiple further on waits in a heap.
    static constexpr std::uint64_t far_stretches = 64;

    BucketSieve() = default;

    // The powers q^k of the primes of the set from `from` (above the powers
    // marked block by block) up to the last n, for n = first..last.
    template <class Primes>
    BucketSieve(const PrimeSet& set, std::uint64_t from, std::uint64_t first, std::uint64_t last,
                Primes)
        : span_(last - first), buckets_(2 * stretch_blocks), stretches_(far_stretches) {
        const std::uint64_t largest = largest_needed_prime(set, last);
        if (from > largest) return;
        // The primes up to the cut one by one, the larger q by their cofactor.
        const std::uint64_t cut = std::max(from - 1, CofactorHits::cut(set, last));
        cofactors_ = CofactorHits(set, cut, largest, first, last);
        // A bucket gets block_bits times the sum of 1 / q^k over the primes
        // here, at most 36 for squares from 181 on: room for them at once,
        // rather than growing each bucket anew in every chunk a window is
        // scanned in.
        for (auto& bucket : buckets_) bucket.reserve(48);
        Primes::each(from, std::min(largest, cut), [&](std::uint64_t q) {
            const std::uint64_t m = prime_power(q, set.k);
            // The first multiple at or after first, as an offset from it.
            const std::uint64_t r = first % m, to_next = r == 0 ? 0 : m - r;
            if (to_next <= span_) add({m, to_next});
        });
    }

    bool empty() const { return pending_ == 0 && cofactors_.empty(); }

    // Sets the flags of the next block, `bits` n from its first (bit 0 of
    // words[0]); blocks come in turn, each of block_bits n but the last.
    void mark(std::uint64_t* words, std::uint64_t bits) {
        const std::uint64_t base = block_ * block_bits;
        if (block_ % stretch_blocks == 0 && block_ > 0) next_stretch();
        // The members the loop needs, in locals: a store through a Hit could
        // alias them, and the compiler would load each again for every hit.
        auto& bucket = buckets_[block_ % (2 * stretch_blocks)];
        const std::uint64_t span = span_, near_end = (block_ / stretch_blocks + 2) * stretch_blocks;
        std::vector<Hit>* const buckets = buckets_.data();
        const Hit* const end = bucket.data() + bucket.size();
        std::uint64_t dropped = 0;
        for (const Hit* h = bucket.data(); h != end; ++h) {
            const Hit hit = *h;
            const std::uint64_t i = hit.offset - base;
            if (i < bits) words[i / 64] |= std::uint64_t{1} << (i % 64);
            // The next multiple, unless it lies past the last n (or 2^64).
            if (hit.modulus > span - hit.offset) {
                ++dropped;
                continue;
            }
            const Hit next{hit.modulus, hit.offset + hit.modulus};
            const std::uint64_t block = next.offset / block_bits;
            if (block < near_end) {
                buckets[block % (2 * stretch_blocks)].push_back(next);
            } else {
                place_far(next);
            }
        }
        pending_ -= dropped;
        bucket.clear();
        cofactors_.take_before(base + bits, [&](std::uint64_t offset) {
            const std::uint64_t i = offset - base;
            words[i / 64] |= std::uint64_t{1} << (i % 64);
        });
        ++block_;
    }

private:
    struct Hit {
        std::uint64_t modulus;
        std::uint64_t offset;  // of the multiple, from the first n
    };
    static bool later(const Hit& a, const Hit& b) { return a.offset > b.offset; }

    // The modulus exceeds a block, so a multiple never goes back into the
    // bucket being emptied.
    void add(const Hit& hit) {
        ++pending_;
        const std::uint64_t block = hit.offset / block_bits;
        if (block < (block_ / stretch_blocks + 2) * stretch_blocks) {
            buckets_[block % (2 * stretch_blocks)].push_back(hit);
        } else {
            place_far(hit);
        }
    }

    // A multiple two stretches ahead or more: in its stretch's bucket, or in
    // the heap when that is beyond the last.
    void place_far(const Hit& hit) {
        const std::uint64_t stretch = hit.offset / block_bits / stretch_blocks;
        if (stretch < block_ / stretch_blocks + far_stretches) {
            stretches_[stretch % far_stretches].push_back(hit);
        } else {
            heap_.push_back(hit);
            std::push_heap(heap_.begin(), heap_.end(), later);
        }
    }

    // The scan enters a new stretch: the one after it moves into the blocks'
    // buckets, and the heap gives up what the stretches' buckets now reach.
    void next_stretch() {
        const std::uint64_t now = block_ / stretch_blocks;
        auto& coming = stretches_[(now + 1) % far_stretches];
        for (const Hit& hit : coming)
            buckets_[hit.offset / block_bits % (2 * stretch_blocks)].push_back(hit);
        coming.clear();
        while (!heap_.empty() &&
               heap_.front().offset / block_bits / stretch_blocks < now + far_stretches) {
            std::pop_heap(heap_.begin(), heap_.end(), later);
            const Hit hit = heap_.back();
            heap_.pop_back();
            const std::uint64_t stretch = hit.offset / block_bits / stretch_blocks;
            if (stretch <= now + 1)
                buckets_[hit.offset / block_bits % (2 * stretch_blocks)].push_back(hit);
            else
                stretches_[stretch % far_stretches].push_back(hit);
        }
    }

    std::uint64_t span_ = 0;    // last - first
    std::uint64_t block_ = 0;   // the next block, counted from first
    std::uint64_t pending_ = 0;
    std::vector<std::vector<Hit>> buckets_;    // a block's, by block % (2 stretch_blocks)
    std::vector<std::vector<Hit>> stretches_;  // a stretch's, by stretch % far_stretches
    std::vector<Hit> heap_;                    // the nearest multiple on top
    CofactorHits cofactors_;
};

}  // namespace morvane
