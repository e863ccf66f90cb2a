// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement/level_control.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

namespace ostrel_mbe::enhancement::level_control {
namespace {

constexpr std::size_t FRAME = 160;

std::array<float, FRAME> sine_frame(double amplitude, std::size_t frame) {
    std::array<float, FRAME> y{};
    for (std::size_t n = 0; n < FRAME; ++n) {
        y[n] = static_cast<float>(amplitude * std::sin(0.3 * static_cast<double>(frame * FRAME + n)));
    }
    return y;
}

class LimiterGain : public ::testing::TestWithParam<float> {};

// Whatever the gain in front of it, nothing leaves the limiter above its ceiling, and the
// 16-bit samples never reach full scale.
TEST_P(LimiterGain, NothingPassesTheCeiling) {
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    Settings settings;
    settings.output_gain_db = GetParam();
    State state;
    for (int f = 0; f < 50; ++f) {
        std::array<float, FRAME> y;
        for (float& v : y) v = noise(rng);
        std::array<std::int16_t, FRAME> out{};
        apply(settings, state, y, true, out);
        for (std::size_t i = 0; i < FRAME; ++i) {
            ASSERT_LE(std::abs(y[i]), limiter::CEILING) << "seed 11, frame " << f;
            ASSERT_LT(std::abs(out[i]), 32767);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Gains, LimiterGain, ::testing::Values(-20.0f, 0.5f, 12.0f, 40.0f));

TEST(Limiter, LeavesSamplesUnderTheCeilingAlone) {
    limiter::State state;
    std::array<float, FRAME> y = sine_frame(0.5, 0);
    const std::array<float, FRAME> before = y;
    limiter::apply(state, y);
    EXPECT_EQ(y, before);
}

}  // namespace
}  // namespace ostrel_mbe::enhancement::level_control
