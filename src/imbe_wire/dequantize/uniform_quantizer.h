// SPDX-License-Identifier: GPL-2.0-or-later
// Uniform scalar quantizer shared by the gain coefficients and the higher-order block-DCT
// coefficients of the IMBE coder: B-bit indices centred on zero, level = step x (b - 2^(B-1)
// + 0.5).  Step sizes come from TIA-102.BABA Tables 3 and 4 via the generated tables.
#pragma once

#include <cmath>
#include <cstdint>

#include "common/check.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// The reconstruction level of index b for a B-bit quantizer with the given step (B = 1..16).
inline float uniform_level(std::uint16_t index, unsigned bits, float step) {
    OSTREL_CHECK(bits >= 1 && bits <= 16, "uniform quantizer has 1 to 16 bits");
    const float offset = static_cast<float>(1u << (bits - 1));
    return step * (static_cast<float>(index) - offset + 0.5f);
}

// The B-bit index of value x / step: round(x / step + 2^(B-1) - 0.5) with halves away from
// zero, clamped to 0..2^B - 1.  A NaN gives 0; infinities clamp like any other value.
inline std::uint16_t uniform_index(float x, unsigned bits, float step) {
    OSTREL_CHECK(bits >= 1 && bits <= 16, "uniform quantizer has 1 to 16 bits");
    const float offset = static_cast<float>(1u << (bits - 1));
    const float top = static_cast<float>((1u << bits) - 1u);
    const float r = std::round(x / step + offset - 0.5f);
    if (!(r > 0.0f)) return 0;  // also catches NaN
    if (r >= top) return static_cast<std::uint16_t>(top);
    return static_cast<std::uint16_t>(r);
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
