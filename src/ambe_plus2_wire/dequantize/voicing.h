// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate voicing: harmonics fall into eight bands of equal width over 0..4000 Hz, and one
// codebook entry (TIA-102.BABA Annex M) gives a voiced/unvoiced flag per band.  encode_vuv
// picks the entry that best matches the per-harmonic decisions.  omega0 in radians per sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>

#include "common/rounding.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

inline constexpr std::size_t VUV_BANDS = 8;

// The band of harmonic l (1-based): floor(16 l omega0 / (2 pi)) limited to 0..7, in 64-bit.
// Inline: the decoder asks for every harmonic of every frame.
inline std::size_t band_of(std::size_t l, double omega0) {
    const double band = common::floor_for_index(16.0 * static_cast<double>(l) * omega0 / (2.0 * std::numbers::pi));
    // Written as "not above" so that a NaN lands in band 0 rather than in an undefined cast.
    if (!(band > 0.0)) return 0;
    if (band >= static_cast<double>(VUV_BANDS - 1)) return VUV_BANDS - 1;
    return static_cast<std::size_t>(band);
}

// b1: each band that received a harmonic is voiced when at least half of its harmonics are
// (a tie counts as voiced); the codebook entry with the fewest disagreements over those bands
// wins, the lowest index on a tie.  voiced holds harmonics 1..L at [0..L-1].
std::uint16_t encode_vuv(std::span<const bool> voiced, double omega0);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
