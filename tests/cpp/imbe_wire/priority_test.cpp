// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/priority.h"

#include <gtest/gtest.h>

#include <random>

#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::priority {
namespace {

constexpr std::array<unsigned, 8> VECTOR_WIDTHS = {12, 12, 12, 12, 11, 11, 11, 7};

// Widths of b0..b(L+2) from the bit allocation tables (the table contents themselves are
// checked against the importance rule with the generated tables).
std::array<unsigned, 59> value_widths(unsigned l) {
    std::array<unsigned, 59> w{};
    w[0] = 8;
    w[1] = l <= 36 ? (l + 2) / 3 : 12;
    w[2] = 6;
    for (unsigned m = 0; m < 5; ++m) w[3 + m] = tables::GAIN_QUANTIZERS[l - 9][m].bits;
    const auto range = tables::HOC_ALLOCATION_RANGE[l - 9];
    for (unsigned e = 0; e < range.count; ++e) {
        const auto& entry = tables::HOC_ALLOCATION[range.start + e];
        w[entry.value_index] = entry.bits;
    }
    w[l + 2] = 1;
    return w;
}

class ImbePriorityEveryL : public ::testing::TestWithParam<unsigned> {};

TEST_P(ImbePriorityEveryL, PrioritizeAndDeprioritizeAreInverses) {
    const unsigned l = GetParam();
    const unsigned seed = 1000 + l;
    std::mt19937 rng(seed);
    const auto w = value_widths(l);
    for (int trial = 0; trial < 50; ++trial) {
        BValues b{};
        for (unsigned n = 0; n <= l + 2; ++n) b[n] = static_cast<std::uint16_t>(rng() & ((1u << w[n]) - 1u));
        EXPECT_EQ(deprioritize(prioritize(b, static_cast<std::uint8_t>(l)), static_cast<std::uint8_t>(l)), b)
            << "L=" << l << " seed " << seed;

        InfoVectors u{};
        for (unsigned v = 0; v < 8; ++v) u[v] = static_cast<std::uint16_t>(rng() & ((1u << VECTOR_WIDTHS[v]) - 1u));
        EXPECT_EQ(prioritize(deprioritize(u, static_cast<std::uint8_t>(l)), static_cast<std::uint8_t>(l)), u)
            << "L=" << l << " seed " << seed;
    }
}

TEST_P(ImbePriorityEveryL, PitchIndexReadableWithoutKnowingL) {
    const unsigned l = GetParam();
    std::mt19937 rng(2000 + l);
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        BValues b{};
        for (auto& v : b) v = static_cast<std::uint16_t>(rng());  // bits beyond the widths are ignored
        b[0] = static_cast<std::uint16_t>(b0);
        EXPECT_EQ(pitch_index(prioritize(b, static_cast<std::uint8_t>(l))), b0) << "L=" << l;
    }
}

TEST_P(ImbePriorityEveryL, BitsBeyondWidthsAreIgnored) {
    const unsigned l = GetParam();
    const auto w = value_widths(l);
    BValues all_ones{};
    BValues masked{};
    for (unsigned n = 0; n < 59; ++n) {
        all_ones[n] = 0xFFFF;
        masked[n] = static_cast<std::uint16_t>(n <= l + 2 ? (1u << w[n]) - 1u : 0u);
    }
    const auto u = prioritize(all_ones, static_cast<std::uint8_t>(l));
    EXPECT_EQ(u, prioritize(masked, static_cast<std::uint8_t>(l)));
    for (unsigned v = 0; v < 8; ++v) EXPECT_EQ(u[v], (1u << VECTOR_WIDTHS[v]) - 1u) << "every vector bit is used";
    EXPECT_EQ(deprioritize(u, static_cast<std::uint8_t>(l)), masked);
}

INSTANTIATE_TEST_SUITE_P(AllHarmonicCounts, ImbePriorityEveryL, ::testing::Range(9u, 57u));

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::priority
