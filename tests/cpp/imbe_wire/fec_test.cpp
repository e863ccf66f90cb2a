// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/fec.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace ostrel_mbe::imbe_wire::fec {
namespace {

// The whole pseudo-noise sequence p(0)..p(114) for a seed.
std::vector<std::uint32_t> sequence(std::uint16_t u0) {
    std::vector<std::uint32_t> p{16u * u0};
    while (p.size() < 115) p.push_back((173u * p.back() + 13849u) % 65536u);
    return p;
}

TEST(ImbeModulationMasks, ZeroSeedStartsWithAZeroBit) {
    // p(0) = 0, p(1) = 13849 < 32768: bit 22 of m1 is 0.
    const auto m = modulation_masks(0);
    EXPECT_EQ((m[1] >> 22) & 1u, 0u);
    EXPECT_NE(m[1], 0u);
}

TEST(ImbeModulationMasks, EachMaskTakesItsRunOfTheSequenceTopBitFirst) {
    const std::array<unsigned, 8> widths = {0, 23, 23, 23, 15, 15, 15, 0};
    for (std::uint32_t u0 = 0; u0 < 4096; ++u0) {
        const auto p = sequence(static_cast<std::uint16_t>(u0));
        const auto m = modulation_masks(static_cast<std::uint16_t>(u0));
        EXPECT_EQ(m[0], 0u);
        EXPECT_EQ(m[7], 0u);
        std::size_t n = 1;
        for (std::size_t v = 1; v < 7; ++v) {
            ASSERT_EQ(m[v] >> widths[v], 0u) << "u0 " << u0 << " m" << v;
            for (unsigned bit = widths[v]; bit-- > 0; ++n) {
                ASSERT_EQ((m[v] >> bit) & 1u, p[n] >> 15) << "u0 " << u0 << " m" << v << " bit " << bit;
            }
        }
        EXPECT_EQ(n, 115u);
    }
}

TEST(ImbeModulationMasks, OnlyTheTwelveBitsOfU0Count) {
    std::set<std::array<std::uint32_t, 8>> distinct;
    for (std::uint32_t u0 = 0; u0 < 4096; ++u0) {
        const auto m = modulation_masks(static_cast<std::uint16_t>(u0));
        ASSERT_EQ(modulation_masks(static_cast<std::uint16_t>(u0 | 0xF000u)), m) << "u0 " << u0;
        distinct.insert(m);
    }
    // Every u0 scrambles differently, so a wrong u0 never descrambles c1..c6 correctly.
    EXPECT_EQ(distinct.size(), 4096u);
}

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::fec
