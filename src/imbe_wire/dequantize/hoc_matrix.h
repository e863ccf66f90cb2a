// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE higher-order coefficients: the block-DCT coefficients C(i,k), k = 2..J_i, coded on
// uniform quantizers with step Delta(B) x sigma(k), B bits from the allocation for L
// (TIA-102.BABA Annex G, Tables 3 and 4).  Values in the log2 domain.
#pragma once

#include <cstdint>

#include "imbe_wire/dequantize.h"
#include "imbe_wire/dequantize/vectors.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// Six rows of ten: C(i,1) = R(i), and for each allocation entry (i, k, n, B) of L,
// C(i,k) = Delta(min(B,10)) sigma(k) (b_n - 2^(B-1) + 0.5), or 0 when B = 0; all else 0.
CoefficientMatrix assemble_hoc_matrix(const BValues& b, std::uint8_t l, const BlockResiduals& residuals);

// Writes b8..b(L+1): the uniform index of C(i,k) for each allocation entry of L with B > 0,
// 0 for entries with B = 0.
void disassemble_hoc_matrix(const CoefficientMatrix& c, std::uint8_t l, BValues& b);

}  // namespace ostrel_mbe::imbe_wire::dequantize
