// SPDX-License-Identifier: GPL-2.0-or-later
// AMBE+2 half-rate frame coder (TIA-102.BABA): information vectors u0..u3 (49 bits) to code
// vectors c0..c3 (72 bits; c0 extended Golay (24,12), c1 Golay (23,12) scrambled by a mask
// seeded from u0, c2 and c3 unprotected), interleaved into 36 two-bit symbols (Annex S).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::frame {

inline constexpr std::size_t SYMBOLS = 36;
inline constexpr std::size_t WIRE_BYTES = 9;

// Widths of u0..u3 (12, 12, 11, 14) and of c0..c3 (24, 23, 11, 14).
inline constexpr std::array<unsigned, 4> INFO_WIDTHS = {12, 12, 11, 14};
inline constexpr std::array<unsigned, 4> CODE_WIDTHS = {24, 23, 11, 14};

struct DecodedFrame {
    std::array<std::uint16_t, 4> u{};
    // errors[0]: extended Golay count of c0, 0..4, or fec::GOLAY_24_12_UNCORRECTABLE (255);
    // errors[1]: Golay count of c1, 0..3; errors[2] and errors[3] are always 0.
    std::array<std::uint8_t, 4> errors{};

    friend bool operator==(const DecodedFrame&, const DecodedFrame&) = default;
};

// Scrambling masks of c0..c3 for the low 12 bits of u0; only the second (23 bits) is non-zero.
std::array<std::uint32_t, 4> modulation_masks(std::uint16_t u0);

// Symbols (one per byte, 0..3) of u0..u3; bits above each vector's width are ignored.
std::array<std::uint8_t, SYMBOLS> encode_frame(const std::array<std::uint16_t, 4>& u);
// Corrects and descrambles; only the low two bits of each symbol byte are read.
DecodedFrame decode_frame(std::span<const std::uint8_t, SYMBOLS> symbols);

// The same frame in its 9-byte wire form, four symbols per byte, first in the top bits.
std::array<std::uint8_t, WIRE_BYTES> encode_frame_bytes(const std::array<std::uint16_t, 4>& u);
DecodedFrame decode_frame_bytes(std::span<const std::uint8_t, WIRE_BYTES> bytes);

// The code vectors c0..c3 of u0..u3 before interleaving.
std::array<std::uint32_t, 4> code_vectors(const std::array<std::uint16_t, 4>& u);

}  // namespace ostrel_mbe::ambe_plus2_wire::frame
