// SPDX-License-Identifier: GPL-2.0-or-later
// Properties of the single steps of the IMBE amplitude coder: the DCT pairs invert each
// other, the quantizers reproduce every index, the predictor removes its own mean.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "imbe_wire/dequantize.h"
#include "imbe_wire/dequantize/block_dct.h"
#include "imbe_wire/dequantize/dct_cos.h"
#include "imbe_wire/dequantize/gain.h"
#include "imbe_wire/dequantize/hoc_matrix.h"
#include "imbe_wire/dequantize/log_prediction.h"
#include "imbe_wire/dequantize/uniform_quantizer.h"
#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

std::uint8_t as_l(unsigned l) { return static_cast<std::uint8_t>(l); }

TEST(ImbeDctTables, RowsAreOrthogonal) {
    for (std::size_t n = 1; n <= dct_cos::MAX_LENGTH; ++n) {
        const auto& t = dct_cos::TABLES[n];
        for (std::size_t a = 0; a < dct_cos::MAX_LENGTH; ++a) {
            for (std::size_t c = 0; c < dct_cos::MAX_LENGTH; ++c) {
                if (a >= n || c >= n) {
                    EXPECT_EQ(t[a][c], 0.0f) << "outside the n x n table, n=" << n;
                    continue;
                }
                double dot = 0.0;
                for (std::size_t j = 0; j < n; ++j) dot += double(t[a][j]) * double(t[c][j]);
                const double expected = a != c ? 0.0 : (a == 0 ? double(n) : double(n) / 2.0);
                EXPECT_NEAR(dot, expected, 1e-5) << "n=" << n << " rows " << a << "," << c;
            }
        }
    }
}

TEST(ImbeDctTables, SixPointTableIsTheLengthSixBlockTable) {
    for (std::size_t k = 0; k < 6; ++k) {
        for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(dct6_cos::TABLE[k][i], dct_cos::TABLES[6][k][i]);
    }
    EXPECT_EQ(&dct6_cos::TABLE.get(), &dct6_cos::TABLE.get()) << "built once";
}

TEST(ImbeUniformQuantizer, EveryIndexReproducedForEveryWidth) {
    for (unsigned bits = 1; bits <= 10; ++bits) {
        const float step = tables::STEP_SIZE[bits - 1] * tables::HOC_SIGMA[0];
        for (unsigned b = 0; b < (1u << bits); ++b) {
            const auto index = static_cast<std::uint16_t>(b);
            EXPECT_EQ(uniform_index(uniform_level(index, bits, step), bits, step), index) << "B=" << bits;
        }
        const auto top = static_cast<std::uint16_t>((1u << bits) - 1u);
        EXPECT_EQ(uniform_index(std::numeric_limits<float>::quiet_NaN(), bits, step), 0);
        EXPECT_EQ(uniform_index(-std::numeric_limits<float>::infinity(), bits, step), 0);
        EXPECT_EQ(uniform_index(std::numeric_limits<float>::infinity(), bits, step), top);
        EXPECT_EQ(uniform_index(1e30f, bits, step), top);
    }
    // Zero sits on a decision boundary of every quantizer; the half rounds away from zero.
    EXPECT_EQ(uniform_index(0.0f, 3, 0.5f), 4);
    EXPECT_EQ(uniform_index(-0.5f, 3, 0.5f), 3);
}

TEST(ImbeGainQuantizer, NearestLevelWithLowerIndexOnTies) {
    const auto& levels = tables::GAIN_LEVELS;
    // Reference: a linear scan in which the first (lowest) index wins a tie.
    auto linear = [&](float g) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < levels.size(); ++i) {
            if (std::fabs(g - levels[i]) < std::fabs(g - levels[best])) best = i;
        }
        return best;
    };
    const unsigned seed = 77;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-4.0f, 10.0f);
    for (int trial = 0; trial < 5000; ++trial) {
        GainVector g{dist(rng)};
        BValues b{};
        encode_gain_dct(g, 20, b);
        EXPECT_EQ(b[2], linear(g[0])) << "G1=" << g[0] << " seed " << seed;
    }
    int exact_midpoints = 0;
    for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
        const double mid = (double(levels[i]) + double(levels[i + 1])) / 2.0;
        const auto g1 = static_cast<float>(mid);
        if (double(g1) != mid || g1 - levels[i] != levels[i + 1] - g1) continue;
        ++exact_midpoints;
        BValues b{};
        encode_gain_dct(GainVector{g1}, 20, b);
        EXPECT_EQ(b[2], i) << "midway between levels " << i << " and " << i + 1;
    }
    EXPECT_GT(exact_midpoints, 5);
    for (float g1 : {-2.842205f, -100.0f, -std::numeric_limits<float>::infinity(),
                     std::numeric_limits<float>::quiet_NaN()}) {
        BValues b{};
        encode_gain_dct(GainVector{g1}, 20, b);
        EXPECT_EQ(b[2], 0) << g1;
    }
    for (float g1 : {8.695827f, 100.0f, std::numeric_limits<float>::infinity()}) {
        BValues b{};
        encode_gain_dct(GainVector{g1}, 20, b);
        EXPECT_EQ(b[2], 63) << g1;
    }
}

class ImbeQuantizerStepsEveryL : public ::testing::TestWithParam<unsigned> {};

TEST_P(ImbeQuantizerStepsEveryL, GainIndicesReproduced) {
    const unsigned l = GetParam();
    const unsigned seed = 300 + l;
    std::mt19937 rng(seed);
    const auto& q = tables::GAIN_QUANTIZERS[l - 9];
    for (int trial = 0; trial < 40; ++trial) {
        BValues b{};
        b[2] = static_cast<std::uint16_t>(rng() % 64);
        for (unsigned m = 0; m < 5; ++m) b[3 + m] = static_cast<std::uint16_t>(rng() % (1u << q[m].bits));
        BValues again{};
        encode_gain_dct(decode_gain_dct(b, as_l(l)), as_l(l), again);
        EXPECT_EQ(again, b) << "L=" << l << " seed " << seed;
    }
}

TEST_P(ImbeQuantizerStepsEveryL, HocIndicesReproduced) {
    const unsigned l = GetParam();
    const unsigned seed = 400 + l;
    std::mt19937 rng(seed);
    const auto range = tables::HOC_ALLOCATION_RANGE[l - 9];
    for (int trial = 0; trial < 40; ++trial) {
        BValues b{};
        for (unsigned e = 0; e < range.count; ++e) {
            const auto& entry = tables::HOC_ALLOCATION[range.start + e];
            b[entry.value_index] = static_cast<std::uint16_t>(rng() % (1u << entry.bits));
        }
        const BlockResiduals r{1, 2, 3, 4, 5, 6};
        const auto c = assemble_hoc_matrix(b, as_l(l), r);
        for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(c[i][0], r[i]);
        BValues again{};
        disassemble_hoc_matrix(c, as_l(l), again);
        EXPECT_EQ(again, b) << "L=" << l << " seed " << seed;
    }
}

TEST_P(ImbeQuantizerStepsEveryL, BlockDctPairInvert) {
    const unsigned l = GetParam();
    const unsigned seed = 500 + l;
    std::mt19937 rng(seed);
    std::normal_distribution<float> dist(0.0f, 3.0f);
    HarmonicVector t{};
    for (unsigned h = 0; h < l; ++h) t[h] = dist(rng);
    const auto c = forward_block_dct(t, as_l(l));
    const auto back = inverse_block_dct(c, as_l(l));
    for (unsigned h = 0; h < L_HAT_MAX; ++h) EXPECT_NEAR(back[h], t[h], 1e-4f) << "L=" << l << " h=" << h;
    // Coefficients beyond each block's length stay zero, and the first is the block mean.
    std::size_t start = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t length = tables::BLOCK_LENGTHS[l - 9][i];
        double mean = 0.0;
        for (std::size_t j = 0; j < length; ++j) mean += t[start + j];
        EXPECT_NEAR(c[i][0], mean / double(length), 1e-4) << "L=" << l << " block " << i;
        for (std::size_t k = length; k < 10; ++k) EXPECT_EQ(c[i][k], 0.0f);
        start += length;
    }
    EXPECT_EQ(start, l) << "block lengths sum to L";
}

TEST_P(ImbeQuantizerStepsEveryL, LogPredictionPairInvertAndRemoveTheMean) {
    const unsigned l = GetParam();
    const unsigned seed = 600 + l;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> log_amp(-3.0f, 12.0f);
    std::uniform_int_distribution<unsigned> prev_l(9, 56);
    std::array<float, L_HAT_MAX> previous{};
    for (auto& a : previous) a = std::exp2(log_amp(rng));
    const auto state = DecoderState::from_amplitudes(previous, static_cast<std::uint8_t>(prev_l(rng)));

    HarmonicVector t{};
    for (unsigned h = 0; h < l; ++h) t[h] = log_amp(rng);
    const auto log2_m = apply_log_prediction(t, as_l(l), state);
    const auto back = forward_log_prediction(log2_m, as_l(l), state);
    for (unsigned h = 0; h < l; ++h) EXPECT_NEAR(back[h], t[h], 1e-4f) << "L=" << l << " seed " << seed;

    // The prediction carries the previous spectral shape, not its level.
    const auto predicted = apply_log_prediction(HarmonicVector{}, as_l(l), state);
    double mean = 0.0;
    for (unsigned h = 0; h < l; ++h) mean += predicted[h];
    EXPECT_NEAR(mean / l, 0.0, 1e-4) << "L=" << l << " seed " << seed;
}

TEST(ImbeGainDct, PairInvert) {
    const unsigned seed = 700;
    std::mt19937 rng(seed);
    std::normal_distribution<float> dist(0.0f, 4.0f);
    for (int trial = 0; trial < 20; ++trial) {
        GainVector g{};
        for (auto& v : g) v = dist(rng);
        const auto r = gain_to_residuals(g);
        const auto back = residuals_to_gain(r);
        for (std::size_t m = 0; m < 6; ++m) EXPECT_NEAR(back[m], g[m], 1e-5f) << "seed " << seed;
        // G1 is the mean of the block means.
        double mean = 0.0;
        for (float v : r) mean += v;
        EXPECT_NEAR(mean / 6.0, g[0], 1e-5) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(AllHarmonicCounts, ImbeQuantizerStepsEveryL, ::testing::Range(9u, 57u));

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::dequantize
