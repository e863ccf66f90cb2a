// SPDX-License-Identifier: GPL-2.0-or-later
// Dibit interleaving shared by both frame formats: each symbol carries one bit of a code
// vector in its high bit and one in its low bit, as the standard's interleave table lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::common::interleave {

// Table entries have high_vector, high_bit, low_vector, low_bit members.
template <std::size_t Vectors, class Entry, std::size_t Symbols>
std::array<std::uint8_t, Symbols> to_symbols(const std::array<std::uint32_t, Vectors>& c,
                                             const std::array<Entry, Symbols>& table) {
    std::array<std::uint8_t, Symbols> symbols{};
    for (std::size_t k = 0; k < Symbols; ++k) {
        const Entry& e = table[k];
        const unsigned high = (c[e.high_vector] >> e.high_bit) & 1u;
        const unsigned low = (c[e.low_vector] >> e.low_bit) & 1u;
        symbols[k] = static_cast<std::uint8_t>((high << 1) | low);
    }
    return symbols;
}

// Only the low two bits of each symbol byte are read.
template <std::size_t Vectors, class Entry, std::size_t Symbols>
std::array<std::uint32_t, Vectors> from_symbols(std::span<const std::uint8_t, Symbols> symbols,
                                                const std::array<Entry, Symbols>& table) {
    std::array<std::uint32_t, Vectors> c{};
    for (std::size_t k = 0; k < Symbols; ++k) {
        const Entry& e = table[k];
        c[e.high_vector] |= static_cast<std::uint32_t>((symbols[k] >> 1) & 1u) << e.high_bit;
        c[e.low_vector] |= static_cast<std::uint32_t>(symbols[k] & 1u) << e.low_bit;
    }
    return c;
}

}  // namespace ostrel_mbe::common::interleave
