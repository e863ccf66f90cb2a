// SPDX-License-Identifier: GPL-2.0-or-later
// Anchors and consistency of the generated IMBE tables: the values quoted for TIA-102.BABA,
// every interleave and prioritisation bit used once, and the bit budget of 88 per frame.
#include "imbe_wire/generated_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

namespace ostrel_mbe::imbe_wire::tables {
namespace {

constexpr unsigned L_MIN = 9;
constexpr unsigned L_MAX = 56;

unsigned band_count(unsigned l) { return l <= 36 ? (l + 2) / 3 : 12; }

// Widths of b0..b(L+2) for L, from the allocation tables.
std::vector<unsigned> value_widths(unsigned l) {
    std::vector<unsigned> w(l + 3, 0);
    w[0] = 8;
    w[1] = band_count(l);
    w[2] = 6;
    for (unsigned m = 0; m < 5; ++m) w[3 + m] = GAIN_QUANTIZERS[l - L_MIN][m].bits;
    const HocRange range = HOC_ALLOCATION_RANGE[l - L_MIN];
    for (unsigned e = range.start; e < range.start + range.count; ++e) {
        w[HOC_ALLOCATION[e].value_index] = HOC_ALLOCATION[e].bits;
    }
    w[l + 2] = 1;
    return w;
}

constexpr std::array<unsigned, 8> INFO_WIDTHS = {12, 12, 12, 12, 11, 11, 11, 7};
constexpr std::array<unsigned, 8> CODE_WIDTHS = {23, 23, 23, 23, 15, 15, 15, 7};

TEST(ImbeTables, GainLevelsRiseBetweenTheQuotedEndpoints) {
    EXPECT_FLOAT_EQ(GAIN_LEVELS.front(), -2.842205f);
    EXPECT_FLOAT_EQ(GAIN_LEVELS.back(), 8.695827f);
    EXPECT_TRUE(std::is_sorted(GAIN_LEVELS.begin(), GAIN_LEVELS.end(), std::less_equal<>()));
}

TEST(ImbeTables, StepSizesAndDeviations) {
    EXPECT_FLOAT_EQ(STEP_SIZE[0], 1.2f);   // one bit
    EXPECT_FLOAT_EQ(STEP_SIZE[9], 0.01f);  // ten bits
    EXPECT_TRUE(std::is_sorted(STEP_SIZE.rbegin(), STEP_SIZE.rend(), std::less_equal<>()));
    EXPECT_FLOAT_EQ(HOC_SIGMA[0], 0.307f);  // k = 2
    for (float s : HOC_SIGMA) EXPECT_GT(s, 0.0f);
}

TEST(ImbeTables, GainQuantizerStepIsStepSizeTimesDeviation) {
    const std::array<float, 5> sigma = {0.31f, 0.201f, 0.168f, 0.145f, 0.132f};
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        for (unsigned m = 0; m < 5; ++m) {
            const GainQuantizer& q = GAIN_QUANTIZERS[l - L_MIN][m];
            ASSERT_GE(q.bits, 1) << "L " << l << " coefficient " << m + 2;
            ASSERT_LE(q.bits, 10) << "L " << l << " coefficient " << m + 2;
            EXPECT_NEAR(q.step, STEP_SIZE[q.bits - 1] * sigma[m], 1e-6f) << "L " << l << " coefficient " << m + 2;
        }
    }
}

TEST(ImbeTables, BlockLengthsSplitLAsEvenlyAsPossible) {
    EXPECT_EQ(BLOCK_LENGTHS[9 - L_MIN], (std::array<std::uint8_t, 6>{1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(BLOCK_LENGTHS[30 - L_MIN], (std::array<std::uint8_t, 6>{5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(BLOCK_LENGTHS[56 - L_MIN], (std::array<std::uint8_t, 6>{9, 9, 9, 9, 10, 10}));
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        const auto& j = BLOCK_LENGTHS[l - L_MIN];
        EXPECT_EQ(std::accumulate(j.begin(), j.end(), 0u), l) << "L " << l;
        EXPECT_TRUE(std::is_sorted(j.begin(), j.end())) << "L " << l;
        EXPECT_LE(j.back() - j.front(), 1) << "L " << l;
    }
}

TEST(ImbeTables, HocAllocationCoversEachBlocksCoefficientsInValueOrder) {
    std::size_t next = 0;
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        const HocRange range = HOC_ALLOCATION_RANGE[l - L_MIN];
        ASSERT_EQ(range.start, next) << "L " << l;
        ASSERT_EQ(range.count, l - 6) << "L " << l;
        next += range.count;
        std::array<std::vector<unsigned>, 6> coefficients;
        for (unsigned e = 0; e < range.count; ++e) {
            const HocAllocation& a = HOC_ALLOCATION[range.start + e];
            ASSERT_EQ(a.value_index, 8 + e) << "L " << l;
            ASSERT_GE(a.block, 1);
            ASSERT_LE(a.block, 6);
            ASSERT_LE(a.bits, 10);
            coefficients[a.block - 1].push_back(a.coefficient);
        }
        // Block i carries DCT coefficients 2..J_i.
        for (unsigned i = 0; i < 6; ++i) {
            std::vector<unsigned> want(BLOCK_LENGTHS[l - L_MIN][i] - 1u);
            std::iota(want.begin(), want.end(), 2u);
            EXPECT_EQ(coefficients[i], want) << "L " << l << " block " << i + 1;
        }
    }
    EXPECT_EQ(next, HOC_ALLOCATION.size());
}

TEST(ImbeTables, EveryFrameSpendsExactly88Bits) {
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        const auto w = value_widths(l);
        EXPECT_EQ(std::accumulate(w.begin(), w.end(), 0u), 88u) << "L " << l;
    }
}

TEST(ImbeTables, InterleaveAnchorsAndEveryCodeBitOnce) {
    const auto row = [](std::size_t k) {
        const InterleaveEntry& e = INTERLEAVE[k];
        return std::array<unsigned, 4>{e.high_vector, e.high_bit, e.low_vector, e.low_bit};
    };
    EXPECT_EQ(row(0), (std::array<unsigned, 4>{0, 22, 1, 21}));
    EXPECT_EQ(row(1), (std::array<unsigned, 4>{2, 20, 3, 19}));
    EXPECT_EQ(row(2), (std::array<unsigned, 4>{4, 10, 5, 1}));
    EXPECT_EQ(row(3), (std::array<unsigned, 4>{1, 20, 0, 21}));
    EXPECT_EQ(row(71), (std::array<unsigned, 4>{7, 0, 5, 2}));
    std::set<std::pair<unsigned, unsigned>> seen;
    for (const InterleaveEntry& e : INTERLEAVE) {
        for (auto [v, b] : {std::pair<unsigned, unsigned>{e.high_vector, e.high_bit}, {e.low_vector, e.low_bit}}) {
            ASSERT_LT(v, 8u);
            ASSERT_LT(b, CODE_WIDTHS[v]) << "c" << v;
            EXPECT_TRUE(seen.insert({v, b}).second) << "c" << v << " bit " << b << " used twice";
        }
    }
    EXPECT_EQ(seen.size(), 144u);
}

TEST(ImbeTables, PriorityPlacesEveryBitOnceOnBothSides) {
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        const auto w = value_widths(l);
        std::set<std::pair<unsigned, unsigned>> sources, destinations;
        for (const PriorityEntry& e : PRIORITY[l - L_MIN]) {
            ASSERT_LT(e.value, w.size()) << "L " << l;
            ASSERT_LT(e.value_bit, w[e.value]) << "L " << l << " b" << int(e.value);
            ASSERT_LT(e.vector, 8) << "L " << l;
            ASSERT_LT(e.vector_bit, INFO_WIDTHS[e.vector]) << "L " << l << " u" << int(e.vector);
            EXPECT_TRUE(sources.insert({e.value, e.value_bit}).second) << "L " << l;
            EXPECT_TRUE(destinations.insert({e.vector, e.vector_bit}).second) << "L " << l;
        }
        EXPECT_EQ(sources.size(), 88u) << "L " << l;
        EXPECT_EQ(destinations.size(), 88u) << "L " << l;
    }
}

// The importance order of the standard, rebuilt from the bit widths alone.
std::vector<std::pair<unsigned, unsigned>> priority_order(unsigned l) {
    const auto w = value_widths(l);
    std::vector<std::pair<unsigned, unsigned>> scan;
    const unsigned widest = *std::max_element(w.begin() + 3, w.begin() + l + 2);
    for (unsigned p = widest; p-- > 0;) {
        for (unsigned n = 3; n <= l + 1; ++n) {
            if (w[n] > p) scan.emplace_back(n, p);
        }
    }
    std::vector<std::pair<unsigned, unsigned>> order;
    for (unsigned b = 8; b-- > 2;) order.emplace_back(0, b);
    for (unsigned b : {5u, 4u, 3u}) order.emplace_back(2, b);
    order.insert(order.end(), scan.begin(), scan.begin() + 39);
    for (unsigned b = w[1]; b-- > 0;) order.emplace_back(1, b);
    for (unsigned b : {2u, 1u}) order.emplace_back(2, b);
    order.insert(order.end(), scan.begin() + 39, scan.end());
    order.emplace_back(2, 0);
    order.emplace_back(0, 1);
    order.emplace_back(0, 0);
    order.emplace_back(l + 2, 0);
    return order;
}

TEST(ImbeTables, PriorityFollowsTheImportanceScanForEveryL) {
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        const auto order = priority_order(l);
        ASSERT_EQ(order.size(), 88u) << "L " << l;
        std::size_t i = 0;
        for (unsigned v = 0; v < 8; ++v) {
            for (unsigned bit = INFO_WIDTHS[v]; bit-- > 0; ++i) {
                const PriorityEntry& e = PRIORITY[l - L_MIN][i];
                ASSERT_EQ(std::make_pair(unsigned{e.value}, unsigned{e.value_bit}), order[i])
                    << "L " << l << " entry " << i;
                ASSERT_EQ(std::make_pair(unsigned{e.vector}, unsigned{e.vector_bit}), std::make_pair(v, bit))
                    << "L " << l << " entry " << i;
            }
        }
    }
}

TEST(ImbeTables, PriorityExampleForNineHarmonics) {
    const auto& t = PRIORITY[0];
    // u0: b0 bits 7..2, b2 bits 5..3, b3 bit 9, b3 bit 8, b4 bit 8.
    const std::vector<std::pair<unsigned, unsigned>> u0 = {{0, 7}, {0, 6}, {0, 5}, {0, 4}, {0, 3}, {0, 2},
                                                           {2, 5}, {2, 4}, {2, 3}, {3, 9}, {3, 8}, {4, 8}};
    // u7: b8 bit 0, b9 bit 0, b10 bit 0, b2 bit 0, b0 bit 1, b0 bit 0, b11 bit 0.
    const std::vector<std::pair<unsigned, unsigned>> u7 = {{8, 0}, {9, 0}, {10, 0}, {2, 0},
                                                           {0, 1}, {0, 0}, {11, 0}};
    std::vector<std::pair<unsigned, unsigned>> got_u0, got_u7;
    for (const PriorityEntry& e : t) {
        if (e.vector == 0) got_u0.emplace_back(e.value, e.value_bit);
        if (e.vector == 7) got_u7.emplace_back(e.value, e.value_bit);
    }
    EXPECT_EQ(got_u0, u0);
    EXPECT_EQ(got_u7, u7);
}

TEST(ImbeTables, PitchVoicingAndToggleBitsSitInFixedPlaces) {
    for (unsigned l = L_MIN; l <= L_MAX; ++l) {
        for (const PriorityEntry& e : PRIORITY[l - L_MIN]) {
            if (e.value == 0 && e.value_bit >= 2) {
                EXPECT_EQ(e.vector, 0) << "L " << l;
                EXPECT_EQ(e.vector_bit, e.value_bit + 4) << "L " << l;
            } else if (e.value == 0) {
                EXPECT_EQ(e.vector, 7) << "L " << l;
                EXPECT_EQ(e.vector_bit, e.value_bit + 1) << "L " << l;
            } else if (e.value == 1) {
                // u4 opens with the voicing bits, band 1 first; a twelfth band spills into u5.
                const unsigned i = band_count(l) - 1 - e.value_bit;
                EXPECT_EQ(e.vector, 4 + i / 11) << "L " << l;
                EXPECT_EQ(e.vector_bit, 10 - i % 11) << "L " << l;
            } else if (e.value == l + 2) {
                EXPECT_EQ(e.vector, 7) << "L " << l;
                EXPECT_EQ(e.vector_bit, 0) << "L " << l;
            }
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::tables
