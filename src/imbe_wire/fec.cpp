// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/fec.h"

#include "imbe_wire/frame.h"
#include "wire_common/scrambler.h"

namespace ostrel_mbe::imbe_wire::fec {

std::array<std::uint32_t, 8> modulation_masks(std::uint16_t u0) {
    wire_common::Scrambler scrambler(u0);
    std::array<std::uint32_t, 8> masks{};
    for (std::size_t v = 1; v <= 6; ++v) masks[v] = scrambler.next_mask(frame::CODE_WIDTHS[v]);
    return masks;
}

}  // namespace ostrel_mbe::imbe_wire::fec
