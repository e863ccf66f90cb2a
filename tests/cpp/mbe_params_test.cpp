// SPDX-License-Identifier: GPL-2.0-or-later
#include "mbe_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <limits>
#include <numbers>
#include <vector>

namespace ostrel_mbe {
namespace {

std::expected<MbeParams, MbeParamsError> make(float omega0, std::size_t count, float amplitude = 1.0f) {
    std::vector<bool> v(count, true);
    std::vector<float> a(count, amplitude);
    std::unique_ptr<bool[]> flags(new bool[count]);
    for (std::size_t i = 0; i < count; ++i) flags[i] = v[i];
    return MbeParams::create(omega0, std::span<const bool>(flags.get(), count), a);
}

TEST(MbeParams, ValidationOrderFirstFailureWins) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float w : {0.0f, std::numbers::pi_v<float>, nan, -0.1f}) {
        EXPECT_EQ(make(w, 8).error(), MbeParamsError::OmegaOutOfRange) << w;
        EXPECT_EQ(make(w, 20, nan).error(), MbeParamsError::OmegaOutOfRange) << w;
    }
    EXPECT_EQ(make(0.1f, 8, nan).error(), MbeParamsError::HarmonicCountOutOfRange);
    EXPECT_EQ(make(0.1f, 57).error(), MbeParamsError::HarmonicCountOutOfRange);
    EXPECT_TRUE(make(0.1f, 9).has_value());
    EXPECT_TRUE(make(0.1f, 56).has_value());
}

TEST(MbeParams, AmplitudeRules) {
    EXPECT_TRUE(make(0.2f, 12, -0.0f).has_value());
    EXPECT_EQ(make(0.2f, 12, -1e-30f).error(), MbeParamsError::InvalidAmplitude);
    EXPECT_EQ(make(0.2f, 12, std::numeric_limits<float>::infinity()).error(), MbeParamsError::InvalidAmplitude);
    EXPECT_EQ(make(0.2f, 12, std::numeric_limits<float>::quiet_NaN()).error(), MbeParamsError::InvalidAmplitude);
}

TEST(MbeParams, EntriesPastLAreCleared) {
    auto p = make(0.2f, 10, 3.0f).value();
    EXPECT_EQ(p.harmonic_count(), 10);
    EXPECT_EQ(p.amplitudes().size(), 10u);
    for (std::size_t l = 10; l < L_HAT_MAX; ++l) {
        EXPECT_FALSE(p.voiced_array()[l]);
        EXPECT_EQ(p.amplitude_array()[l], 0.0f);
    }
}

TEST(MbeParams, FixedSilenceFrames) {
    auto s = MbeParams::imbe_silence();
    EXPECT_FLOAT_EQ(s.omega0(), 0.31813598f);
    EXPECT_EQ(s.harmonic_count(), 9);
    auto h = MbeParams::ambe_plus2_silence();
    std::uint32_t bits;
    float w = h.omega0();
    std::memcpy(&bits, &w, 4);
    EXPECT_EQ(bits, 0x3EA0C198u);
    EXPECT_EQ(debug_name(MbeParamsError::InvalidAmplitude), "InvalidAmplitude");
}

}  // namespace
}  // namespace ostrel_mbe
