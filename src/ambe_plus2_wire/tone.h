// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate tone frames: a single or dual tone named by an 8-bit tone index (TIA-102.BABA
// Annex T tone table) with a 7-bit amplitude (0.711 dB steps, 127 = 16384 linear), carried in
// the information vectors u0..u3 in place of speech parameters, and its MbeParams.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "mbe_params.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

// Information vectors u0..u3 (12, 12, 11 and 14 bits, right-aligned).
using InfoVectors = std::array<std::uint16_t, 4>;

struct ToneCode {
    std::uint8_t index = 0;
    std::uint8_t amplitude = 0;  // 0..127
    friend bool operator==(const ToneCode&, const ToneCode&) = default;
};

// The tone frame layout: u0 = six ones and amplitude bits 6..1; u1 = index bits 7..0 then
// 7..4; u2 = index bits 3..0 then 7..1; u3 = index bit 0, index bits 7..0, amplitude bit 0,
// four zeros.  Only the low 7 bits of amplitude are used.
InfoVectors tone_frame_vectors(std::uint8_t index, std::uint8_t amplitude);

// A tone frame has u0 bits 11..6 all ones and u3 bits 3..0 all zero.  Index and amplitude
// are read from u0 and u3 only; the repeated copies of the index are not checked.
std::optional<ToneCode> read_tone_frame(const InfoVectors& u);

// The tone as MbeParams: L = floor(3812.5 / f0) clamped to 9..56, every harmonic unvoiced and
// silent except harmonics l1 and l2 (when in 1..L), voiced at the tone amplitude.  Empty
// when the table entry is empty.
std::optional<MbeParams> tone_to_mbe_params(std::uint8_t index, std::uint8_t amplitude);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
