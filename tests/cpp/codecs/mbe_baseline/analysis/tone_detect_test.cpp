// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/tone_detect.h"

#include "ambe_plus2_wire/generated_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

using ambe_plus2_wire::tables::TONES;
using Frame = std::array<std::int16_t, TONE_FRAME_SAMPLES>;

unsigned test_seed() {
    static const unsigned seed = std::random_device{}();
    return seed;
}

struct Component {
    double hz;
    double amplitude;
};

Frame synthesize(const std::vector<Component>& components, double noise = 0.0, unsigned seed = 0, double dc = 0.0) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    Frame frame{};
    for (std::size_t n = 0; n < frame.size(); ++n) {
        double x = dc + noise * gauss(rng);
        for (const auto& c : components) x += c.amplitude * std::sin(2.0 * std::numbers::pi * c.hz * static_cast<double>(n) / 8000.0);
        frame[n] = static_cast<std::int16_t>(std::clamp(std::round(x), -32768.0, 32767.0));
    }
    return frame;
}

// Both detectors in the order the encoders call them.
ToneDetection detect_any(const Frame& frame) {
    const auto dual = detect_dtmf(frame);
    return dual.found ? dual : detect_single_tone(frame);
}

TEST(ToneDetect, HannWindowIsPeriodicOver160Samples) {
    const auto& w = *hann_window::WINDOW;
    EXPECT_EQ(w[0], 0.0);
    EXPECT_DOUBLE_EQ(w[80], 1.0);
    for (std::size_t n = 1; n < 160; ++n) EXPECT_NEAR(w[n], w[160 - n], 1e-15) << n;
    for (std::size_t n = 160; n < 256; ++n) EXPECT_EQ(hann_window::WINDOW[n], 0.0);
    EXPECT_EQ(&*hann_window::WINDOW, &w);
}

TEST(ToneDetect, SilenceHasNoFloorAndNoTone) {
    const Frame silence{};
    EXPECT_EQ(compute_psd(silence).noise_floor, 0.0);
    EXPECT_FALSE(detect_dtmf(silence).found);
    EXPECT_FALSE(detect_single_tone(silence).found);
}

TEST(ToneDetect, NoiseIsNotATone) {
    for (unsigned k = 0; k < 20; ++k) {
        const unsigned seed = test_seed() + k;
        const auto frame = synthesize({}, 3000.0, seed);
        EXPECT_FALSE(detect_dtmf(frame).found) << "seed " << seed;
        EXPECT_FALSE(detect_single_tone(frame).found) << "seed " << seed;
    }
}

TEST(ToneDetect, DcOffsetIsNotATone) {
    for (double dc : {-3000.0, 200.0, 1000.0}) {
        const auto frame = synthesize({}, 5.0, test_seed(), dc);
        EXPECT_FALSE(detect_dtmf(frame).found) << dc;
        EXPECT_FALSE(detect_single_tone(frame).found) << dc << " seed " << test_seed();
    }
}

TEST(ToneDetect, OnlyFramesOf160Samples) {
    const auto frame = synthesize({{1000.0, 16384.0}});
    ASSERT_TRUE(detect_single_tone(frame).found);
    for (std::size_t length : {0u, 159u}) {
        EXPECT_FALSE(detect_single_tone(std::span<const std::int16_t>(frame.data(), length)).found) << length;
        EXPECT_FALSE(detect_dtmf(std::span<const std::int16_t>(frame.data(), length)).found) << length;
    }
    std::vector<std::int16_t> longer(frame.begin(), frame.end());
    longer.push_back(0);
    EXPECT_FALSE(detect_single_tone(longer).found);
    EXPECT_FALSE(detect_dtmf(longer).found);
}

TEST(ToneDetect, Sine1000HzIsSingleToneThirtyTwo) {
    const auto frame = synthesize({{1000.0, 16384.0}});
    EXPECT_FALSE(detect_dtmf(frame).found);
    EXPECT_EQ(detect_single_tone(frame), (ToneDetection{true, 32, 119}));
    EXPECT_EQ(detect_any(frame), (ToneDetection{true, 32, 119}));
    EXPECT_EQ(detect_single_tone(synthesize({{1000.0, 32767.0}})), (ToneDetection{true, 32, 127}));
}

TEST(ToneDetect, Dtmf697And1209IsDualToneOneTwentyNine) {
    const auto frame = synthesize({{697.0, 8000.0}, {1209.0, 8000.0}});
    EXPECT_EQ(detect_dtmf(frame), (ToneDetection{true, 129, 110}));
}

class ToneDetectDtmfDigits : public testing::TestWithParam<std::pair<double, double>> {};

TEST_P(ToneDetectDtmfDigits, FoundAsADualToneAtItsFrequencies) {
    const auto [row, column] = GetParam();
    const auto detection = detect_dtmf(synthesize({{row, 6000.0}, {column, 6000.0}}, 50.0, test_seed()));
    ASSERT_TRUE(detection.found) << "seed " << test_seed();
    const auto& entry = TONES[detection.id];
    ASSERT_NE(entry.l1, entry.l2);
    const double lo = std::min(entry.l1, entry.l2) * static_cast<double>(entry.f0_hz);
    const double hi = std::max(entry.l1, entry.l2) * static_cast<double>(entry.f0_hz);
    EXPECT_LT(std::abs(lo - row) + std::abs(hi - column), 40.0) << detection.id;
    // Louder by 10 dB is about 14 amplitude steps up.
    const auto louder = detect_dtmf(synthesize({{row, 6000.0 * std::sqrt(10.0)}, {column, 6000.0 * std::sqrt(10.0)}}));
    ASSERT_TRUE(louder.found);
    EXPECT_EQ(louder.id, detection.id);
    EXPECT_NEAR(louder.amplitude - detection.amplitude, 10.0 / 0.7115, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Keypad, ToneDetectDtmfDigits,
                         testing::Values(std::pair{697.0, 1209.0}, std::pair{697.0, 1336.0}, std::pair{697.0, 1477.0},
                                         std::pair{697.0, 1633.0}, std::pair{770.0, 1209.0}, std::pair{770.0, 1336.0},
                                         std::pair{770.0, 1477.0}, std::pair{770.0, 1633.0}, std::pair{852.0, 1209.0},
                                         std::pair{852.0, 1336.0}, std::pair{852.0, 1477.0}, std::pair{852.0, 1633.0},
                                         std::pair{941.0, 1209.0}, std::pair{941.0, 1336.0}, std::pair{941.0, 1477.0},
                                         std::pair{941.0, 1633.0}));

TEST(ToneDetect, EverySingleToneEntryIsFoundAtItsFrequency) {
    for (std::size_t i = 0; i < TONES.size(); ++i) {
        const auto& entry = TONES[i];
        if (!entry.present || entry.l1 != entry.l2 || entry.l1 == 0) continue;
        const double hz = entry.l1 * static_cast<double>(entry.f0_hz);
        const auto frame = synthesize({{hz, 10000.0}});
        // detect_dtmf is not asked: for a clean tone near 450 Hz a main-lobe bin of the
        // 160-sample window qualifies as a second peak and matches a call-progress pair.
        const auto detection = detect_single_tone(frame);
        EXPECT_TRUE(detection.found) << i;
        EXPECT_EQ(detection.id, i) << hz << " Hz";
    }
}

TEST(ToneDetect, CallProgressPairsAreFound) {
    // Busy tone 480 + 620 Hz and 350 + 490 Hz: peaks four and five bins apart.
    EXPECT_EQ(detect_dtmf(synthesize({{480.0, 5000.0}, {620.0, 5000.0}}, 30.0, test_seed())).id, 162);
    EXPECT_EQ(detect_dtmf(synthesize({{350.0, 5000.0}, {490.0, 5000.0}}, 30.0, test_seed())).id, 163);
}

TEST(ToneDetect, ToneBelowTwentyDecibelsOverTheFloorIsMissed) {
    // In white noise of deviation 1000 the windowed tone's peak bin stands about
    // 20 log10(a / 1000) + 3 dB over the quartile floor; 200 is below the limit, 3000 well above.
    for (unsigned k = 0; k < 10; ++k) {
        const unsigned seed = test_seed() + k;
        const auto weak = synthesize({{1000.0, 200.0}}, 1000.0, seed);
        const auto psd = compute_psd(weak);
        EXPECT_LT(psd.power[32] / psd.noise_floor, 100.0) << "seed " << seed;
        EXPECT_FALSE(detect_single_tone(weak).found) << "seed " << seed;
        EXPECT_FALSE(detect_dtmf(weak).found) << "seed " << seed;
        const auto strong = synthesize({{1000.0, 3000.0}}, 1000.0, seed);
        EXPECT_TRUE(detect_single_tone(strong).found) << "seed " << seed;
    }
    // A second tone 20 dB under the first and under the floor's limit leaves no dual tone.
    const auto frame = synthesize({{697.0, 8000.0}, {1209.0, 40.0}}, 300.0, test_seed());
    EXPECT_FALSE(detect_dtmf(frame).found) << "seed " << test_seed();
}

TEST(ToneDetect, PeakRefinementFindsOffBinFrequencies) {
    for (double hz = 400.0; hz < 3500.0; hz += 97.3) {
        const auto psd = compute_psd(synthesize({{hz, 12000.0}}));
        const auto k = static_cast<std::size_t>(std::max_element(psd.power.begin() + 1, psd.power.end()) - psd.power.begin());
        EXPECT_NEAR(refine_peak_hz(psd, k), hz, 3.0) << hz;
    }
    PowerSpectrum edge;
    edge.power.fill(1.0);
    edge.power[128] = 5.0;
    EXPECT_EQ(refine_peak_hz(edge, 128), 4000.0);
}

TEST(ToneDetect, AmplitudeIndexScaleAndPacking) {
    EXPECT_EQ(amplitude_index(1310000.0), 127);
    EXPECT_EQ(amplitude_index(1e9), 127);
    EXPECT_EQ(amplitude_index(0.0), 0);
    EXPECT_EQ(amplitude_index(1310000.0 * std::pow(10.0, -10.0 * 0.7115 / 20.0)), 117);
    EXPECT_EQ(pack(ToneDetection{true, 129, 110}), 0x6E8101u);
    EXPECT_EQ(pack(ToneDetection{}), 0u);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
