// SPDX-License-Identifier: GPL-2.0-or-later
// Intermediate vectors of the IMBE amplitude coder, all 32-bit floats in the log2 domain:
// the six-point gain vector, the six block means, the 6 x 10 block-DCT coefficient matrix and
// per-harmonic values (only the first L entries meaningful).
#pragma once

#include <array>

#include "mbe_params.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// Gain vector G1..G6 at indices 0..5: the six-point DCT of the block means.
using GainVector = std::array<float, 6>;
// Block means R1..R6 at indices 0..5 (the first DCT coefficient of each block).
using BlockResiduals = std::array<float, 6>;
// Block-DCT coefficients C(i,k), block i = 1..6 at row i - 1, coefficient k = 1..10 at
// column k - 1.
using CoefficientMatrix = std::array<std::array<float, 10>, 6>;
// One value per harmonic l = 1..L at index l - 1; entries from L on are zero.
using HarmonicVector = std::array<float, L_HAT_MAX>;

}  // namespace ostrel_mbe::imbe_wire::dequantize
