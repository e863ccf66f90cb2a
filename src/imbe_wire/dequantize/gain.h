// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE gain vector: the six block means of the log2 prediction residual are coded as their
// six-point DCT G1..G6, G1 on the 64 gain levels (TIA-102.BABA Annex E) and G2..G6 on uniform
// quantizers whose bits and steps depend on L (Annex F).  Values are in the log2 domain.
#pragma once

#include <cstdint>

#include "imbe_wire/dequantize.h"
#include "imbe_wire/dequantize/vectors.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// G1 = gain level of b2; G_m = step x (b(m+1) - 2^(B-1) + 0.5) for m = 2..6 with the (step, B)
// of coefficient m for L.  b2 must be below 64 and L 9..56.
GainVector decode_gain_dct(const BValues& b, std::uint8_t l);

// Writes b2..b7: b2 is the nearest gain level to G1 (the lower index on an exact tie, the end
// levels outside their range, 0 for a NaN), b3..b7 the uniform indices of G2..G6.
void encode_gain_dct(const GainVector& gain, std::uint8_t l, BValues& b);

// Inverse six-point DCT: R(i+1) = G1 T6[0][i] + sum over m = 2..6 of 2 G_m T6[m-1][i].
BlockResiduals gain_to_residuals(const GainVector& gain);

// Forward six-point DCT: G_m = (1/6) sum over i of R(i+1) T6[m-1][i].
GainVector residuals_to_gain(const BlockResiduals& residuals);

}  // namespace ostrel_mbe::imbe_wire::dequantize
