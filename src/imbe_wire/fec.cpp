// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/fec.h"

#include <memory>

#include "common/built_once.h"
#include "imbe_wire/frame.h"
#include "wire_common/scrambler.h"

namespace ostrel_mbe::imbe_wire::fec {
namespace {

constexpr std::size_t SEEDS = 4096;  // the 12 bits of u0

using MaskTable = std::array<std::array<std::uint32_t, 8>, SEEDS>;

// Every seed's masks, stepped together: all 4096 sequences advance one value per pass, so the
// passes are independent lanes the compiler vectorises, and the 128 KiB table takes well under a
// millisecond to build once per process instead of 114 serial steps in every frame.
std::unique_ptr<const MaskTable> build_masks() {
    std::array<std::uint32_t, SEEDS> p{};
    for (std::size_t u = 0; u < SEEDS; ++u) p[u] = wire_common::Scrambler::seed(static_cast<std::uint16_t>(u));
    auto by_mask = std::make_unique<std::array<std::array<std::uint32_t, SEEDS>, 8>>();
    for (std::size_t v = 1; v <= 6; ++v) {
        auto& masks = (*by_mask)[v];
        for (unsigned i = 0; i < frame::CODE_WIDTHS[v]; ++i) {
            for (std::size_t u = 0; u < SEEDS; ++u) {
                p[u] = wire_common::Scrambler::advance(p[u]);
                masks[u] = (masks[u] << 1) | (p[u] >> 15);
            }
        }
    }
    auto table = std::make_unique<MaskTable>();
    for (std::size_t u = 0; u < SEEDS; ++u) {
        for (std::size_t v = 0; v < 8; ++v) (*table)[u][v] = (*by_mask)[v][u];
    }
    return table;
}

}  // namespace

std::array<std::uint32_t, 8> modulation_masks(std::uint16_t u0) {
    return (*common::built_once<build_masks>())[u0 & 0xFFFu];
}

}  // namespace ostrel_mbe::imbe_wire::fec
