// SPDX-License-Identifier: GPL-2.0-or-later
// Dibit interleaving shared by both frame formats: each symbol carries one bit of a code
// vector in its high bit and one in its low bit, as the standard's interleave table lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::wire_common::interleave {

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

// to_symbols packed four to a byte, the first symbol in the top bits (the frame's wire bytes),
// without the symbol array: each byte gathers its eight bits in a register.
template <std::size_t Vectors, class Entry, std::size_t Symbols>
std::array<std::uint8_t, Symbols / 4> to_bytes(const std::array<std::uint32_t, Vectors>& c,
                                               const std::array<Entry, Symbols>& table) {
    static_assert(Symbols % 4 == 0, "whole bytes of four symbols");
    std::array<std::uint8_t, Symbols / 4> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned byte = 0;
        for (std::size_t k = 4 * i; k < 4 * i + 4; ++k) {
            const Entry& e = table[k];
            byte = (byte << 2) | (((c[e.high_vector] >> e.high_bit) & 1u) << 1) | ((c[e.low_vector] >> e.low_bit) & 1u);
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
    }
    return bytes;
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

// For each code vector bit, the wire bit that carries it: the table inverted.  Wire bit 2k is
// symbol k's high bit and 2k + 1 its low bit, wire bits counting from the top bit of the first
// byte (four symbols per byte, the first in the top bits).
template <std::size_t Vectors, class Entry, std::size_t Symbols>
constexpr std::array<std::array<std::uint8_t, 32>, Vectors> wire_bits_of(const std::array<Entry, Symbols>& table) {
    static_assert(2 * Symbols <= 256, "wire bit indices fit a byte");
    std::array<std::array<std::uint8_t, 32>, Vectors> bits{};
    for (std::size_t k = 0; k < Symbols; ++k) {
        bits[table[k].high_vector][table[k].high_bit] = static_cast<std::uint8_t>(2 * k);
        bits[table[k].low_vector][table[k].low_bit] = static_cast<std::uint8_t>(2 * k + 1);
    }
    return bits;
}

// What each half byte of a frame's wire bytes contributes to the code vectors: entry [n][x] has,
// for every vector, the bits that half byte n (n = 2k the top half of byte k) gives it when it
// holds x.  Built from wire_bits_of at compile time.
template <std::size_t Vectors, std::size_t Bytes>
using NibbleGather = std::array<std::array<std::array<std::uint32_t, Vectors>, 16>, 2 * Bytes>;

template <std::size_t Bytes, std::size_t Vectors>
constexpr NibbleGather<Vectors, Bytes> nibble_gather(const std::array<std::array<std::uint8_t, 32>, Vectors>& wire_bits,
                                                     const std::array<unsigned, Vectors>& widths) {
    NibbleGather<Vectors, Bytes> gather{};
    for (std::size_t v = 0; v < Vectors; ++v) {
        for (std::size_t b = 0; b < widths[v]; ++b) {
            const unsigned i = wire_bits[v][b];
            for (unsigned x = 0; x < 16; ++x) {
                if (((x >> (3 - (i & 3))) & 1u) != 0) gather[i >> 2][x][v] |= std::uint32_t{1} << b;
            }
        }
    }
    return gather;
}

// from_symbols of the symbols in the frame's wire bytes, without unpacking them: half a byte at
// a time, one table row ORed into all code vectors (a few instructions per byte instead of
// several per bit).
template <std::size_t Vectors, std::size_t Bytes>
std::array<std::uint32_t, Vectors> from_bytes(std::span<const std::uint8_t, Bytes> bytes,
                                              const NibbleGather<Vectors, Bytes>& gather) {
    std::array<std::uint32_t, Vectors> c{};
    for (std::size_t k = 0; k < Bytes; ++k) {
        const auto& high = gather[2 * k][bytes[k] >> 4];
        const auto& low = gather[2 * k + 1][bytes[k] & 0xFu];
        for (std::size_t v = 0; v < Vectors; ++v) c[v] |= high[v] | low[v];
    }
    return c;
}

}  // namespace ostrel_mbe::wire_common::interleave
