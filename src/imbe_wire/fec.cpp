// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/fec.h"

namespace ostrel_mbe::imbe_wire::fec {

std::array<std::uint32_t, 8> modulation_masks(std::uint16_t u0) {
    // Widths of m1..m6; each mask takes the next p(n) values, the first in its top bit.
    constexpr std::array<unsigned, 6> WIDTHS = {23, 23, 23, 15, 15, 15};

    std::array<std::uint32_t, 8> masks{};
    std::uint32_t p = 16u * (u0 & 0xFFFu);
    for (unsigned m = 0; m < WIDTHS.size(); ++m) {
        std::uint32_t mask = 0;
        for (unsigned i = 0; i < WIDTHS[m]; ++i) {
            p = (173u * p + 13849u) & 0xFFFFu;
            mask = (mask << 1) | (p >> 15);
        }
        masks[m + 1] = mask;
    }
    return masks;
}

}  // namespace ostrel_mbe::imbe_wire::fec
