// The fast scan: the same records as the plain scan, with per-n arithmetic only
// where a record is possible.
//
// The Q flags come from a segmented sieve, 64 n to a word. The computed excess
// at n is e(n) = C(n) - fl(delta * n), in the profile's Real. Most n cannot
// beat the running extreme, and that is decided without floating point, on the
// exact excess x(n) = C(n) - delta * n kept in fixed point:
//
//   delta = D / 2^S exactly (D the significand of delta), so
//   X(n) = C(n) * 2^S - D * n is x(n) * 2^S, an integer. It is kept modulo 2^128:
//   C(n) * 2^S alone may not fit, but X(n) itself is tiny and comes out exact.
//
// Per word, X at the word's start is cut to units of 2^-32 and bounds on the
// excess over the word's Q-numbers and over its F-numbers are formed from the
// popcount; a word whose bounds stay clear of the running extremes is done.
// Otherwise byte bounds from tables, then bit values, narrow it to the n
// whose excess may beat the extreme, and only those are computed in Real, in
// order, exactly as the plain scan computes them.
//
// How far e(n) may lie from x(n):
//   - fl(delta * n) is off by at most half an ulp of delta * n. With
//     delta < 2^E and n <= last, delta * n < 2^(E + bitlen(last)), so the error
//     is at most 2^(E + bitlen(last) - precision - 1): 2^-23 in binary64 below
//     2^32, but up to 2^-2 in the extended format near 2^64. The margin scales
//     with the window's last n.
//   - C(n) - fl(delta * n) is exact: both are multiples of the ulp of
//     fl(delta * n) (C(n) is an integer and that ulp is at most 1), and their
//     difference is far smaller than 2^precision such ulps. One unit of 2^-32 is
//     allowed for it all the same.
//   - Cutting X to units of 2^-32 loses less than one unit; delta * 2^32 is
//     taken as floor or ceiling, whichever keeps each bound on its safe side.
// When delta has so few significant bits that all of this is exact (p = 2,
// delta = 1/4), the margin is zero: there every Q-excess is exactly 0 and ties
// the running maximum, and any margin would send every Q-number to the slow path.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "q_count.hpp"
#include "q_number_detector.hpp"
#include "q_sieve.hpp"
#include "scan_state.hpp"

namespace morvane {

template <class Profile>
class FastScan {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;

    // Fixed-point units of 2^-unit_bits for the filters.
    static constexpr int unit_bits = 32;
    static constexpr std::int64_t unit = std::int64_t{1} << unit_bits;
    // n per sieve block: 4 KiB of flags, which stays in the first-level cache.
    static constexpr std::uint64_t block_bits = 32768;

    FastScan(std::int32_t p, std::uint64_t last)
        : active_(active_square_count<Count>(p)), delta_(q_density<Profile>(active_)) {
        constexpr int precision = std::numeric_limits<Real>::digits;
        int exponent = 0;  // delta = fraction * 2^exponent, fraction in [1/2, 1)
        const Real fraction = std::frexp(delta_, &exponent);
        significand_ = static_cast<std::uint64_t>(std::ldexp(fraction, precision));
        scale_ = precision - exponent;  // delta = significand / 2^scale, exactly
        shift_ = scale_ - unit_bits;    // 22 in binary64, 33 in the extended format

        const std::uint64_t cut = significand_ & ((std::uint64_t{1} << shift_) - 1);
        delta_lo_ = static_cast<std::int64_t>(significand_ >> shift_);
        const std::uint64_t odd = significand_ >> std::countr_zero(significand_);
        const int last_bits = std::bit_width(last);
        // delta * n exact for every n <= last: the odd part of the significand times
        // n fits the precision.
        const bool products_exact = odd == 1 || std::bit_width(odd) + last_bits <= precision;
        exact_ = products_exact && cut == 0;
        delta_hi_ = delta_lo_ + (cut != 0);
        if (exact_) {
            slack_ = 0;
        } else {
            const int half_ulp = exponent + last_bits - precision - 1 + unit_bits;
            slack_ = (half_ulp < 0 ? 1 : std::int64_t{1} << half_ulp) + 2;
        }
        build_byte_bounds();
    }

    // Scans n = first..last (1 <= first <= last, last as given at construction)
    // with state.count = C(first - 1). Returns false when the sink fails.
    template <class Sink>
    bool scan(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state, Sink& sink) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
        // The loop leans on popcnt, tzcnt and lzcnt, which baseline x86-64 lacks
        // (popcount is then a library call). The same source is compiled a second
        // time for x86-64-v3 and chosen when the processor has it. Floating-point
        // contraction stays off there too, so both give the same records.
        if (__builtin_cpu_supports("x86-64-v3")) return scan_v3(first, last, state, sink);
#endif
        return scan_body(first, last, state, sink);
    }

    Real density() const { return delta_; }

private:
    template <class Sink>
    [[gnu::always_inline]] inline bool scan_body(std::uint64_t first, std::uint64_t last,
                                                 ScanState<Profile>& state, Sink& sink);
    template <class Sink>
    [[gnu::target("arch=x86-64-v3")]] bool scan_v3(std::uint64_t first, std::uint64_t last,
                                                  ScanState<Profile>& state, Sink& sink) {
        return scan_body(first, last, state, sink);
    }

    void build_byte_bounds();
    void build_word_bounds(std::uint64_t first);
    std::int64_t q_quarter_peak(std::uint64_t q) const;
    std::int64_t f_quarter_trough(std::uint64_t q, std::uint64_t f) const;
    std::uint64_t q_bits_above(std::uint64_t q, std::int64_t level) const;
    std::uint64_t f_bits_below(std::uint64_t q, std::uint64_t f, std::int64_t level) const;
    std::uint64_t periodic_q_bits(std::size_t at, std::uint64_t q, std::int64_t level) const;
    std::uint64_t periodic_f_bits(std::size_t at, std::uint64_t q, std::int64_t level) const;

    std::int64_t q_threshold(Real maxQ) const {
        const Real scaled = std::floor(std::ldexp(maxQ, unit_bits));
        // Lowering the threshold only admits more candidates.
        return scaled > Real(limit) ? limit : static_cast<std::int64_t>(scaled) - slack_;
    }
    std::int64_t f_threshold(Real minE) const {
        const Real scaled = std::ceil(std::ldexp(minE, unit_bits));
        return scaled < Real(-limit) ? -limit : static_cast<std::int64_t>(scaled) + slack_;
    }

    // Beyond |x| = 2^20 the fixed-point sums could come near overflow; such blocks
    // (none is known to occur) go through the exact per-n evaluation instead.
    // Bounds and thresholds stay within +-limit, far above any x met in units.
    static constexpr std::int64_t x_limit = std::int64_t{1} << (20 + unit_bits);
    static constexpr std::int64_t limit = std::int64_t{1} << 60;

    int active_;
    Real delta_;
    std::uint64_t significand_ = 0;
    int scale_ = 0;
    int shift_ = 0;
    bool exact_ = false;
    std::int64_t delta_lo_ = 0, delta_hi_ = 0;  // delta * 2^32, rounded down and up
    std::int64_t slack_ = 0;
    // For each byte of flags, the highest bound over its Q bits of
    // J * 2^32 - delta_lo * (i + 1), J the Q bits up to and including bit i, and
    // the lowest over its F bits of the same with delta_hi.
    std::array<std::int64_t, 256> byte_peak_q_{}, byte_trough_f_{};
    // For p < 11: the highest Q bound and lowest F bound of each word of one
    // period of the flags, relative to the word's start (-limit or limit where
    // the word has no such bit).
    struct WordBounds {
        std::int64_t q_peak, f_trough;
    };
    std::vector<WordBounds> word_bounds_;
    // Where the period is short (p < 7): for each word, its Q bits' bounds in
    // descending order, then its F bits' bounds in ascending order, each as
    // bound * 64 + bit, so that the candidates are the first few entries.
    std::vector<std::int64_t> sorted_bounds_;
};

template <class Profile>
void FastScan<Profile>::build_byte_bounds() {
    for (unsigned b = 0; b < 256; ++b) {
        std::int64_t peak = -limit, trough = limit;
        std::int64_t j = 0;
        for (int i = 0; i < 8; ++i) {
            if (b >> i & 1) {
                ++j;
                peak = std::max(peak, j * unit - delta_lo_ * (i + 1));
            } else {
                trough = std::min(trough, j * unit - delta_hi_ * (i + 1));
            }
        }
        byte_peak_q_[b] = peak;
        byte_trough_f_[b] = trough;
    }
}

// Q bits of the bytes below each byte: byte k of the result counts the set bits
// of bytes 0..k-1 (at most 56, so no byte overflows into the next).
inline std::uint64_t byte_prefix_counts(std::uint64_t flags) {
    std::uint64_t c = flags - ((flags >> 1) & 0x5555555555555555ull);
    c = (c & 0x3333333333333333ull) + ((c >> 2) & 0x3333333333333333ull);
    c = (c + (c >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return (c * 0x0101010101010101ull) << 8;
}

// Bounds over 16-bit quarters: in a quarter, a Q bit has J at most the Q bits
// up to the quarter's end and i at least the quarter's lowest Q bit; an F bit
// has J at least the Q bits below the quarter and i at most its highest F bit.
template <class Profile>
std::int64_t FastScan<Profile>::q_quarter_peak(std::uint64_t q) const {
    std::int64_t peak = -limit, j = 0;
    for (int m = 0; m < 4; ++m) {
        const std::uint64_t quarter = (q >> (16 * m)) & 0xffff;
        j += std::popcount(quarter);
        const std::int64_t bound = j * unit - delta_lo_ * (16 * m + std::countr_zero(quarter | 0x10000) + 1);
        peak = std::max(peak, quarter ? bound : -limit);
    }
    return peak;
}

template <class Profile>
std::int64_t FastScan<Profile>::f_quarter_trough(std::uint64_t q, std::uint64_t f) const {
    std::int64_t trough = limit, j = 0;
    for (int m = 0; m < 4; ++m) {
        const std::uint64_t quarter = (f >> (16 * m)) & 0xffff;
        const std::int64_t bound = j * unit - delta_hi_ * (16 * m + 16 - std::countl_zero(quarter << 48 | 1));
        trough = std::min(trough, quarter ? bound : limit);
        j += std::popcount((q >> (16 * m)) & 0xffff);
    }
    return trough;
}

// Exact bounds of every word of a repeating flag pattern, in the order the scan
// meets them from first on.
template <class Profile>
void FastScan<Profile>::build_word_bounds(std::uint64_t first) {
    if (active_ > 4) return;  // 121 and 169 bring periods of 10^8 words and more
    std::uint64_t period = 1;
    for (int k = 0; k < active_; ++k) period *= Squares<std::uint64_t>[k];
    // The flags of word w stand for n = first + 64 w ...; they repeat when 64 w
    // is a multiple of the period.
    const std::uint64_t words = period / std::gcd(period, std::uint64_t{64});
    std::vector<std::uint64_t> flags(words);
    QSieve(active_, first).fill(flags.data(), 64 * words);
    word_bounds_.resize(words);
    for (std::uint64_t w = 0; w < words; ++w) {
        std::int64_t peak = -limit, trough = limit, j = 0;
        for (int i = 0; i < 64; ++i) {
            if (flags[w] >> i & 1) {
                ++j;
                peak = std::max(peak, j * unit - delta_lo_ * (i + 1));
            } else {
                trough = std::min(trough, j * unit - delta_hi_ * (i + 1));
            }
        }
        word_bounds_[w] = {peak, trough};
    }
    if (words > 1024) return;
    sorted_bounds_.resize(64 * words);
    for (std::uint64_t w = 0; w < words; ++w) {
        std::int64_t* q_entry = sorted_bounds_.data() + 64 * w;
        std::int64_t* f_entry = q_entry + std::popcount(flags[w]);
        std::int64_t* const q_end = f_entry;
        std::int64_t j = 0;
        for (int i = 0; i < 64; ++i) {
            if (flags[w] >> i & 1) {
                ++j;
                *q_entry++ = (j * unit - delta_lo_ * (i + 1)) * 64 + i;
            } else {
                *f_entry++ = (j * unit - delta_hi_ * (i + 1)) * 64 + i;
            }
        }
        std::sort(sorted_bounds_.data() + 64 * w, q_end, std::greater<>());
        std::sort(q_end, sorted_bounds_.data() + 64 * (w + 1));
    }
}

// The Q bits whose bound, relative to the word's start, lies above level:
// the word as a whole (J <= popcount, i >= lowest Q bit), then its quarters,
// then its bytes from the table, then each bit.
template <class Profile>
std::uint64_t FastScan<Profile>::q_bits_above(std::uint64_t q, std::int64_t level) const {
    if (!q || std::popcount(q) * unit - delta_lo_ * (std::countr_zero(q) + 1) <= level ||
        q_quarter_peak(q) <= level)
        return 0;
    const std::uint64_t below = byte_prefix_counts(q);
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
        const unsigned byte = (q >> (8 * k)) & 0xff;
        auto j = static_cast<std::int64_t>((below >> (8 * k)) & 0xff);
        if (j * unit - delta_lo_ * (8 * k) + byte_peak_q_[byte] <= level) continue;
        for (unsigned b = byte; b; b &= b - 1) {
            const int i = 8 * k + std::countr_zero(b);
            ++j;
            if (j * unit - delta_lo_ * (i + 1) > level) bits |= 1ull << i;
        }
    }
    return bits;
}

// The F bits whose bound lies below level (J >= 0 and i <= highest F bit for
// the word; then quarters, bytes and bits).
template <class Profile>
std::uint64_t FastScan<Profile>::f_bits_below(std::uint64_t q, std::uint64_t f,
                                              std::int64_t level) const {
    if (!f || -delta_hi_ * (64 - std::countl_zero(f)) >= level || f_quarter_trough(q, f) >= level)
        return 0;
    // Bits that are not F bits (Q bits, and bits past the window's end) count as
    // Q bits for the table; those past the end come after every F bit, so no F
    // bit's count changes.
    const std::uint64_t not_f = ~f;
    const std::uint64_t below = byte_prefix_counts(not_f);
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
        const unsigned byte = (not_f >> (8 * k)) & 0xff;
        const auto j = static_cast<std::int64_t>((below >> (8 * k)) & 0xff);
        if (j * unit - delta_hi_ * (8 * k) + byte_trough_f_[byte] >= level) continue;
        for (unsigned b = ~byte & 0xff; b; b &= b - 1) {
            const int i = 8 * k + std::countr_zero(b);
            const std::int64_t ji = j + std::popcount(byte & ((1u << (i - 8 * k)) - 1));
            if (ji * unit - delta_hi_ * (i + 1) < level) bits |= 1ull << i;
        }
    }
    return bits;
}

// For a word of the repeating pattern: from its sorted bounds where kept, else
// as for any word.
template <class Profile>
std::uint64_t FastScan<Profile>::periodic_q_bits(std::size_t at, std::uint64_t q,
                                                 std::int64_t level) const {
    if (sorted_bounds_.empty()) return q_bits_above(q, level);
    std::uint64_t bits = 0;
    const std::int64_t* e = sorted_bounds_.data() + 64 * at;
    for (const std::int64_t* end = e + std::popcount(q); e != end && (*e >> 6) > level; ++e)
        bits |= 1ull << (*e & 63);
    return bits;
}

template <class Profile>
std::uint64_t FastScan<Profile>::periodic_f_bits(std::size_t at, std::uint64_t q,
                                                 std::int64_t level) const {
    if (sorted_bounds_.empty()) return f_bits_below(q, ~q, level);
    std::uint64_t bits = 0;
    const std::int64_t* e = sorted_bounds_.data() + 64 * at + std::popcount(q);
    for (const std::int64_t* end = sorted_bounds_.data() + 64 * (at + 1);
         e != end && (*e >> 6) < level; ++e)
        bits |= 1ull << (*e & 63);
    return bits;
}

template <class Profile>
template <class Sink>
inline bool FastScan<Profile>::scan_body(std::uint64_t first, std::uint64_t last,
                                         ScanState<Profile>& state, Sink& sink) {
    using u128 = unsigned __int128;
    QSieve sieve(active_, first);
    build_word_bounds(first);
    std::uint64_t count = state.count;
    // X at first - 1, modulo 2^128.
    u128 x_scaled = (u128(count) << scale_) - u128(significand_) * (first - 1);
    const u128 word_step = u128(significand_) * 64;
    std::int64_t tq = q_threshold(state.maxQ);
    std::int64_t tf = f_threshold(state.minE);

    // The exact evaluation at n with C(n) = c, as the plain scan does it.
    auto excess = [&](std::uint64_t n, std::uint64_t c) {
        const Real expected = delta_ * static_cast<Real>(static_cast<Count>(n));
        return static_cast<Real>(static_cast<Count>(c)) - expected;
    };
    auto q_number = [&](std::uint64_t n, std::uint64_t c) {
        const Real e = excess(n, c);
        if (!(e > state.maxQ)) return true;
        state.maxQ = e;
        tq = q_threshold(e);
        return sink.q_record(static_cast<Count>(n), static_cast<Count>(c), e);
    };
    auto f_number = [&](std::uint64_t n, std::uint64_t c) {
        const Real e = excess(n, c);
        if (!(e < state.minE)) return true;
        state.minE = e;
        tf = f_threshold(e);
        return sink.f_record(static_cast<Count>(n), static_cast<Count>(n - c), e);
    };

    std::size_t position = 0;  // in word_bounds_
    std::array<std::uint64_t, block_bits / 64> flags;
    for (std::uint64_t n0 = first;;) {
        const std::uint64_t remaining = last - n0 + 1;  // >= 1, and fits: n0 >= 1
        const std::uint64_t bits = std::min(block_bits, remaining);
        sieve.fill(flags.data(), bits);
        const std::uint64_t words = (bits + 63) / 64;
        const auto block_x = static_cast<std::int64_t>(static_cast<__int128>(x_scaled) >> shift_);
        const bool fixed_point_safe = block_x < x_limit && block_x > -x_limit;

        for (std::uint64_t w = 0; w < words; ++w) {
            const std::uint64_t base_n = n0 + 64 * w;  // the n of bit 0
            const unsigned width = (w + 1 == words && bits % 64) ? bits % 64 : 64;
            const std::uint64_t valid = width == 64 ? ~0ull : (1ull << width) - 1;
            const std::uint64_t q = flags[w] & valid;
            const std::uint64_t f = ~flags[w] & valid;
            const int pc = std::popcount(q);

            const bool periodic_word = width == 64 && !word_bounds_.empty();
            const std::size_t at = position;
            if (periodic_word && ++position == word_bounds_.size()) position = 0;

            // The bits to evaluate exactly: every bit where the fixed point cannot
            // be trusted, else the bits whose bound reaches the threshold.
            std::uint64_t q_try = q, f_try = f;
            if (fixed_point_safe) {
                // x at base_n - 1 in units, rounded down.
                const auto xw = static_cast<std::int64_t>(static_cast<__int128>(x_scaled) >> shift_);
                if (periodic_word) {
                    q_try = xw + word_bounds_[at].q_peak > tq ? periodic_q_bits(at, q, tq - xw) : 0;
                    f_try = xw + word_bounds_[at].f_trough < tf ? periodic_f_bits(at, q, tf - xw) : 0;
                } else {
                    q_try = q_bits_above(q, tq - xw);
                    f_try = f_bits_below(q, f, tf - xw);
                }
            }
            // In order of n within each kind; Q and F records go to separate files.
            for (; q_try; q_try &= q_try - 1) {
                const int i = std::countr_zero(q_try);
                const std::uint64_t j = std::popcount(q & (~0ull >> (63 - i)));  // Q bits 0..i
                if (!q_number(base_n + i, count + j)) return false;
            }
            for (; f_try; f_try &= f_try - 1) {
                const int i = std::countr_zero(f_try);
                const std::uint64_t j = std::popcount(q & ((1ull << i) - 1));  // Q bits below i
                if (!f_number(base_n + i, count + j)) return false;
            }
            count += pc;
            x_scaled += (u128(pc) << scale_) - word_step;
        }
        if (bits == remaining) break;
        n0 += bits;
    }
    state.count = static_cast<Count>(count);
    return true;
}

// The whole run: the count below nmin by inclusion and exclusion, then the
// fast scan from max(nmin, 1) to N.
template <class Profile, class Sink>
bool fast_scan(std::int32_t p, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, Sink& sink) {
    const std::uint64_t first = nmin > 1 ? nmin : 1;
    FastScan<Profile> engine(p, N);
    state.count = static_cast<typename Profile::Count>(
        count_q_numbers(first - 1, active_square_count<typename Profile::Count>(p)));
    return engine.scan(first, N, state, sink);
}

}  // namespace morvane
