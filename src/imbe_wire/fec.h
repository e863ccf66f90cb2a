// SPDX-License-Identifier: GPL-2.0-or-later
// Scrambling masks of the IMBE frame (TIA-102.BABA): a pseudo-noise sequence
// seeded by the 12 bits of u0 that whitens code vectors c1..c6.  Masks are right-aligned
// 32-bit words of the code-vector widths (23 bits for c1..c3, 15 for c4..c6); m0 = m7 = 0.
#pragma once

#include <array>
#include <cstdint>

namespace ostrel_mbe::imbe_wire::fec {

// m0..m7 for the low 12 bits of u0.
std::array<std::uint32_t, 8> modulation_masks(std::uint16_t u0);

}  // namespace ostrel_mbe::imbe_wire::fec
