// SPDX-License-Identifier: GPL-2.0-or-later
// Wire rates, frame geometry and the byte layouts of the four P25 vocoder rates.
// FEC rates carry two-bit symbols four per byte, first symbol in the top bits; the no-FEC
// rates carry the information vectors packed most significant bit first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel_mbe {

enum class Rate : std::uint8_t {
    Imbe7200x4400 = 0,
    Imbe4400x4400 = 1,
    AmbePlus2_3600x2450 = 2,
    AmbePlus2_2450x2450 = 3,
};

inline constexpr std::size_t FRAME_SAMPLES = 160;
inline constexpr std::array<std::size_t, 4> WIRE_BYTES = {18, 11, 9, 7};

inline constexpr std::size_t wire_bytes(Rate rate) { return WIRE_BYTES[static_cast<std::size_t>(rate)]; }
inline constexpr bool is_imbe(Rate rate) { return static_cast<std::uint8_t>(rate) <= 1; }
inline constexpr bool has_fec(Rate rate) { return rate == Rate::Imbe7200x4400 || rate == Rate::AmbePlus2_3600x2450; }

std::string_view debug_name(Rate rate);

namespace wire_bytes_layout {

inline constexpr std::size_t IMBE_SYMBOLS = 72;
inline constexpr std::size_t AMBE_PLUS2_SYMBOLS = 36;

// Symbols (low two bits of each entry) to bytes, four per byte, first in bits 7..6.
// bytes.size() must be symbols.size() / 4.
void pack_symbols(std::span<const std::uint8_t> symbols, std::span<std::uint8_t> bytes);
void unpack_symbols(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> symbols);

// IMBE 4400 bit/s: u0..u3 of 12 bits, u4..u6 of 11, u7 of 7; 88 bits in 11 bytes.
std::array<std::uint8_t, 11> pack_info_full(const std::array<std::uint16_t, 8>& u);
std::array<std::uint16_t, 8> unpack_info_full(std::span<const std::uint8_t, 11> bytes);

// AMBE+2 2450 bit/s: u0, u1 of 12 bits, u2 of 11, u3 of 14; 49 bits and 7 zero pad bits.
std::array<std::uint8_t, 7> pack_info_half(const std::array<std::uint16_t, 4>& u);
std::array<std::uint16_t, 4> unpack_info_half(std::span<const std::uint8_t, 7> bytes);

}  // namespace wire_bytes_layout
}  // namespace ostrel_mbe
