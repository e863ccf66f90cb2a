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

// deprioritize for a fixed map, half a vector at a time: entry [v][n][x] has the bits of b that
// bits 4n..4n+3 of u_v give when they hold x.  Built at compile time.
template <std::size_t Values, std::size_t Vectors>
using NibbleScatter = std::array<std::array<std::array<std::array<std::uint16_t, Values>, 16>, 4>, Vectors>;

template <std::size_t Values, std::size_t Vectors, class Map>
constexpr NibbleScatter<Values, Vectors> nibble_scatter(const Map& map) {
    NibbleScatter<Values, Vectors> scatter{};
    for (const auto& e : map) {
        for (unsigned x = 0; x < 16; ++x) {
            if (((x >> (e.vector_bit % 4)) & 1u) != 0) {
                auto& value = scatter[e.vector][e.vector_bit / 4][x][e.value];
                value = static_cast<std::uint16_t>(value | (1u << e.value_bit));
            }
        }
    }
    return scatter;
}

// The same b as deprioritize with the map the scatter was built from: 4 row reads per vector.
template <std::size_t Values, std::size_t Vectors>
std::array<std::uint16_t, Values> deprioritize(const std::array<std::uint16_t, Vectors>& u,
                                               const NibbleScatter<Values, Vectors>& scatter) {
    std::array<std::uint16_t, Values> b{};
    for (std::size_t v = 0; v < Vectors; ++v) {
        for (std::size_t n = 0; n < 4; ++n) {
            const auto& row = scatter[v][n][(u[v] >> (4 * n)) & 0xFu];
            for (std::size_t k = 0; k < Values; ++k) b[k] = static_cast<std::uint16_t>(b[k] | row[k]);
        }
    }
    return b;
}

// prioritize for a fixed map, half a value at a time: entry [k][n][x] has the bits of u that
// bits 4n..4n+3 of b_k give when they hold x.  Built at compile time.
template <std::size_t Vectors, std::size_t Values>
using NibbleGather = std::array<std::array<std::array<std::array<std::uint16_t, Vectors>, 16>, 4>, Values>;

template <std::size_t Vectors, std::size_t Values, class Map>
constexpr NibbleGather<Vectors, Values> nibble_gather(const Map& map) {
    NibbleGather<Vectors, Values> gather{};
    for (const auto& e : map) {
        for (unsigned x = 0; x < 16; ++x) {
            if (((x >> (e.value_bit % 4)) & 1u) != 0) {
                auto& vector = gather[e.value][e.value_bit / 4][x][e.vector];
                vector = static_cast<std::uint16_t>(vector | (1u << e.vector_bit));
            }
        }
    }
    return gather;
}

// The same u as prioritize with the map the gather was built from: 4 row reads per value.
template <std::size_t Vectors, std::size_t Values>
std::array<std::uint16_t, Vectors> prioritize(const std::array<std::uint16_t, Values>& b,
                                              const NibbleGather<Vectors, Values>& gather) {
    std::array<std::uint16_t, Vectors> u{};
    for (std::size_t k = 0; k < Values; ++k) {
        for (std::size_t n = 0; n < 4; ++n) {
            const auto& row = gather[k][n][(b[k] >> (4 * n)) & 0xFu];
            for (std::size_t v = 0; v < Vectors; ++v) u[v] = static_cast<std::uint16_t>(u[v] | row[v]);
        }
    }
    return u;
}

}  // namespace ostrel_mbe::wire_common::priority
