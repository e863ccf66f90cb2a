// SPDX-License-Identifier: GPL-2.0-or-later
// A frame's two-bit symbols in their wire bytes and back, four symbols per byte with the first
// in the top bits, for either frame format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "rate.h"

namespace ostrel_mbe::wire_common {

template <std::size_t Symbols>
std::array<std::uint8_t, Symbols / 4> symbols_to_bytes(const std::array<std::uint8_t, Symbols>& symbols) {
    std::array<std::uint8_t, Symbols / 4> bytes{};
    wire_bytes_layout::pack_symbols(symbols, bytes);
    return bytes;
}

template <std::size_t Symbols>
std::array<std::uint8_t, Symbols> bytes_to_symbols(std::span<const std::uint8_t, Symbols / 4> bytes) {
    std::array<std::uint8_t, Symbols> symbols{};
    wire_bytes_layout::unpack_symbols(bytes, symbols);
    return symbols;
}

}  // namespace ostrel_mbe::wire_common
