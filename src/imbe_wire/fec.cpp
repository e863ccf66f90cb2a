// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/fec.h"

#include "wire_common/scrambler.h"

namespace ostrel_mbe::imbe_wire::fec {

std::array<std::uint32_t, 8> modulation_masks(std::uint16_t u0) {
    constexpr std::array<unsigned, 6> WIDTHS = {23, 23, 23, 15, 15, 15};  // c1..c6
    wire_common::Scrambler scrambler(u0);
    std::array<std::uint32_t, 8> masks{};
    for (std::size_t m = 0; m < WIDTHS.size(); ++m) masks[m + 1] = scrambler.next_mask(WIDTHS[m]);
    return masks;
}

}  // namespace ostrel_mbe::imbe_wire::fec
