// SPDX-License-Identifier: GPL-2.0-or-later
// Anchors and consistency of the generated AMBE+2 tables: the values quoted for TIA-102.BABA,
// the 49-bit prioritisation and the 72-bit interleaving each using every bit once.
#include "ambe_plus2_wire/generated_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

namespace ostrel_mbe::ambe_plus2_wire::tables {
namespace {

using Bit = std::pair<unsigned, unsigned>;  // (value or vector index, bit)

TEST(AmbePlus2Tables, PitchTableFallsFromNineToFiftySixHarmonics) {
    EXPECT_FLOAT_EQ(PITCH.front().omega0, 0.313977f);
    EXPECT_EQ(PITCH.front().harmonics, 9);
    EXPECT_FLOAT_EQ(PITCH.back().omega0, 0.051051f);
    EXPECT_EQ(PITCH.back().harmonics, 56);
    // Every entry lies inside the range the encoder accepts, so each one can be sent.
    EXPECT_LE(static_cast<double>(PITCH.front().omega0), 0.31397731707453724);
    EXPECT_GE(static_cast<double>(PITCH.back().omega0), 0.05105094721951336);
    for (std::size_t i = 1; i < PITCH.size(); ++i) {
        EXPECT_LT(PITCH[i].omega0, PITCH[i - 1].omega0) << "b0 " << i;
        EXPECT_GE(PITCH[i].harmonics, PITCH[i - 1].harmonics) << "b0 " << i;
    }
}

TEST(AmbePlus2Tables, GainLevelsRiseBetweenTheQuotedEndpoints) {
    EXPECT_FLOAT_EQ(GAIN_LEVELS.front(), -2.0f);
    EXPECT_FLOAT_EQ(GAIN_LEVELS.back(), 6.874496f);
    EXPECT_EQ(static_cast<double>(GAIN_LEVELS.back()), 6.874495983123779);
    for (std::size_t i = 1; i < GAIN_LEVELS.size(); ++i) EXPECT_LT(GAIN_LEVELS[i - 1], GAIN_LEVELS[i]) << i;
}

TEST(AmbePlus2Tables, BlockLengthsSumToL) {
    EXPECT_EQ(BLOCK_LENGTHS[9 - 9], (std::array<std::uint8_t, 4>{2, 2, 2, 3}));
    EXPECT_EQ(BLOCK_LENGTHS[30 - 9], (std::array<std::uint8_t, 4>{6, 7, 8, 9}));
    EXPECT_EQ(BLOCK_LENGTHS[56 - 9], (std::array<std::uint8_t, 4>{11, 13, 15, 17}));
    for (unsigned l = 9; l <= 56; ++l) {
        const auto& j = BLOCK_LENGTHS[l - 9];
        EXPECT_EQ(std::accumulate(j.begin(), j.end(), 0u), l) << "L " << l;
        EXPECT_TRUE(std::is_sorted(j.begin(), j.end())) << "L " << l;
        EXPECT_LE(j.back(), 17) << "L " << l;
    }
}

TEST(AmbePlus2Tables, CodebooksHoldFiniteValues) {
    const auto all_finite = [](const auto& book) {
        for (const auto& row : book)
            for (float v : row)
                if (!std::isfinite(v)) return false;
        return true;
    };
    EXPECT_TRUE(all_finite(PRBA24));
    EXPECT_TRUE(all_finite(PRBA58));
    EXPECT_TRUE(all_finite(HOC_B5));
    EXPECT_TRUE(all_finite(HOC_B6));
    EXPECT_TRUE(all_finite(HOC_B7));
    EXPECT_TRUE(all_finite(HOC_B8));
}

TEST(AmbePlus2Tables, PriorityIsTheFixedHalfRateOrder) {
    // Vector by vector, most significant bit first, the (value, bit) pairs of the standard.
    const std::array<std::vector<Bit>, 4> want = {{
        {{0, 6}, {0, 5}, {0, 4}, {0, 3}, {1, 4}, {1, 3}, {1, 2}, {1, 1}, {2, 4}, {2, 3}, {2, 2}, {2, 1}},
        {{3, 8}, {3, 7}, {3, 6}, {3, 5}, {3, 4}, {3, 3}, {3, 2}, {3, 1}, {4, 6}, {4, 5}, {4, 4}, {4, 3}},
        {{5, 4}, {5, 3}, {5, 2}, {5, 1}, {6, 3}, {6, 2}, {6, 1}, {7, 3}, {7, 2}, {7, 1}, {8, 2}},
        {{1, 0}, {2, 0}, {0, 2}, {0, 1}, {0, 0}, {3, 0}, {4, 2}, {4, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 1},
         {8, 0}},
    }};
    const std::array<unsigned, 4> vector_widths = {12, 12, 11, 14};
    std::array<std::vector<Bit>, 4> got;
    for (const PriorityEntry& e : PRIORITY) {
        ASSERT_LT(e.vector, 4);
        // Each vector fills from its most significant bit down.
        ASSERT_EQ(e.vector_bit, vector_widths[e.vector] - 1 - got[e.vector].size());
        got[e.vector].emplace_back(e.value, e.value_bit);
    }
    EXPECT_EQ(got, want);
}

TEST(AmbePlus2Tables, PriorityPlacesEveryBitOnceOnBothSides) {
    const std::array<unsigned, 9> value_widths = {7, 5, 5, 9, 7, 5, 4, 4, 3};
    const std::array<unsigned, 4> vector_widths = {12, 12, 11, 14};
    std::set<Bit> sources, destinations;
    for (const PriorityEntry& e : PRIORITY) {
        ASSERT_LT(e.value, 9);
        ASSERT_LT(e.value_bit, value_widths[e.value]);
        ASSERT_LT(e.vector, 4);
        ASSERT_LT(e.vector_bit, vector_widths[e.vector]);
        EXPECT_TRUE(sources.insert({e.value, e.value_bit}).second) << "b" << int(e.value) << " bit " << int(e.value_bit);
        EXPECT_TRUE(destinations.insert({e.vector, e.vector_bit}).second);
    }
    EXPECT_EQ(sources.size(), 49u);
    EXPECT_EQ(destinations.size(), 49u);
}

TEST(AmbePlus2Tables, InterleaveAnchorsAndEveryCodeBitOnce) {
    const auto row = [](std::size_t k) {
        const InterleaveEntry& e = INTERLEAVE[k];
        return std::array<unsigned, 4>{e.high_vector, e.high_bit, e.low_vector, e.low_bit};
    };
    EXPECT_EQ(row(0), (std::array<unsigned, 4>{0, 23, 0, 5}));
    EXPECT_EQ(row(1), (std::array<unsigned, 4>{1, 10, 2, 3}));
    EXPECT_EQ(row(2), (std::array<unsigned, 4>{0, 22, 0, 4}));
    EXPECT_EQ(row(35), (std::array<unsigned, 4>{2, 4, 3, 0}));
    const std::array<unsigned, 4> code_widths = {24, 23, 11, 14};
    std::set<Bit> seen;
    for (const InterleaveEntry& e : INTERLEAVE) {
        for (auto [v, b] : {Bit{e.high_vector, e.high_bit}, Bit{e.low_vector, e.low_bit}}) {
            ASSERT_LT(v, 4u);
            ASSERT_LT(b, code_widths[v]) << "c" << v;
            EXPECT_TRUE(seen.insert({v, b}).second) << "c" << v << " bit " << b << " used twice";
        }
    }
    EXPECT_EQ(seen.size(), 72u);
}

TEST(AmbePlus2Tables, ToneTableAnchors) {
    const auto expect_tone = [](unsigned id, float f0, unsigned l1, unsigned l2) {
        const ToneEntry& t = TONES[id];
        EXPECT_TRUE(t.present) << "tone " << id;
        EXPECT_FLOAT_EQ(t.f0_hz, f0) << "tone " << id;
        EXPECT_EQ(t.l1, l1) << "tone " << id;
        EXPECT_EQ(t.l2, l2) << "tone " << id;
    };
    expect_tone(5, 156.25f, 1, 1);
    expect_tone(12, 375.0f, 1, 1);
    expect_tone(13, 203.125f, 2, 2);
    expect_tone(122, 381.25f, 10, 10);
    expect_tone(128, 78.5f, 12, 17);
    expect_tone(129, 173.48f, 4, 7);
    expect_tone(163, 70.0f, 5, 7);
    expect_tone(255, 250.0f, 0, 0);
}

TEST(AmbePlus2Tables, ToneTableKindsByIndexRange) {
    int filled = 0;
    for (unsigned id = 0; id < TONES.size(); ++id) {
        const ToneEntry& t = TONES[id];
        filled += t.present ? 1 : 0;
        if (id >= 5 && id <= 122) {
            // Single tones lie on a 31.25 Hz grid: harmonic l of f0 is 31.25 * id Hz.
            ASSERT_TRUE(t.present) << "tone " << id;
            EXPECT_EQ(t.l1, t.l2) << "tone " << id;
            EXPECT_GE(t.l1, 1) << "tone " << id;
            EXPECT_NEAR(t.l1 * t.f0_hz, 31.25 * id, 31.25 * id * 1e-4) << "tone " << id;
        } else if (id >= 128 && id <= 163) {
            ASSERT_TRUE(t.present) << "tone " << id;
            EXPECT_GE(t.l1, 1) << "tone " << id;
            EXPECT_LT(t.l1, t.l2) << "tone " << id;
            EXPECT_GT(t.f0_hz, 0.0f) << "tone " << id;
        } else if (id != 255) {
            EXPECT_FALSE(t.present) << "tone " << id;
            EXPECT_EQ(t.f0_hz, 0.0f) << "tone " << id;
        }
    }
    EXPECT_EQ(filled, 155);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::tables
