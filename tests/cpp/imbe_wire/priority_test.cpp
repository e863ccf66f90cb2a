#include "imbe_wire/priority.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::priority {
namespace {

constexpr std::array<unsigned, 8> VECTOR_WIDTHS = {12, 12, 12, 12, 11, 11, 11, 7};

// Widths of b0..b(L+2) from the bit allocation tables, independent of the priority table.
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

// The importance order written out from its rule: pitch and gain high bits, the first 39
// bits of the amplitude bit-plane scan, voicing, the middle gain bits, the rest of the scan,
// then the low gain and pitch bits and the toggle bit.
std::vector<std::pair<unsigned, unsigned>> importance_order(unsigned l) {
    const auto w = value_widths(l);
    std::vector<std::pair<unsigned, unsigned>> scan;
    for (int p = 15; p >= 0; --p) {
        for (unsigned n = 3; n <= l + 1; ++n) {
            if (w[n] > static_cast<unsigned>(p)) scan.emplace_back(n, static_cast<unsigned>(p));
        }
    }
    std::vector<std::pair<unsigned, unsigned>> order;
    for (unsigned bit = 7; bit >= 2; --bit) order.emplace_back(0, bit);
    for (unsigned bit : {5u, 4u, 3u}) order.emplace_back(2, bit);
    for (std::size_t i = 0; i < 39; ++i) order.push_back(scan[i]);
    for (int bit = static_cast<int>(w[1]) - 1; bit >= 0; --bit) order.emplace_back(1, static_cast<unsigned>(bit));
    order.emplace_back(2, 2);
    order.emplace_back(2, 1);
    for (std::size_t i = 39; i < scan.size(); ++i) order.push_back(scan[i]);
    order.emplace_back(2, 0);
    order.emplace_back(0, 1);
    order.emplace_back(0, 0);
    order.emplace_back(l + 2, 0);
    return order;
}

class ImbePriorityEveryL : public ::testing::TestWithParam<unsigned> {};

TEST_P(ImbePriorityEveryL, TableFollowsImportanceOrder) {
    const unsigned l = GetParam();
    const auto order = importance_order(l);
    ASSERT_EQ(order.size(), 88u) << "value widths for L = " << l << " do not add up to 88";
    const auto& row = tables::PRIORITY[l - 9];
    std::size_t slot = 0;
    for (unsigned v = 0; v < 8; ++v) {
        for (int bit = static_cast<int>(VECTOR_WIDTHS[v]) - 1; bit >= 0; --bit, ++slot) {
            const auto& e = row[slot];
            EXPECT_EQ(e.value, order[slot].first) << "L=" << l << " slot " << slot;
            EXPECT_EQ(e.value_bit, order[slot].second) << "L=" << l << " slot " << slot;
            EXPECT_EQ(e.vector, v) << "L=" << l << " slot " << slot;
            EXPECT_EQ(e.vector_bit, static_cast<unsigned>(bit)) << "L=" << l << " slot " << slot;
        }
    }
}

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

TEST(ImbePriority, NineHarmonicLayout) {
    // u0 and u7 of the L = 9 row as the standard lays them out.
    const std::vector<std::pair<unsigned, unsigned>> u0 = {{0, 7}, {0, 6}, {0, 5}, {0, 4}, {0, 3}, {0, 2},
                                                           {2, 5}, {2, 4}, {2, 3}, {3, 9}, {3, 8}, {4, 8}};
    const std::vector<std::pair<unsigned, unsigned>> u7 = {{8, 0}, {9, 0}, {10, 0}, {2, 0},
                                                           {0, 1}, {0, 0}, {11, 0}};
    for (std::size_t i = 0; i < u0.size(); ++i) {
        BValues b{};
        b[u0[i].first] = static_cast<std::uint16_t>(1u << u0[i].second);
        const auto u = prioritize(b, 9);
        EXPECT_EQ(u[0], 1u << (11 - i)) << "u0 slot " << i;
    }
    for (std::size_t i = 0; i < u7.size(); ++i) {
        BValues b{};
        b[u7[i].first] = static_cast<std::uint16_t>(1u << u7[i].second);
        const auto u = prioritize(b, 9);
        EXPECT_EQ(u[7], 1u << (6 - i)) << "u7 slot " << i;
    }
}

TEST(ImbePriority, VoicingLeadsU4AndToggleEndsU7) {
    for (unsigned l = 9; l <= 56; ++l) {
        const unsigned k = l <= 36 ? (l + 2) / 3 : 12;
        BValues b{};
        b[1] = static_cast<std::uint16_t>((1u << k) - 1u);
        auto u = prioritize(b, static_cast<std::uint8_t>(l));
        // Twelve bands fill u4 and spill one bit into the top of u5.
        const unsigned in_u4 = k < 11 ? k : 11;
        EXPECT_EQ(u[4], ((1u << in_u4) - 1u) << (11 - in_u4)) << "L=" << l;
        EXPECT_EQ(u[5], k > 11 ? 1u << 10 : 0u) << "L=" << l;
        b = {};
        b[l + 2] = 1;
        u = prioritize(b, static_cast<std::uint8_t>(l));
        EXPECT_EQ(u[7], 1u) << "L=" << l;
    }
}

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::priority
