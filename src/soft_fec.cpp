// SPDX-License-Identifier: GPL-2.0-or-later
#include "soft_fec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <utility>

#include "common/simd.h"

namespace ostrel_mbe::soft_fec {
namespace {

// Least reliable positions flipped by the Chase search: 2^5 = 32 hard decodes per word, each a
// syndrome update and one table lookup.  Five catches nearly every pattern of four to six errors
// whose extra errors sit on unreliable bits, at a small fraction of a frame's synthesis cost.
constexpr unsigned CHASE_BITS = 5;
constexpr unsigned CHASE_PATTERNS = 1u << CHASE_BITS;

// A decision beyond the hard decoder's reach counts as confident when its flipped bits are on
// average less reliable than this share of the word's mean reliability.
constexpr float CONFIDENT_SHARE = 0.5f;

// Syndrome of a single error at bit j of a Golay (23,12) word.
constexpr std::array<std::uint16_t, 23> GOLAY_COLUMN_SYNDROMES = [] {
    std::array<std::uint16_t, 23> columns{};
    for (unsigned j = 0; j < 11; ++j) columns[j] = static_cast<std::uint16_t>(1u << j);
    for (unsigned j = 11; j < 23; ++j) columns[j] = static_cast<std::uint16_t>(fec::GOLAY_23_12_GENERATOR[22 - j] & 0x7FFu);
    return columns;
}();

// Parity column of bit j of a Hamming (15,11) word: 1, 2, 4, 8 for the parity bits, then the
// data bits' columns.
constexpr std::array<std::uint8_t, 15> HAMMING_COLUMNS = {0x1, 0x2, 0x4, 0x8, 0x3, 0x5, 0x6, 0x7,
                                                         0x9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF};

template <std::size_t N>
float weight(std::uint32_t pattern, std::span<const float, N> reliability) {
    float sum = 0.0f;
    while (pattern != 0) {
        sum += reliability[static_cast<std::size_t>(std::countr_zero(pattern))];
        pattern &= pattern - 1;
    }
    return sum;
}

// The CHASE_BITS least reliable positions, the first (lowest) position winning a tie.
template <std::size_t N>
std::array<std::uint8_t, CHASE_BITS> least_reliable(std::span<const float, N> reliability) {
    std::array<std::uint8_t, CHASE_BITS> chosen{};
    std::array<float, CHASE_BITS> values{};
    values.fill(std::numeric_limits<float>::infinity());
    for (std::size_t j = 0; j < N; ++j) {
        const float r = reliability[j];
        if (!(r < values[CHASE_BITS - 1])) continue;
        std::size_t k = CHASE_BITS - 1;
        while (k > 0 && r < values[k - 1]) {
            values[k] = values[k - 1];
            chosen[k] = chosen[k - 1];
            --k;
        }
        values[k] = r;
        chosen[k] = static_cast<std::uint8_t>(j);
    }
    return chosen;
}

// The decision's data, flip count, counted distance and confidence, from its error pattern.
template <std::size_t N>
SoftDecoded decided(std::uint16_t data, std::uint32_t pattern, unsigned reach, std::span<const float, N> reliability) {
    float total = 0.0f;
    for (float r : reliability) total += r;
    const float mean = total / static_cast<float>(N);
    const auto flips = static_cast<unsigned>(std::popcount(pattern));
    const float metric = weight(pattern, reliability);
    // The weighted distance in average bits, rounded, at most the flips: exactly the flips when
    // all bits are alike.
    const float average_bits = mean > 0.0f ? metric / mean + 0.5f : static_cast<float>(flips);
    const auto counted = static_cast<std::uint8_t>(std::min(average_bits, static_cast<float>(flips)));
    const bool confident = flips <= reach || metric < CONFIDENT_SHARE * mean * static_cast<float>(flips);
    return {data, static_cast<std::uint8_t>(flips), counted, confident};
}

// The Chase search over a Golay (23,12) word: the error pattern (relative to `hard`) of the
// candidate with the least reliability-weighted distance; the unflipped hard decision first, so
// it wins every tie.
std::uint32_t golay_chase(std::uint32_t hard, std::span<const float, 23> reliability) {
    const auto& table = fec::golay_23_12_syndrome_table::table();
    const std::uint16_t syndrome = fec::golay_23_12_syndrome(hard);
    const std::array<std::uint8_t, CHASE_BITS> positions = least_reliable(reliability);

    std::uint32_t best = table[syndrome];
    float best_metric = weight(best, reliability);
    // The flips and syndrome of each mask from those of the mask without its lowest bit.
    std::array<std::uint32_t, CHASE_PATTERNS> flips_of;
    std::array<std::uint16_t, CHASE_PATTERNS> syndrome_of;
    flips_of[0] = 0;
    syndrome_of[0] = syndrome;
    for (unsigned mask = 1; mask < CHASE_PATTERNS; ++mask) {
        const std::uint8_t position = positions[static_cast<std::size_t>(std::countr_zero(mask))];
        const unsigned rest = mask & (mask - 1);
        const std::uint32_t flips = flips_of[rest] | (1u << position);
        const auto s = static_cast<std::uint16_t>(syndrome_of[rest] ^ GOLAY_COLUMN_SYNDROMES[position]);
        flips_of[mask] = flips;
        syndrome_of[mask] = s;
        const std::uint32_t pattern = table[s] ^ flips;
        if (pattern == best) continue;
        const float metric = weight(pattern, reliability);
        if (metric < best_metric) {
            best = pattern;
            best_metric = metric;
        }
    }
    return best;
}

}  // namespace

SoftDecoded golay_23_12_decode_soft(std::uint32_t hard, std::span<const float, 23> reliability) {
    hard &= 0x7FFFFFu;
    const std::uint32_t pattern = golay_chase(hard, reliability);
    return decided(static_cast<std::uint16_t>(((hard ^ pattern) >> 11) & 0xFFFu), pattern, 3, reliability);
}

SoftDecoded golay_24_12_decode_soft(std::uint32_t hard, std::span<const float, 24> reliability) {
    hard &= 0xFFFFFFu;
    // Chase over all 24 positions: each candidate is the Golay word of bits 23..1 after the
    // flips, extended by its parity, and is weighed over all 24 bits.
    const auto& table = fec::golay_23_12_syndrome_table::table();
    const std::array<std::uint8_t, CHASE_BITS> positions = least_reliable(reliability);
    const auto extended_error = [&](std::uint32_t flipped) {
        const std::uint32_t golay = flipped >> 1;
        const std::uint32_t codeword = golay ^ table[fec::golay_23_12_syndrome(golay)];
        return ((codeword << 1) | static_cast<std::uint32_t>(std::popcount(codeword) & 1)) ^ hard;
    };

    std::uint32_t best = extended_error(hard);
    float best_metric = weight(best, reliability);
    // The flips of each mask from those of the mask without its lowest bit.
    std::array<std::uint32_t, CHASE_PATTERNS> flips_of;
    flips_of[0] = 0;
    for (unsigned mask = 1; mask < CHASE_PATTERNS; ++mask) {
        const std::uint32_t flips =
            flips_of[mask & (mask - 1)] | (1u << positions[static_cast<std::size_t>(std::countr_zero(mask))]);
        flips_of[mask] = flips;
        const std::uint32_t pattern = extended_error(hard ^ flips);
        if (pattern == best) continue;
        const float metric = weight(pattern, reliability);
        if (metric < best_metric) {
            best = pattern;
            best_metric = metric;
        }
    }
    return decided(static_cast<std::uint16_t>(((hard ^ best) >> 12) & 0xFFFu), best, 3, reliability);
}

namespace {

// The 16 trellis states' path costs as two vectors of eight lanes, states 0..7 and 8..15 (GCC's
// vector extension: one register each on AVX2, lowered lane by lane elsewhere).
using StateCosts = float __attribute__((vector_size(8 * sizeof(float))));
using StateMask = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
struct Trellis {
    StateCosts low, high;
};
struct Flipped {
    StateMask low, high;
};

// The costs of the states s ^ C, within one half.
template <unsigned C>
[[gnu::always_inline]] inline void permute(const StateCosts& v, StateCosts& out) {
    out = __builtin_shufflevector(v, v, 0 ^ C, 1 ^ C, 2 ^ C, 3 ^ C, 4 ^ C, 5 ^ C, 6 ^ C, 7 ^ C);
}

// One trellis stage for bit j: a state is reached by keeping the bit from the same state or by
// flipping it from the state that differs by the bit's column; the cheaper wins, keeping on a
// tie.  flipped gets -1 in the lanes of the states reached by flipping.
template <std::size_t J>
[[gnu::always_inline]] inline void hamming_stage(Trellis& cost, std::span<const float, 15> reliability,
                                                 Flipped& flipped) {
    constexpr unsigned C = HAMMING_COLUMNS[J];
    // Bit 3 of the column swaps the halves, bits 0..2 permute within them.
    const StateCosts& from_low = (C & 8u) != 0 ? cost.high : cost.low;
    const StateCosts& from_high = (C & 8u) != 0 ? cost.low : cost.high;
    StateCosts flip_low, flip_high;
    permute<C & 7u>(from_low, flip_low);
    permute<C & 7u>(from_high, flip_high);
    flip_low += reliability[J];
    flip_high += reliability[J];
    flipped.low = flip_low < cost.low;
    flipped.high = flip_high < cost.high;
    cost.low = flipped.low ? flip_low : cost.low;
    cost.high = flipped.high ? flip_high : cost.high;
}

template <std::size_t... J>
[[gnu::always_inline]] inline void hamming_stages(Trellis& cost, std::span<const float, 15> reliability,
                                                  std::array<Flipped, 15>& flipped, std::index_sequence<J...>) {
    (hamming_stage<J>(cost, reliability, flipped[J]), ...);
}

}  // namespace

// Built twice, for AVX2 and for the baseline instruction set: the trellis stages run on all 16
// states at once.
OSTREL_AVX2_CLONES
SoftDecoded hamming_15_11_decode_soft(std::uint16_t hard, std::span<const float, 15> reliability) {
    hard &= 0x7FFFu;
    unsigned syndrome = 0;
    for (unsigned j = 0; j < 15; ++j) {
        if ((hard >> j) & 1u) syndrome ^= HAMMING_COLUMNS[j];
    }
    // Viterbi over the syndrome trellis: state = syndrome of the error bits chosen so far; the
    // cheapest path from state 0 to the received syndrome is the most likely error pattern.
    constexpr float NONE = std::numeric_limits<float>::infinity();
    Trellis cost{{0.0f, NONE, NONE, NONE, NONE, NONE, NONE, NONE}, {NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE}};
    std::array<Flipped, 15> flipped_into;  // per stage: the states reached by flipping bit j
    hamming_stages(cost, reliability, flipped_into, std::make_index_sequence<15>{});
    std::uint16_t pattern = 0;
    unsigned state = syndrome;
    for (unsigned j = 15; j-- > 0;) {
        const StateMask& half = state < 8 ? flipped_into[j].low : flipped_into[j].high;
        if (half[state & 7u] != 0) {
            pattern |= static_cast<std::uint16_t>(1u << j);
            state ^= HAMMING_COLUMNS[j];
        }
    }
    return decided(static_cast<std::uint16_t>(((hard ^ pattern) >> 4) & 0x7FFu), pattern, 1, reliability);
}

// Within the hard decoder's reach the weighted distance; beyond it, or in a frame with a word
// beyond it, the flips as the hard decoder would count them.
std::uint8_t golay_23_12_count(const SoftDecoded& decoded, bool bad_frame) {
    if (decoded.flips > 3) return 3;
    return bad_frame ? decoded.flips : std::min<std::uint8_t>(decoded.counted, 3);
}

std::uint8_t golay_24_12_count(const SoftDecoded& decoded, bool bad_frame) {
    if (decoded.flips > 3) return decoded.confident ? 3 : fec::GOLAY_24_12_UNCORRECTABLE;
    return bad_frame ? decoded.flips : std::min<std::uint8_t>(decoded.counted, 3);
}

std::uint8_t hamming_15_11_count(const SoftDecoded& decoded, bool bad_frame) {
    if (decoded.flips > 1) return 1;
    return bad_frame ? decoded.flips : std::min<std::uint8_t>(decoded.counted, 1);
}

}  // namespace ostrel_mbe::soft_fec
