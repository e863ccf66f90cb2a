// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/pyin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin {
namespace {

namespace ts = test_signals;

TEST(Pyin, SilenceGivesShortestPeriodAndFullDifference) {
    PyinState state;
    const std::vector<double> zeros(480, 0.0);
    const PyinPitch p = run_pyin_smoothed(zeros, state);
    EXPECT_EQ(p.period, 21.0);
    EXPECT_EQ(p.difference, 1.0);
    EXPECT_TRUE(state.initialized);
}

class PyinPeriod : public ::testing::TestWithParam<double> {};

TEST_P(PyinPeriod, FindsPeriodOfHarmonicSignalAcrossFrames) {
    const double period = GetParam();
    PyinState state;
    for (int frame = 0; frame < 4; ++frame) {
        const auto history = ts::history_from([&](long n) {
            return ts::harmonic_sample(period, n + 160 * frame, [](int l) { return 1000.0 / l; });
        });
        const PyinPitch p = run_pyin_smoothed(history, state);
        EXPECT_NEAR(p.period, period, 0.5) << "frame " << frame;
        EXPECT_LT(p.difference, 0.1);
        EXPECT_GE(p.difference, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Periods, PyinPeriod, ::testing::Values(25.0, 50.0, 50.4, 77.7, 110.0));

TEST(Pyin, TransitionCostIsGaussianInLogPeriod) {
    const auto& t = log_trans_table();
    for (std::size_t j = 0; j < CANDIDATES; ++j) {
        EXPECT_EQ(t[j][j], 0.0);
        for (std::size_t i = 0; i < CANDIDATES; ++i) EXPECT_EQ(t[j][i], t[i][j]);
    }
    EXPECT_NEAR(t[21][0], -2.0, 1e-12);   // 42 vs 21: one octave
    EXPECT_NEAR(t[101][40], -2.0, 1e-12); // 122 vs 61
}

TEST(Pyin, ParabolicRefinementOnlyForInteriorCandidates) {
    Differences d{};
    d.fill(0.5);
    d[100] = 0.1;
    d[101] = 0.05;
    EXPECT_EQ(frame_to_pitch(d, 101).period, 122.0);
    EXPECT_EQ(frame_to_pitch(d, 0).period, 21.0);
    // A symmetric dip stays on its candidate; a lopsided one moves towards the lower neighbour.
    d.fill(0.5);
    d[30] = 0.1;
    EXPECT_EQ(frame_to_pitch(d, 30).period, 51.0);
    d[29] = 0.2;
    const PyinPitch p = frame_to_pitch(d, 30);
    EXPECT_LT(p.period, 51.0);
    EXPECT_GE(p.period, 50.5);
    EXPECT_EQ(p.difference, 0.1);
    d[30] = -0.3;
    EXPECT_EQ(frame_to_pitch(d, 30).difference, 0.0);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin
