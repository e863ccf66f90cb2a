// SPDX-License-Identifier: GPL-2.0-or-later
// Soft-decision decoding of the AMBE+2 half-rate frame: 72 soft values, one per wire bit in the
// order of the 9 wire bytes (byte 0 first, most significant bit first), to u0..u3 with error
// counts in the hard decoder's ranges.  c0 (extended Golay) and c1 (Golay, scrambled) by Chase
// decoding; the unprotected c2 and c3 sliced.
#pragma once

#include <cstddef>
#include <span>

#include "ambe_plus2_wire/frame.h"

namespace ostrel_mbe::ambe_plus2_wire::frame {

inline constexpr std::size_t SOFT_BITS = 2 * SYMBOLS;

// Positive means 1; the magnitude is the confidence.  Values must be finite (checked by callers).
DecodedFrame decode_frame_soft(std::span<const float, SOFT_BITS> soft);

}  // namespace ostrel_mbe::ambe_plus2_wire::frame
