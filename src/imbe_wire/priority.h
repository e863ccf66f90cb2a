// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE bit prioritisation: scatters the quantized values b0..b(L+2) over the information
// vectors u0..u7 in order of importance, and gathers them back.  The bit map for each harmonic
// count L = 9..56 is the standard's (TIA-102.BABA section 7.2), generated into PRIORITY.
#pragma once

#include <cstdint>

#include "imbe_wire/dequantize.h"

namespace ostrel_mbe::imbe_wire::priority {

using dequantize::BValues;
using dequantize::InfoVectors;

// b to u (encoder side): each of the 88 bits of the row for L is copied from its b value
// into its u vector; all other u bits are zero.  L must be 9..56.
InfoVectors prioritize(const BValues& b, std::uint8_t l);

// u to b (decoder side): each of the 88 bits of the row for L is copied back into its b
// value; all other b bits are zero.  L must be 9..56.
BValues deprioritize(const InfoVectors& u, std::uint8_t l);

// The pitch index b0, whose bits sit in the same places for every L: bits 7..2 in u0 bits
// 11..6 and bits 1..0 in u7 bits 2..1.
std::uint8_t pitch_index(const InfoVectors& u);

}  // namespace ostrel_mbe::imbe_wire::priority
