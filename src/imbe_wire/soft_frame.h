// SPDX-License-Identifier: GPL-2.0-or-later
// Soft-decision decoding of the IMBE full-rate frame: 144 soft values, one per wire bit in the
// order of the 18 wire bytes (byte 0 first, most significant bit first), to u0..u7 with error
// counts in the hard decoder's ranges.  c0..c3 by Chase decoding, c4..c6 by trellis, the
// scrambling applied to the sliced bits of c1..c6, c7 sliced.
#pragma once

#include <cstddef>
#include <span>

#include "imbe_wire/frame.h"

namespace ostrel_mbe::imbe_wire::frame {

inline constexpr std::size_t SOFT_BITS = 2 * SYMBOLS;

// Positive means 1; the magnitude is the confidence.  Values must be finite (checked by callers).
DecodedFrame decode_frame_soft(std::span<const float, SOFT_BITS> soft);

}  // namespace ostrel_mbe::imbe_wire::frame
