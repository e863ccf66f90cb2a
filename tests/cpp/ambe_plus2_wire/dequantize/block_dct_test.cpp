// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/block_dct.h"
#include "ambe_plus2_wire/dequantize/codebook_search.h"
#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize/log_prediction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

unsigned test_seed() {
    static const unsigned seed = std::random_device{}();
    return seed;
}

TEST(AmbePlus2BlockDct, BlockLengthsPartitionL) {
    for (unsigned l = L_MIN; l <= L_HAT_MAX; ++l) {
        const auto j = block_lengths(static_cast<std::uint8_t>(l));
        EXPECT_EQ(std::accumulate(j.begin(), j.end(), 0u), l);
        for (auto n : j) {
            EXPECT_GE(n, 2u);
            EXPECT_LE(n, MAX_BLOCK_LENGTH);
        }
    }
    EXPECT_EQ(block_lengths(9), (BlockLengths{2, 2, 2, 3}));
    EXPECT_EQ(block_lengths(30), (BlockLengths{6, 7, 8, 9}));
    EXPECT_EQ(block_lengths(56), (BlockLengths{11, 13, 15, 17}));
}

class AmbePlus2BlockDctPerL : public testing::TestWithParam<unsigned> {};

TEST_P(AmbePlus2BlockDctPerL, ForwardThenInverseRestoresResiduals) {
    const auto l = static_cast<std::uint8_t>(GetParam());
    const auto j = block_lengths(l);
    std::mt19937 rng(test_seed() + l);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    std::normal_distribution<double> dist(0.0, 2.0);
    for (int trial = 0; trial < 20; ++trial) {
        Residuals t{};
        for (std::size_t i = 0; i < l; ++i) t[i] = dist(rng);
        const CoefficientMatrix c = forward_block_dct(t, j);
        for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
            for (std::size_t k = j[i]; k < MAX_BLOCK_LENGTH; ++k) EXPECT_EQ(c[i][k], 0.0);
        }
        const Residuals back = inverse_block_dct(c, j);
        for (std::size_t i = 0; i < L_HAT_MAX; ++i) EXPECT_NEAR(back[i], t[i], 1e-12) << i;
        // One block inverted over the others gives the whole inversion, bit for bit.
        Residuals pieced{};
        for (std::size_t i = 0; i < BLOCK_COUNT; ++i) inverse_one_block(c, j, i, pieced);
        EXPECT_EQ(pieced, back);
        // The coded coefficients alone: the same values, the rest 0.
        CoefficientMatrix coded = c;
        for (auto& row : coded) std::fill(row.begin() + 6, row.end(), 0.0);
        EXPECT_EQ(forward_coded_block_dct(t, j), coded);
    }
}

TEST_P(AmbePlus2BlockDctPerL, LogPredictionClosedLoop) {
    const auto l = static_cast<std::uint8_t>(GetParam());
    std::mt19937 rng(test_seed() + 100 + l);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    std::uniform_real_distribution<double> level(-4.0, 12.0);
    for (unsigned p = 0; p <= L_HAT_MAX; p += 7) {
        PreviousLambda previous{};
        for (auto& v : previous) v = level(rng);
        Residuals lambda{};
        for (std::size_t i = 0; i < l; ++i) lambda[i] = level(rng);
        const auto forward = forward_log_prediction(lambda, l, previous, static_cast<std::uint8_t>(p));
        double sum = 0.0;
        for (std::size_t i = 0; i < l; ++i) sum += forward.residuals[i];
        EXPECT_NEAR(sum, 0.0, 1e-9);
        const Residuals back = apply_log_prediction(forward.residuals, l, forward.gamma, previous, static_cast<std::uint8_t>(p));
        for (std::size_t i = 0; i < l; ++i) EXPECT_NEAR(back[i], lambda[i], 1e-9) << "P " << p << " l " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(AllL, AmbePlus2BlockDctPerL, testing::Range(9u, 57u));

TEST(AmbePlus2BlockDct, PredictionFollowsThePreviousSpectrum) {
    // With equal harmonic counts the prediction reads the previous value of the same
    // harmonic, so a spectrum equal to 0.65 times the previous one (plus a constant)
    // leaves no residual at all.
    PreviousLambda previous{};
    Residuals lambda{};
    for (std::size_t i = 1; i <= 20; ++i) {
        previous[i] = std::sin(static_cast<double>(i)) * 3.0;
        lambda[i - 1] = 0.65 * previous[i] + 5.0;
    }
    const auto forward = forward_log_prediction(lambda, 20, previous, 20);
    for (std::size_t i = 0; i < 20; ++i) EXPECT_NEAR(forward.residuals[i], 0.0, 1e-12);
}

TEST(AmbePlus2BlockDct, PrbaTransformsInvertUpToTheMean) {
    std::mt19937 rng(test_seed() + 7);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    std::normal_distribution<double> dist(0.0, 1.0);
    for (int trial = 0; trial < 50; ++trial) {
        Prba r{};
        for (auto& v : r) v = dist(rng);
        const double mean = std::accumulate(r.begin(), r.end(), 0.0) / 8.0;
        const Prba g = forward_prba_dct(r);
        EXPECT_EQ(g[0], 0.0);
        const Prba back = inverse_prba_dct(g);
        for (std::size_t n = 0; n < 8; ++n) EXPECT_NEAR(back[n], r[n] - mean, 1e-12);
    }
}

TEST(AmbePlus2BlockDct, CoefficientPairsRoundTripThroughPrba) {
    std::mt19937 rng(test_seed() + 11);
    SCOPED_TRACE("seed " + std::to_string(test_seed()));
    std::normal_distribution<double> dist(0.0, 1.0);
    const auto j = block_lengths(56);
    CoefficientMatrix c{};
    for (auto& row : c) {
        row[0] = dist(rng);
        row[1] = dist(rng);
    }
    const CoefficientMatrix back = assemble_hoc_matrix(prba_from_coefficients(c), {3, 2, 1, 0}, j);
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        EXPECT_NEAR(back[i][0], c[i][0], 1e-12);
        EXPECT_NEAR(back[i][1], c[i][1], 1e-12);
    }
    EXPECT_EQ(back[0][2], static_cast<double>(tables::HOC_B5[3][0]));
    EXPECT_EQ(back[3][5], static_cast<double>(tables::HOC_B8[0][3]));
    EXPECT_EQ(back[3][6], 0.0);
}

TEST(AmbePlus2BlockDct, HigherOrderCodebookEntriesAreFoundAgain) {
    // L = 56 has all four blocks longer than six, so every component is coded.
    const auto j = block_lengths(56);
    const std::array<std::span<const std::array<float, 4>>, 4> books = {tables::HOC_B5, tables::HOC_B6,
                                                                        tables::HOC_B7, tables::HOC_B8};
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        for (std::size_t e = 0; e < books[i].size(); ++e) {
            CoefficientMatrix c{};
            for (std::size_t k = 0; k < 4; ++k) c[i][2 + k] = static_cast<double>(books[i][e][k]);
            const auto b = quantize_hoc_all(c, j);
            EXPECT_EQ(books[i][b[i]], books[i][e]) << "block " << i << " entry " << e;
            // The round trip through the decoder's matrix reproduces the coefficients.
            const auto back = assemble_hoc_matrix(Prba{}, b, j);
            for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(back[i][2 + k], c[i][2 + k]);
        }
    }
}

TEST(AmbePlus2BlockDct, ShortBlocksCodeIndexZeroAndIgnoreTheirIndex) {
    // L = 9: blocks of 2, 2, 2 and 3.
    const auto j = block_lengths(9);
    CoefficientMatrix c{};
    for (auto& row : c) row.fill(5.0);
    const auto b = quantize_hoc_all(c, j);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], 0);
    const auto back = assemble_hoc_matrix(Prba{}, {31, 15, 15, 7}, j);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(back[i][2], 0.0);
    EXPECT_EQ(back[3][2], static_cast<double>(tables::HOC_B8[7][0]));
    EXPECT_EQ(back[3][3], 0.0);
}

TEST(AmbePlus2CodebookSearch, FirstMinimumWins) {
    const std::array<std::array<float, 2>, 4> book = {{{1.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 0.0f}, {0.0f, -1.0f}}};
    EXPECT_EQ(nearest_entry<2>(book, {1.0, 0.0}), 0u);
    EXPECT_EQ(nearest_entry<2>(book, {0.0, 0.0}), 0u);
    EXPECT_EQ(nearest_entry<2>(book, {0.1, -0.9}), 3u);
}

TEST(AmbePlus2CodebookSearch, GainIndexNearestLevelTiesLow) {
    const auto& levels = tables::GAIN_LEVELS;
    for (std::size_t i = 0; i < levels.size(); ++i) EXPECT_EQ(gain_index(levels[i]), i);
    for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
        const double mid = (static_cast<double>(levels[i]) + static_cast<double>(levels[i + 1])) / 2.0;
        EXPECT_EQ(gain_index(mid), i);
        EXPECT_EQ(gain_index(mid + 1e-9), i + 1);
    }
    EXPECT_EQ(gain_index(-50.0), 0);
    EXPECT_EQ(gain_index(6.874495983123779), 31);
    EXPECT_EQ(gain_index(1e300), 31);
    EXPECT_EQ(gain_index(std::nan("")), 0);
}

TEST(AmbePlus2CodebookSearch, PitchIndexIsTheNearestEntry) {
    const auto& pitch = tables::PITCH;
    for (std::size_t i = 0; i + 1 < pitch.size(); ++i) {
        ASSERT_GT(pitch[i].omega0, pitch[i + 1].omega0);
        EXPECT_EQ(pitch_index(pitch[i].omega0), i);
        const double a = pitch[i].omega0;
        const double b = pitch[i + 1].omega0;
        EXPECT_EQ(pitch_index((a + b) / 2.0), i) << "tie goes to the larger omega0";
        EXPECT_EQ(pitch_index((a + b) / 2.0 - 1e-12), i + 1);
    }
    EXPECT_EQ(pitch_index(OMEGA0_MAX), 0);
    EXPECT_EQ(pitch_index(OMEGA0_MIN), 119);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
