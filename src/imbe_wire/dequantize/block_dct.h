// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE block DCT: the L log2 prediction residuals T_1..T_L are split into six consecutive
// blocks of lengths J1..J6 (TIA-102.BABA Annex J) and each block is carried by its DCT
// coefficients C(i,1..J_i).  Log2 domain, 32-bit arithmetic.
#pragma once

#include <cstdint>

#include "imbe_wire/dequantize/vectors.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// For each block i with J = J_i, in order, c_j = C(i,1) T_J[0][j] + sum over k = 2..J of
// 2 C(i,k) T_J[k-1][j], j = 0..J-1; together T_1..T_L.  L must be 9..56.
HarmonicVector inverse_block_dct(const CoefficientMatrix& c, std::uint8_t l);

// Per block, C(i,k) = (1/J) sum over j of c_j T_J[k-1][j] for k = 1..J; other entries 0.
CoefficientMatrix forward_block_dct(const HarmonicVector& residuals, std::uint8_t l);

}  // namespace ostrel_mbe::imbe_wire::dequantize
