// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/steady_tone.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

using Frame = std::array<std::int16_t, TONE_FRAME_SAMPLES>;

// Frame `index` of a continuous sum of sines, each (Hz, amplitude).
Frame frame_of(const std::vector<std::array<double, 2>>& sines, std::size_t index) {
    Frame frame{};
    for (std::size_t n = 0; n < frame.size(); ++n) {
        const double t = static_cast<double>(index * frame.size() + n) / 8000.0;
        double x = 0.0;
        for (const auto& [hz, amplitude] : sines) x += amplitude * std::sin(2.0 * std::numbers::pi * hz * t);
        frame[n] = static_cast<std::int16_t>(std::lround(x));
    }
    return frame;
}

std::vector<bool> found_per_frame(const std::vector<Frame>& frames) {
    SteadyToneState state;
    std::vector<bool> found;
    for (const Frame& f : frames) found.push_back(detect_steady_tone(f, state).found);
    return found;
}

TEST(SteadyTone, DtmfDigitReportedFromItsThirdFrameOnAndAfterEveryGapAgain) {
    const std::vector<std::array<double, 2>> digit = {{697.0, 8000.0}, {1209.0, 8000.0}};
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < 4; ++i) frames.push_back(frame_of(digit, i));
    frames.push_back(Frame{});
    for (std::size_t i = 5; i < 9; ++i) frames.push_back(frame_of(digit, i));
    EXPECT_EQ(found_per_frame(frames),
              (std::vector<bool>{false, false, true, true, false, false, false, true, true}));
    SteadyToneState state;
    (void)detect_steady_tone(frames[0], state);
    (void)detect_steady_tone(frames[1], state);
    EXPECT_EQ(detect_steady_tone(frames[2], state), detect_tone(frames[2])) << "the standard detector's verdict";
}

TEST(SteadyTone, HarmonicRichVoiceLikeSignalIsNeverATone) {
    // A 125 Hz buzz whose third harmonic carries a formant: the standard detector takes that
    // harmonic for a single tone, but it holds far less than 90% of the power.
    std::vector<std::array<double, 2>> buzz;
    for (int h = 1; h <= 8; ++h) buzz.push_back({125.0 * h, h == 3 ? 8000.0 : 2500.0 / h});
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < 8; ++i) frames.push_back(frame_of(buzz, i));
    EXPECT_EQ(found_per_frame(frames), std::vector<bool>(8, false));
    const ToneDetection standard = detect_tone(frames[3]);
    ASSERT_TRUE(standard.found) << "the standard detector takes it for a tone";
    EXPECT_LT(tone_share(compute_psd(frames[3]), standard.id), MIN_TONE_SHARE);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
