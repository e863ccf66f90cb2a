// SPDX-License-Identifier: GPL-2.0-or-later
// Bit prioritisation as both frame formats do it: a map of the standard lists, bit by bit, where
// each bit of the quantized values b goes in the information vectors u.  Map entries have
// value, value_bit, vector and vector_bit members.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ostrel_mbe::wire_common::priority {

// b to u: every mapped bit copied from its value into its vector; all other u bits zero.
template <std::size_t Vectors, std::size_t Values, class Map>
std::array<std::uint16_t, Vectors> prioritize(const std::array<std::uint16_t, Values>& b, const Map& map) {
    std::array<std::uint16_t, Vectors> u{};
    for (const auto& e : map) {
        const unsigned bit = (static_cast<unsigned>(b[e.value]) >> e.value_bit) & 1u;
        u[e.vector] = static_cast<std::uint16_t>(u[e.vector] | (bit << e.vector_bit));
    }
    return u;
}

// u to b: every mapped bit copied back into its value; all other b bits zero.
template <std::size_t Values, std::size_t Vectors, class Map>
std::array<std::uint16_t, Values> deprioritize(const std::array<std::uint16_t, Vectors>& u, const Map& map) {
    std::array<std::uint16_t, Values> b{};
    for (const auto& e : map) {
        const unsigned bit = (static_cast<unsigned>(u[e.vector]) >> e.vector_bit) & 1u;
        b[e.value] = static_cast<std::uint16_t>(b[e.value] | (bit << e.value_bit));
    }
    return b;
}

}  // namespace ostrel_mbe::wire_common::priority
