// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE full-rate frame coder (TIA-102.BABA): information vectors u0..u7 (88 bits) to Golay
// and Hamming protected, scrambled code vectors c0..c7 (144 bits), interleaved into 72
// two-bit symbols by the standard's interleaving table (Annex H), and back with error counts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::imbe_wire::frame {

inline constexpr std::size_t SYMBOLS = 72;
inline constexpr std::size_t WIRE_BYTES = 18;

// Widths of u0..u7 (12, 12, 12, 12, 11, 11, 11, 7) and of c0..c7 (23 x 4, 15 x 3, 7).
inline constexpr std::array<unsigned, 8> INFO_WIDTHS = {12, 12, 12, 12, 11, 11, 11, 7};
inline constexpr std::array<unsigned, 8> CODE_WIDTHS = {23, 23, 23, 23, 15, 15, 15, 7};

struct DecodedFrame {
    std::array<std::uint16_t, 8> u{};
    // Bit errors corrected in c0..c7: 0..3 for the Golay vectors, 0..1 for the Hamming
    // vectors, always 0 for the unprotected c7.
    std::array<std::uint8_t, 8> errors{};

    friend bool operator==(const DecodedFrame&, const DecodedFrame&) = default;
};

// Symbols (one per byte, 0..3) of u0..u7; bits above each vector's width are ignored.
std::array<std::uint8_t, SYMBOLS> encode_frame(const std::array<std::uint16_t, 8>& u);
// Corrects and descrambles; only the low two bits of each symbol byte are read.
DecodedFrame decode_frame(std::span<const std::uint8_t, SYMBOLS> symbols);

// The same frame in its 18-byte wire form, four symbols per byte, first in the top bits.
std::array<std::uint8_t, WIRE_BYTES> encode_frame_bytes(const std::array<std::uint16_t, 8>& u);
DecodedFrame decode_frame_bytes(std::span<const std::uint8_t, WIRE_BYTES> bytes);

// The code vectors c0..c7 of u0..u7 before interleaving (Golay/Hamming coded, scrambled).
std::array<std::uint32_t, 8> code_vectors(const std::array<std::uint16_t, 8>& u);

}  // namespace ostrel_mbe::imbe_wire::frame
