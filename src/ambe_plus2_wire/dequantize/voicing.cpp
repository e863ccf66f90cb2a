// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/voicing.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "common/built_once.h"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

namespace {

// Each codebook entry's voiced bands as bits (band b at bit b), so that an entry's disagreements
// with a decision are one exclusive or and a population count.
std::array<std::uint8_t, tables::VUV_CODEBOOK.size()> build_vuv_masks() {
    std::array<std::uint8_t, tables::VUV_CODEBOOK.size()> masks{};
    for (std::size_t entry = 0; entry < masks.size(); ++entry) {
        for (std::size_t band = 0; band < VUV_BANDS; ++band) {
            if (tables::VUV_CODEBOOK[entry][band]) {
                masks[entry] = static_cast<std::uint8_t>(masks[entry] | (1u << band));
            }
        }
    }
    return masks;
}

// Set bits of every byte: std::popcount is a library call where the baseline instruction set
// has no population count instruction.
constexpr auto BYTE_POPCOUNT = [] {
    std::array<std::uint8_t, 256> out{};
    for (unsigned v = 0; v < out.size(); ++v) out[v] = static_cast<std::uint8_t>(std::popcount(v));
    return out;
}();

}  // namespace

std::uint16_t encode_vuv(std::span<const bool> voiced, double omega0) {
    static_assert(VUV_BANDS <= 8, "a band mask fits a byte");
    std::array<int, VUV_BANDS> score{};
    unsigned used = 0;
    for (std::size_t l = 1; l <= voiced.size(); ++l) {
        const std::size_t band = band_of(l, omega0);
        score[band] += voiced[l - 1] ? 1 : -1;
        used |= 1u << band;
    }
    unsigned decided = 0;
    for (std::size_t band = 0; band < VUV_BANDS; ++band) {
        if (score[band] >= 0) decided |= 1u << band;
    }
    const auto& masks = common::built_once<build_vuv_masks>();
    std::size_t best = 0;
    int best_errors = -1;
    for (std::size_t entry = 0; entry < masks.size(); ++entry) {
        const int errors = BYTE_POPCOUNT[(masks[entry] ^ decided) & used & 0xFFu];
        if (best_errors < 0 || errors < best_errors) {
            best = entry;
            best_errors = errors;
        }
    }
    return static_cast<std::uint16_t>(best);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize

