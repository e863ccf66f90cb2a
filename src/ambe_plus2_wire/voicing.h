// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate voicing: harmonics fall into eight bands of equal width over 0..4000 Hz, and one
// codebook entry (TIA-102.BABA Annex M) gives a voiced/unvoiced flag per band.  encode_vuv
// picks the entry that best matches the per-harmonic decisions.  omega0 in radians per sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

inline constexpr std::size_t VUV_BANDS = 8;

// The band of harmonic l (1-based): floor(16 l omega0 / (2 pi)) limited to 0..7, in 64-bit.
std::size_t band_of(std::size_t l, double omega0);

// b1: each band that received a harmonic is voiced when at least half of its harmonics are
// (a tie counts as voiced); the codebook entry with the fewest disagreements over those bands
// wins, the lowest index on a tie.  voiced holds harmonics 1..L at [0..L-1].
std::uint16_t encode_vuv(std::span<const bool> voiced, double omega0);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
