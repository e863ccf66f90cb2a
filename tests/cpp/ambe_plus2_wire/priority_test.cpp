// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/priority.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace ostrel_mbe::ambe_plus2_wire::priority {
namespace {

constexpr std::array<unsigned, 9> B_WIDTHS = {7, 5, 5, 9, 7, 5, 4, 4, 3};
constexpr std::array<unsigned, 4> U_WIDTHS = {12, 12, 11, 14};

// The half-rate bit order written out value by value, each vector filled from its top bit.
std::vector<std::vector<std::pair<unsigned, unsigned>>> reference_order() {
    return {
        {{0, 6}, {0, 5}, {0, 4}, {0, 3}, {1, 4}, {1, 3}, {1, 2}, {1, 1}, {2, 4}, {2, 3}, {2, 2}, {2, 1}},
        {{3, 8}, {3, 7}, {3, 6}, {3, 5}, {3, 4}, {3, 3}, {3, 2}, {3, 1}, {4, 6}, {4, 5}, {4, 4}, {4, 3}},
        {{5, 4}, {5, 3}, {5, 2}, {5, 1}, {6, 3}, {6, 2}, {6, 1}, {7, 3}, {7, 2}, {7, 1}, {8, 2}},
        {{1, 0}, {2, 0}, {0, 2}, {0, 1}, {0, 0}, {3, 0}, {4, 2}, {4, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 1}, {8, 0}},
    };
}

TEST(AmbePlus2Priority, EveryValueBitLandsWhereTheBitOrderSays) {
    const auto order = reference_order();
    for (std::size_t v = 0; v < order.size(); ++v) {
        ASSERT_EQ(order[v].size(), U_WIDTHS[v]);
        for (std::size_t pos = 0; pos < order[v].size(); ++pos) {
            const auto [value, bit] = order[v][pos];
            std::array<std::uint16_t, 9> b{};
            b[value] = static_cast<std::uint16_t>(1u << bit);
            std::array<std::uint16_t, 4> expected{};
            expected[v] = static_cast<std::uint16_t>(1u << (U_WIDTHS[v] - 1 - pos));
            EXPECT_EQ(prioritize(b), expected) << "b" << value << " bit " << bit;
            EXPECT_EQ(deprioritize(expected), b) << "u" << v << " position " << pos;
        }
    }
}

TEST(AmbePlus2Priority, CoversAll49BitsOnce) {
    std::set<std::pair<unsigned, unsigned>> seen;
    for (const auto& vector : reference_order()) seen.insert(vector.begin(), vector.end());
    unsigned total = 0;
    for (std::size_t i = 0; i < B_WIDTHS.size(); ++i) {
        for (unsigned bit = 0; bit < B_WIDTHS[i]; ++bit) EXPECT_TRUE(seen.count({static_cast<unsigned>(i), bit}));
        total += B_WIDTHS[i];
    }
    EXPECT_EQ(total, 49u);
    EXPECT_EQ(seen.size(), 49u);
}

TEST(AmbePlus2Priority, RandomRoundTripsAndIgnoredHighBits) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 2000; ++trial) {
        std::array<std::uint16_t, 9> b{};
        std::array<std::uint16_t, 9> noisy{};
        for (std::size_t i = 0; i < 9; ++i) {
            b[i] = static_cast<std::uint16_t>(rng() & ((1u << B_WIDTHS[i]) - 1));
            noisy[i] = static_cast<std::uint16_t>(b[i] | (rng() & 0xFFFFu & ~((1u << B_WIDTHS[i]) - 1)));
        }
        const auto u = prioritize(b);
        for (std::size_t v = 0; v < 4; ++v) EXPECT_LT(u[v], 1u << U_WIDTHS[v]);
        EXPECT_EQ(deprioritize(u), b);
        EXPECT_EQ(prioritize(noisy), u);

        std::array<std::uint16_t, 4> w{};
        std::array<std::uint16_t, 4> w_noisy{};
        for (std::size_t v = 0; v < 4; ++v) {
            w[v] = static_cast<std::uint16_t>(rng() & ((1u << U_WIDTHS[v]) - 1));
            w_noisy[v] = static_cast<std::uint16_t>(w[v] | (rng() & 0xFFFFu & ~((1u << U_WIDTHS[v]) - 1)));
        }
        EXPECT_EQ(prioritize(deprioritize(w)), w);
        EXPECT_EQ(deprioritize(w_noisy), deprioritize(w));
    }
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::priority
