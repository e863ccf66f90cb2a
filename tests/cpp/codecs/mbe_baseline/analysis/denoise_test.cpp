// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/denoise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise {
namespace {

basis::Spectrum random_spectrum(std::mt19937& rng) {
    std::normal_distribution<double> dist(0.0, 100.0);
    basis::Spectrum s{};
    for (auto& bin : s) bin = {dist(rng), dist(rng)};
    return s;
}

TEST(NoiseSpectrum, AllZeroInputNeverBecomesReady) {
    NoiseSpectrum noise;
    for (int frame = 0; frame < 20; ++frame) noise.update(basis::Spectrum{}, true, 0.0, 1.0);
    EXPECT_TRUE(noise.primed);
    EXPECT_FALSE(noise.ready);
    EXPECT_EQ(noise.qualifying_count, 0u);
}

TEST(NoiseSpectrum, SteadyNoiseWithSilenceFlagIsReadyOnThirdFrame) {
    const std::uint32_t seed = 5;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const basis::Spectrum steady = random_spectrum(rng);
    NoiseSpectrum noise;
    noise.update(steady, true, 1e9, 1.0);
    EXPECT_FALSE(noise.ready);
    noise.update(steady, true, 1e9, 1.0);
    EXPECT_FALSE(noise.ready);
    EXPECT_EQ(noise.qualifying_count, 1u);
    noise.update(steady, true, 1e9, 1.0);
    ASSERT_TRUE(noise.ready);
    for (std::size_t k = 0; k < steady.size(); ++k) EXPECT_EQ(noise.noise_power[k], std::norm(steady[k]));
}

TEST(NoiseSpectrum, LoudNonSilentFramesDoNotTeach) {
    std::mt19937 rng(6);
    const basis::Spectrum steady = random_spectrum(rng);
    NoiseSpectrum noise;
    for (int frame = 0; frame < 5; ++frame) noise.update(steady, false, 4.0, 1.0);  // e = 4 f is not quiet
    EXPECT_FALSE(noise.ready);
    for (int frame = 0; frame < 2; ++frame) noise.update(steady, false, 3.9, 1.0);
    EXPECT_TRUE(noise.ready);
}

TEST(NoiseSpectrum, ChangingSpectrumResetsTheQualifyingRun) {
    std::mt19937 rng(7);
    NoiseSpectrum noise;
    for (int frame = 0; frame < 6; ++frame) noise.update(random_spectrum(rng), true, 0.0, 1.0);
    EXPECT_FALSE(noise.ready);
    EXPECT_EQ(noise.qualifying_count, 0u);
}

TEST(SubtractNoise, RemovesATenthOfTheEstimateWithGainFloor) {
    NoiseSpectrum noise;
    basis::Spectrum s{};
    for (std::size_t k = 0; k < s.size(); ++k) s[k] = {3.0, 4.0};  // power 25
    basis::Spectrum unchanged = s;
    subtract_noise(unchanged, noise);
    EXPECT_EQ(unchanged, s);  // nothing learned yet

    noise.ready = true;
    noise.noise_power.fill(100.0);  // 0.1 N = 10: gain sqrt(15/25)
    noise.noise_power[1] = 1000.0;  // far above the power: floor sqrt(0.02)
    s[2] = {0.0, 0.0};
    subtract_noise(s, noise);
    EXPECT_NEAR(std::abs(s[0]), 5.0 * std::sqrt(15.0 / 25.0), 1e-12);
    EXPECT_NEAR(std::abs(s[1]), 5.0 * std::sqrt(0.02), 1e-12);
    EXPECT_NEAR(std::arg(s[0]), std::atan2(4.0, 3.0), 1e-12);  // phase kept
    EXPECT_EQ(s[2], std::complex<double>(0.0, 0.0));
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise
