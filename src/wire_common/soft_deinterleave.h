// SPDX-License-Identifier: GPL-2.0-or-later
// Soft values of a frame's wire bits to its code vectors: the sliced bits of each vector and
// each bit's reliability, through the same interleave table as the hard symbols.  Wire bit 2k
// is symbol k's high bit, 2k + 1 its low bit; a positive value is a 1, its magnitude the
// confidence.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::wire_common::interleave {

template <std::size_t Vectors, std::size_t Width>
struct SoftVectors {
    std::array<std::uint32_t, Vectors> hard{};
    // reliability[v][j]: |soft value| of bit j of code vector v.
    std::array<std::array<float, Width>, Vectors> reliability{};
};

template <std::size_t Vectors, std::size_t Width, class Entry, std::size_t Symbols>
SoftVectors<Vectors, Width> from_soft(std::span<const float, 2 * Symbols> soft,
                                      const std::array<Entry, Symbols>& table) {
    SoftVectors<Vectors, Width> out;
    const auto place = [&](float value, std::size_t vector, std::size_t bit) {
        out.hard[vector] |= static_cast<std::uint32_t>(value > 0.0f) << bit;
        out.reliability[vector][bit] = std::fabs(value);
    };
    for (std::size_t k = 0; k < Symbols; ++k) {
        const Entry& e = table[k];
        place(soft[2 * k], e.high_vector, e.high_bit);
        place(soft[2 * k + 1], e.low_vector, e.low_bit);
    }
    return out;
}

}  // namespace ostrel_mbe::wire_common::interleave
