// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/phase_regen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline::phase_regen {
namespace {

std::array<double, L_HAT_MAX + 1> regen(const std::vector<float>& amps) {
    std::array<double, L_HAT_MAX + 1> out;
    out.fill(123.0);  // entries beyond L must come back zero whatever they held
    ambe_phase_regen(amps, out);
    return out;
}

TEST(PhaseRegen, KernelValues) {
    EXPECT_EQ(KERNEL[0], 0.0);
    EXPECT_NEAR(KERNEL[1], 0.28011270, 1e-8);
    EXPECT_NEAR(KERNEL[19], 0.014742774, 1e-9);
    for (std::size_t j = 1; j < KERNEL_TAPS; ++j) EXPECT_DOUBLE_EQ(KERNEL[j] * static_cast<double>(j), KERNEL[1]);
    EXPECT_EQ(LOG2_AMPLITUDE_FLOOR, std::log2(1e-10));
}

TEST(PhaseRegen, FlatEnvelopeIsZeroInTheMiddleAndUnitEnvelopeEverywhere) {
    for (std::size_t count : {9u, 30u, 45u, 56u}) {
        const auto flat = regen(std::vector<float>(count, 37.0f));
        for (std::size_t l = 20; l + 19 <= count; ++l) EXPECT_EQ(flat[l], 0.0) << count << " " << l;
        EXPECT_GT(flat[1], 0.0) << "the step down to 0 above and below acts at the edges";
        const auto ones = regen(std::vector<float>(count, 1.0f));
        for (std::size_t l = 0; l <= L_HAT_MAX; ++l) EXPECT_EQ(ones[l], 0.0);
        for (std::size_t l = count + 1; l <= L_HAT_MAX; ++l) EXPECT_EQ(flat[l], 0.0);
    }
}

TEST(PhaseRegen, SilentHarmonicContributesTheFloor) {
    for (float silent : {0.0f, 1e-11f, 9.9e-11f}) {
        std::vector<float> amps(40, 1.0f);
        amps[20 - 1] = silent;  // harmonic 20
        const auto r = regen(amps);
        for (std::size_t l = 1; l <= 40; ++l) {
            ASSERT_TRUE(std::isfinite(r[l]));
            double expect = 0.0;
            if (l < 20 && 20 - l < KERNEL_TAPS) expect = KERNEL[20 - l] * LOG2_AMPLITUDE_FLOOR;
            if (l > 20 && l - 20 < KERNEL_TAPS) expect = -KERNEL[l - 20] * LOG2_AMPLITUDE_FLOOR;
            EXPECT_DOUBLE_EQ(r[l], expect) << silent << " l " << l;
        }
    }
}

TEST(PhaseRegen, TopHarmonicSeesZerosAbove) {
    const auto r = regen(std::vector<float>(56, 2.0f));  // log2 = 1 everywhere
    double sum = 0.0;
    for (std::size_t j = 1; j < KERNEL_TAPS; ++j) sum += KERNEL[j];
    EXPECT_NEAR(r[56], -sum, 1e-12);
    EXPECT_NEAR(r[1], sum, 1e-12);
}

TEST(PhaseRegen, MirroredEnvelopeNegatesThePhases) {
    const unsigned seed = 99120;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(0.0f, 5000.0f);
    for (std::size_t count = 1; count <= L_HAT_MAX; ++count) {
        std::vector<float> amps(count);
        for (float& a : amps) a = dist(rng);
        const std::vector<float> mirrored(amps.rbegin(), amps.rend());
        const auto r = regen(amps);
        const auto rm = regen(mirrored);
        for (std::size_t l = 1; l <= count; ++l) ASSERT_EQ(rm[count + 1 - l], -r[l]) << count << " " << l;
    }
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::phase_regen
