// SPDX-License-Identifier: GPL-2.0-or-later
#include "soft_fec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

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
    for (unsigned mask = 1; mask < CHASE_PATTERNS; ++mask) {
        std::uint32_t flips = 0;
        std::uint16_t s = syndrome;
        for (unsigned b = 0; b < CHASE_BITS; ++b) {
            if ((mask >> b) & 1u) {
                flips |= 1u << positions[b];
                s ^= GOLAY_COLUMN_SYNDROMES[positions[b]];
            }
        }
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
    for (unsigned mask = 1; mask < CHASE_PATTERNS; ++mask) {
        std::uint32_t flips = 0;
        for (unsigned b = 0; b < CHASE_BITS; ++b) {
            if ((mask >> b) & 1u) flips |= 1u << positions[b];
        }
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

SoftDecoded hamming_15_11_decode_soft(std::uint16_t hard, std::span<const float, 15> reliability) {
    hard &= 0x7FFFu;
    unsigned syndrome = 0;
    for (unsigned j = 0; j < 15; ++j) {
        if ((hard >> j) & 1u) syndrome ^= HAMMING_COLUMNS[j];
    }
    // Viterbi over the syndrome trellis: state = syndrome of the error bits chosen so far; the
    // cheapest path from state 0 to the received syndrome is the most likely error pattern.
    constexpr float NONE = std::numeric_limits<float>::infinity();
    std::array<float, 16> cost{};
    cost.fill(NONE);
    cost[0] = 0.0f;
    std::array<std::uint16_t, 15> flipped_into{};  // per stage: states reached by flipping bit j
    for (unsigned j = 0; j < 15; ++j) {
        std::array<float, 16> next{};
        std::uint16_t flipped = 0;
        const unsigned column = HAMMING_COLUMNS[j];
        for (unsigned state = 0; state < 16; ++state) {
            const float keep = cost[state];
            const float flip = cost[state ^ column] + reliability[j];
            // Keeping the bit wins ties, so equal reliabilities pick the fewest flips.
            if (flip < keep) {
                next[state] = flip;
                flipped |= static_cast<std::uint16_t>(1u << state);
            } else {
                next[state] = keep;
            }
        }
        cost = next;
        flipped_into[j] = flipped;
    }
    std::uint16_t pattern = 0;
    unsigned state = syndrome;
    for (unsigned j = 15; j-- > 0;) {
        if ((flipped_into[j] >> state) & 1u) {
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
