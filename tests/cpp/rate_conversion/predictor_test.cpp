// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate_conversion/predictor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace ostrel_mbe::rate_conversion::predictor {
namespace {

MbeParams params_of(float omega0, const std::vector<float>& amplitudes, bool voiced = true) {
    const std::vector<char> flags(amplitudes.size(), voiced);
    std::array<bool, L_HAT_MAX> v{};
    for (std::size_t i = 0; i < flags.size(); ++i) v[i] = flags[i] != 0;
    return MbeParams::from_valid(omega0, std::span<const bool>(v.data(), amplitudes.size()), amplitudes);
}

TEST(Blend, FreshStateAndWeights) {
    const BlendState fresh;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(fresh.previous_omega0), 0x3E4BC383u);
    EXPECT_EQ(static_cast<double>(fresh.previous_omega0), 0.19898800551891327);
    EXPECT_EQ(fresh.previous_l, 30);
    EXPECT_EQ(OWN_WEIGHT, 0.35000002f);
}

TEST(Blend, SamePitchKeepsAmplitudesTruncatesAndExtends) {
    const std::vector<float> a = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (const std::uint8_t new_l : std::array<std::uint8_t, 3>{9, 12, 14}) {
        BlendState state;
        state.previous_omega0 = 0.1f;
        const MbeParams out = blend(params_of(0.1f, a), new_l, state, 0.1005f);  // within 1 %
        ASSERT_EQ(out.harmonic_count(), new_l);
        EXPECT_EQ(out.omega0(), 0.1005f);
        for (std::size_t g = 0; g < new_l; ++g) {
            // Kept harmonics unchanged; added ones continue at the top amplitude, unvoiced.
            EXPECT_EQ(out.amplitudes()[g], g < a.size() ? a[g] : a.back()) << g;
            EXPECT_EQ(out.voiced()[g], g < a.size()) << g;
        }
        // The state now describes this output.
        EXPECT_EQ(state.previous_l, new_l);
        EXPECT_EQ(state.previous_omega0, 0.1005f);
        EXPECT_EQ(state.previous_amplitudes[0], 1.0f);
        for (std::size_t g = 1; g < state.previous_amplitudes.size(); ++g)
            EXPECT_EQ(state.previous_amplitudes[g], g <= new_l ? out.amplitudes()[g - 1] : 0.0f);
    }
}

TEST(Blend, NewPitchMixesInThePreviousEnvelope) {
    // A flat previous envelope of level P predicts sqrt(r) P at every new harmonic inside it;
    // outside it (r g above the previous count) the prediction is the floor 2^-33.2.
    BlendState state;
    state.previous_omega0 = 0.1f;
    state.previous_l = 20;
    for (std::size_t g = 1; g <= 20; ++g) state.previous_amplitudes[g] = 64.0f;
    const std::vector<float> own(15, 10.0f);
    const float new_omega0 = 0.15f;
    const double r = static_cast<double>(new_omega0) / 0.1f;
    const MbeParams out = blend(params_of(new_omega0, own), 15, state, new_omega0, EnvelopeMix::Previous);
    for (std::size_t g = 1; g <= 15; ++g) {
        const bool inside = r * static_cast<double>(g) <= 20.0;
        const double predicted = inside ? std::sqrt(r) * 64.0 : std::sqrt(r) * 1e-10;
        EXPECT_NEAR(out.amplitudes()[g - 1], 0.65 * predicted + 0.35 * 10.0, 1e-4) << g;
    }
}

TEST(Blend, WithoutMixingAQuietFrameAfterALoudOneStaysQuiet) {
    BlendState state;
    state.previous_omega0 = 0.1f;
    state.previous_l = 20;
    for (std::size_t g = 1; g <= 20; ++g) state.previous_amplitudes[g] = 1000.0f;
    const std::vector<float> quiet(19, 1.0f);
    BlendState mixed_state = state;
    const MbeParams out = blend(params_of(0.105f, quiet), 19, state, 0.105f);
    for (float a : out.amplitudes()) EXPECT_EQ(a, 1.0f);
    // The mix on request carries the loud frame into this one.
    const MbeParams mixed = blend(params_of(0.105f, quiet), 19, mixed_state, 0.105f, EnvelopeMix::Previous);
    EXPECT_GT(mixed.amplitudes()[0], 600.0f);
    EXPECT_EQ(mixed_state.previous_omega0, state.previous_omega0);
}

TEST(Blend, SaturatesInsteadOfOverflowing) {
    BlendState state;
    state.previous_omega0 = 0.05f;
    state.previous_l = 56;
    for (std::size_t g = 1; g <= 56; ++g) state.previous_amplitudes[g] = std::numeric_limits<float>::max();
    const std::vector<float> own(9, std::numeric_limits<float>::max());
    const MbeParams out = blend(params_of(0.3f, own), 9, state, 0.3f, EnvelopeMix::Previous);
    for (float a : out.amplitudes()) EXPECT_TRUE(std::isfinite(a));
}

}  // namespace
}  // namespace ostrel_mbe::rate_conversion::predictor
