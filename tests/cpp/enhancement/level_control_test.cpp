// SPDX-License-Identifier: GPL-2.0-or-later
#include "enhancement/level_control.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace ostrel_mbe::enhancement::level_control {
namespace {

constexpr std::size_t FRAME = 160;

double rms_db(std::span<const float> x) {
    double e = 0.0;
    for (const float v : x) e += static_cast<double>(v) * v;
    return 10.0 * std::log10(e / static_cast<double>(x.size()));
}

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

// Steady frames at -35 and -6 dBFS settle at the target; frames it must not adapt to leave the
// gain where it was; the gain never rises by more than 1 dB a frame.
TEST(Agc, SettlesOnTheTargetAndHoldsOnOtherFrames) {
    for (const double level_db : {-35.0, -6.0}) {
        const double amplitude = std::pow(10.0, level_db / 20.0) * std::numbers::sqrt2;
        agc::Settings settings;
        agc::State state;
        float previous = state.gain;
        for (std::size_t f = 0; f < 50; ++f) {
            std::array<float, FRAME> y = sine_frame(amplitude, f);
            agc::apply(settings, state, y, true);
            ASSERT_LE(20.0 * std::log10(state.gain / previous), 1.0001);
            previous = state.gain;
        }
        std::array<float, FRAME> y = sine_frame(amplitude, 50);
        agc::apply(settings, state, y, true);
        EXPECT_NEAR(rms_db(y), settings.level_dbfs, 0.5) << level_db;

        const float held = state.gain;
        std::array<float, FRAME> quiet = sine_frame(amplitude * 0.001, 51);
        agc::apply(settings, state, quiet, false);
        EXPECT_EQ(state.gain, held);
    }
}

}  // namespace
}  // namespace ostrel_mbe::enhancement::level_control
