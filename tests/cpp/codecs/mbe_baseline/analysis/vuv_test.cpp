// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/vuv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv {
namespace {

namespace ts = test_signals;

refine::RefinedPitch pitch_for(double period) {
    const double omega = 2.0 * std::numbers::pi / period;
    return {omega, 0.0, refine::harmonic_count_for(omega)};
}

TEST(BandCount, GroupsHarmonicsInThreesUpToTwelveBands) {
    EXPECT_EQ(band_count(9), 3);
    EXPECT_EQ(band_count(10), 4);
    EXPECT_EQ(band_count(36), 12);
    EXPECT_EQ(band_count(37), 12);
    EXPECT_EQ(band_count(56), 12);
    EXPECT_EQ(band_of(34, 12), 12u);
    EXPECT_EQ(band_of(56, 12), 12u);
    EXPECT_EQ(band_of(33, 12), 11u);
    EXPECT_EQ(band_of(10, 4), 4u);
}

TEST(DetermineVuv, SilentSpectrumIsUnvoiced) {
    VoicingState state;
    const VuvDecision d = determine_vuv(basis::Spectrum{}, basis::window_transform(), pitch_for(50.0), state, 0.0);
    EXPECT_EQ(d.frame_energy, 0.0);
    EXPECT_EQ(d.energy_scale, 0.25);
    EXPECT_EQ(d.peak_energy, 20000.0);
    for (std::size_t k = 1; k <= d.band_count; ++k) {
        EXPECT_EQ(d.band_error[k], 1.0);
        EXPECT_FALSE(d.voiced[k]);
    }
    EXPECT_EQ(state.previous_band_count, d.band_count);
}

basis::Spectrum spectrum_of(double period) {
    return basis::windowed_spectrum(ts::history_from([&](long n) {
        return ts::harmonic_sample(period, n, [](int) { return 1000.0; });
    }));
}

TEST(DetermineVuv, CleanHarmonicSignalIsVoicedAndRemembered) {
    for (double period : {40.0, 62.5, 90.0}) {
        VoicingState state;
        const VuvDecision d =
            determine_vuv(spectrum_of(period), basis::window_transform(), pitch_for(period), state, 0.1);
        for (std::size_t k = 1; k <= d.band_count; ++k) {
            EXPECT_TRUE(d.voiced[k]) << "period " << period << " band " << k;
            EXPECT_LT(d.band_error[k], 0.1);
            EXPECT_EQ(state.previous_voiced[k], d.voiced[k]);
        }
        EXPECT_EQ(state.peak_energy, d.peak_energy);
    }
}

TEST(DetermineVuv, PoorPitchFitLeavesAtMostBandOneVoiced) {
    VoicingState state;
    const VuvDecision d = determine_vuv(spectrum_of(62.5), basis::window_transform(), pitch_for(62.5), state, 0.51);
    EXPECT_TRUE(d.voiced[1]);
    for (std::size_t k = 2; k <= d.band_count; ++k) {
        EXPECT_EQ(d.threshold[k], 0.0);
        EXPECT_FALSE(d.voiced[k]);
    }
}

TEST(DetermineVuv, WhiteNoiseIsMostlyUnvoiced) {
    const std::uint32_t seed = 1234;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::normal_distribution<double> dist(0.0, 2000.0);
    VoicingState state;
    int voiced = 0;
    int bands = 0;
    for (int frame = 0; frame < 10; ++frame) {
        const auto history = ts::history_from([&](long) { return dist(rng); });
        const VuvDecision d =
            determine_vuv(basis::windowed_spectrum(history), basis::window_transform(), pitch_for(70.0), state, 0.3);
        for (std::size_t k = 1; k <= d.band_count; ++k) voiced += d.voiced[k] ? 1 : 0;
        bands += d.band_count;
    }
    EXPECT_LT(voiced * 10, bands);  // under 10 %
}

TEST(DetermineVuv, ThresholdHasHysteresisOnPreviousDecision) {
    const basis::Spectrum s = spectrum_of(62.5);
    VoicingState unvoiced_before;
    VoicingState voiced_before;
    voiced_before.previous_voiced.fill(true);
    const VuvDecision a = determine_vuv(s, basis::window_transform(), pitch_for(62.5), unvoiced_before, 0.1);
    const VuvDecision b = determine_vuv(s, basis::window_transform(), pitch_for(62.5), voiced_before, 0.1);
    for (std::size_t k = 1; k <= a.band_count; ++k) EXPECT_NEAR(b.threshold[k] / a.threshold[k], 0.5625 / 0.45, 1e-12);
    EXPECT_FALSE(voiced_before.previous_voiced[0]);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv
