// SPDX-License-Identifier: GPL-2.0-or-later
// Anchors of the generated pitch-estimation tables (TIA-102.BABA Annexes B and D).
#include "codecs/mbe_baseline/analysis/generated_tables.h"

#include <gtest/gtest.h>

#include <numeric>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::tables {
namespace {

template <class T, std::size_t N>
void expect_symmetric(const std::array<T, N>& t) {
    for (std::size_t i = 0; i < N / 2; ++i) EXPECT_EQ(t[i], t[N - 1 - i]) << "index " << i;
}

TEST(AnalysisTables, PitchLowPassFilter) {
    ASSERT_EQ(PITCH_LPF.size(), 21u);  // n = -10..10
    EXPECT_FLOAT_EQ(PITCH_LPF[10], 0.351338f);
    EXPECT_FLOAT_EQ(PITCH_LPF.front(), -0.002898f);
    EXPECT_NEAR(std::accumulate(PITCH_LPF.begin(), PITCH_LPF.end(), 0.0), 1.00138, 1e-6);
    expect_symmetric(PITCH_LPF);
}

TEST(AnalysisTables, PitchWindowHasUnitEnergy) {
    ASSERT_EQ(PITCH_WINDOW_WI.size(), 301u);  // n = -150..150
    EXPECT_NEAR(PITCH_WINDOW_WI[150], 0.0920766, 1e-7);
    EXPECT_NEAR(PITCH_WINDOW_WI[150 + 75], 0.0492103, 1e-7);
    EXPECT_FLOAT_EQ(PITCH_WINDOW_WI.front(), 0.00270174f);
    double energy = 0.0;
    for (double w : PITCH_WINDOW_WI) energy += w * w;
    EXPECT_NEAR(energy, 1.0, 1e-6);
    expect_symmetric(PITCH_WINDOW_WI);
    // Peak in the middle, falling towards both ends.
    for (std::size_t i = 150; i + 1 < PITCH_WINDOW_WI.size(); ++i) EXPECT_GE(PITCH_WINDOW_WI[i], PITCH_WINDOW_WI[i + 1]);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::tables
