// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/synthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "codecs/mbe_baseline/synthesis_window.h"
#include "generated_reference_tables.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr double IMBE_SCALE = 146.643269;

MbeParams make_params(float omega0, std::size_t count, float amplitude, bool voiced) {
    std::array<bool, L_HAT_MAX> flags{};
    std::array<float, L_HAT_MAX> amps{};
    for (std::size_t l = 0; l < count; ++l) {
        flags[l] = voiced;
        amps[l] = amplitude;
    }
    return MbeParams::from_valid(omega0, std::span<const bool>(flags.data(), count),
                                 std::span<const float>(amps.data(), count));
}

// A speech-like frame whose amplitudes enhancement changes visibly.
MbeParams shaped_params(float omega0 = 0.16f, std::size_t count = 20) {
    std::array<bool, L_HAT_MAX> flags{};
    std::array<float, L_HAT_MAX> amps{};
    for (std::size_t l = 0; l < count; ++l) {
        flags[l] = l < count / 2;
        amps[l] = static_cast<float>(300.0 / (1.0 + static_cast<double>(l)) + 40.0 * static_cast<double>(l % 3));
    }
    return MbeParams::from_valid(omega0, std::span<const bool>(flags.data(), count),
                                 std::span<const float>(amps.data(), count));
}

std::array<std::int16_t, 160> synth(SynthState& s, const MbeParams& p, FrameErrorCounts e = {}, bool ambe_plus = false,
                                    const SynthSettings& settings = {}) {
    return synthesize_frame_with_mode(p, e, ambe_plus, settings, s, IMBE_SCALE);
}

TEST(SynthesisWindow, MatchesTheStandardTableAndOverlapsToOne) {
    ASSERT_EQ(SYNTHESIS_WINDOW.size(), reference_tables::SYNTHESIS_WINDOW_WS.size());
    for (std::size_t i = 0; i < SYNTHESIS_WINDOW.size(); ++i) {
        EXPECT_EQ(SYNTHESIS_WINDOW[i], static_cast<float>(reference_tables::SYNTHESIS_WINDOW_WS[i])) << i;
    }
    EXPECT_EQ(synthesis_window(-106), 0.0);
    EXPECT_EQ(synthesis_window(106), 0.0);
    for (int n = 0; n < 160; ++n) EXPECT_NEAR(synthesis_window(n) + synthesis_window(n - 160), 1.0, 1e-6) << n;
}

TEST(FrameSynthesis, FreshStateHoldsTheResetValues) {
    const SynthState s = SynthState::with_lcg(LCG_DEFAULT);
    EXPECT_EQ(s.noise.lcg, LCG_DEFAULT);
    EXPECT_FALSE(s.noise.initialised);
    EXPECT_EQ(s.last_disposition(), FrameDisposition::None);
    EXPECT_EQ(s.smoothed_energy, 75000.0);
    EXPECT_EQ(s.amplitude_threshold, 20480.0);
    EXPECT_EQ(s.error_rate, 0.0);
    EXPECT_FALSE(s.saved_params.has_value());
    EXPECT_EQ(s.voiced.harmonic_count, 30);
    EXPECT_EQ(s.voiced.omega0, 0.09377654070965533);
    EXPECT_EQ(static_cast<int>(FrameDisposition::None), 3);
}

TEST(FrameSynthesis, PcmConversionRoundsHalfAwayAndClamps) {
    EXPECT_EQ(to_pcm_sample(32766.5), 32767);
    EXPECT_EQ(to_pcm_sample(-0.5), -1);
    EXPECT_EQ(to_pcm_sample(0.5), 1);
    EXPECT_EQ(to_pcm_sample(0.49999), 0);
    EXPECT_EQ(to_pcm_sample(-2.5), -3);
    EXPECT_EQ(to_pcm_sample(32767.4), 32767);
    EXPECT_EQ(to_pcm_sample(40000.0), 32767);
    EXPECT_EQ(to_pcm_sample(-32768.6), -32768);
    EXPECT_EQ(to_pcm_sample(-1e300), -32768);
    EXPECT_EQ(to_pcm_sample(std::nan("")), 0);
}

TEST(FrameSynthesis, FrameConversionEqualsSampleConversion) {
    const double edges[] = {32766.5, -0.5, 0.5, 0.49999, -2.5, 32767.4, 40000.0, -32768.6, -1e300, std::nan(""),
                            -std::numeric_limits<double>::infinity(), -0.0, 1234.5, -1234.49};
    std::array<double, 160> a{}, b{};
    for (std::size_t n = 0; n < a.size(); ++n) a[n] = edges[n % std::size(edges)] + 0.25 * static_cast<double>(n / 14);
    b[7] = 0.25;
    const auto frame = to_pcm_frame(a, b);
    for (std::size_t n = 0; n < a.size(); ++n) EXPECT_EQ(frame[n], to_pcm_sample(a[n] + b[n])) << "sample " << n;
}

struct DispositionCase {
    bool ambe_plus;
    FrameErrorCounts errors;
    FrameDisposition expected;
};

class Disposition : public ::testing::TestWithParam<DispositionCase> {};

TEST_P(Disposition, FromAFreshState) {
    const DispositionCase c = GetParam();
    SynthState s = SynthState::with_lcg(LCG_STANDARD);
    synth(s, shaped_params(), c.errors, c.ambe_plus);
    EXPECT_EQ(s.last_disposition(), c.expected)
        << "ambe_plus " << c.ambe_plus << " erasure " << int(c.errors.erasure) << " e0 " << int(c.errors.e0)
        << " total " << int(c.errors.total);
}

using D = FrameDisposition;
INSTANTIATE_TEST_SUITE_P(
    Thresholds, Disposition,
    ::testing::Values(
        // Half rate: eps_R' = 0.001064 eps_T; mute above 0.096 (eps_T >= 91).
        DispositionCase{true, {0, 0, 0, 0}, D::Normal}, DispositionCase{true, {1, 0, 0, 0}, D::Repeat},
        // Erasure bit 1 (a lost frame past its repeats) mutes whatever the counts.
        DispositionCase{true, {2, 0, 0, 0}, D::Mute}, DispositionCase{true, {0, 4, 0, 4}, D::Repeat},
        DispositionCase{true, {0, 3, 0, 5}, D::Normal}, DispositionCase{true, {0, 2, 0, 6}, D::Repeat},
        DispositionCase{true, {0, 2, 0, 5}, D::Normal}, DispositionCase{true, {0, 1, 0, 90}, D::Normal},
        DispositionCase{true, {0, 1, 0, 91}, D::Mute}, DispositionCase{true, {1, 9, 0, 255}, D::Mute},
        // Full rate: eps_R' = eps_T / 144 * 0.05; repeat when e0 >= 2 and eps_T >= 10 + 40 eps_R'.
        DispositionCase{false, {0, 0, 0, 0}, D::Normal}, DispositionCase{false, {1, 0, 0, 0}, D::Repeat},
        DispositionCase{false, {0, 4, 0, 4}, D::Normal}, DispositionCase{false, {0, 2, 0, 10}, D::Normal},
        DispositionCase{false, {0, 2, 0, 11}, D::Repeat}, DispositionCase{false, {0, 1, 0, 200}, D::Normal},
        DispositionCase{false, {0, 0, 0, 251}, D::Normal}, DispositionCase{false, {0, 0, 0, 253}, D::Mute}));

TEST(FrameSynthesis, ErrorRateAccumulatesIntoMuting) {
    // eps_T = 20 per frame converges to an IMBE error rate of 0.139; the frame that first crosses
    // 0.0875 is muted.
    SynthState s;
    const MbeParams p = shaped_params();
    int frames = 0;
    while (s.last_disposition() != D::Mute && frames < 100) {
        synth(s, p, {0, 0, 0, 20});
        ++frames;
    }
    EXPECT_EQ(s.last_disposition(), D::Mute);
    double rate = 0.0;
    for (int i = 0; i < frames - 1; ++i) rate = 0.95 * rate + 20.0 / 144.0 * 0.05;
    EXPECT_LE(rate, 0.0875);
    EXPECT_GT(0.95 * rate + 20.0 / 144.0 * 0.05, 0.0875);
}

TEST(FrameSynthesis, MuteOutputIsAttenuatedOffsetNoise) {
    for (LcgParams lcg : {LCG_STANDARD, LCG_DEFAULT}) {
        SynthState s = SynthState::with_lcg(lcg);
        double sum = 0.0;
        for (int frame = 0; frame < 50; ++frame) {
            const auto out = synth(s, shaped_params(), {0, 0, 0, 120}, true);
            ASSERT_EQ(s.last_disposition(), D::Mute);
            for (std::size_t n = 0; n < 160; ++n) {
                ASSERT_EQ(out[n], to_pcm_sample((s.noise.window[24 + n] - 26562.0) * 0.0065)) << n;
                sum += out[n];
            }
            // Synthesis state still advances under a muted frame.
            ASSERT_EQ(s.voiced.harmonic_count, 20);
        }
        const double mean = sum / (50.0 * 160.0);
        if (lcg == LCG_STANDARD) {
            EXPECT_NEAR(mean, 0.0, 5.0);  // generator centred on (m - 1) / 2 = 26562
        } else {
            EXPECT_NEAR(mean, (32767.5 - 26562.0) * 0.0065, 5.0);
        }
    }
}

TEST(FrameSynthesis, RepeatReusesTheSavedInputParameters) {
    SynthState s;
    const MbeParams first = shaped_params(0.16f, 20);
    synth(s, first);
    ASSERT_EQ(s.last_disposition(), D::Normal);
    ASSERT_EQ(s.saved_params, first);
    EXPECT_EQ(s.repeat_count, 0u);

    const FrameErrorCounts bad{1, 0, 0, 0};
    SynthState other = s;
    const auto out_a = synth(s, shaped_params(0.3f, 9), bad);
    const auto out_b = synth(other, make_params(0.05f, 56, 900.0f, true), bad);
    EXPECT_EQ(out_a, out_b) << "a repeated frame ignores the received parameters";
    EXPECT_EQ(s.last_disposition(), D::Repeat);
    EXPECT_EQ(s.saved_params, first) << "saved parameters are the input ones, not the enhanced ones";
    EXPECT_EQ(s.repeat_count, 1u);
    synth(s, shaped_params(0.3f, 9), bad);
    EXPECT_EQ(s.repeat_count, 2u);
    const MbeParams next = shaped_params(0.2f, 15);
    synth(s, next);
    EXPECT_EQ(s.repeat_count, 0u);
    EXPECT_EQ(s.saved_params, next);
}

TEST(FrameSynthesis, FirstFrameRepeatedWithoutSavedParametersUsesTheReceivedOnes) {
    SynthState s;
    const MbeParams p = shaped_params();
    synth(s, p, {1, 0, 0, 0});
    EXPECT_EQ(s.last_disposition(), D::Repeat);
    EXPECT_EQ(s.saved_params, p);
}

TEST(FrameSynthesis, RepeatResetAfterSwitchesToTheResetFrame) {
    EXPECT_EQ(reset_frame().harmonic_count(), 30);
    EXPECT_EQ(reset_frame().omega0(), 0.93754440546035766602f);
    for (std::size_t l = 0; l < 30; ++l) {
        EXPECT_FALSE(reset_frame().voiced()[l]);
        EXPECT_EQ(reset_frame().amplitudes()[l], 1.0f);
    }

    SynthSettings zero;
    zero.repeat_reset_after = 0;
    SynthState s;
    const MbeParams p = shaped_params();
    synth(s, p);
    for (const FrameErrorCounts e : {FrameErrorCounts{1, 0, 0, 0}, FrameErrorCounts{0, 0, 0, 120}}) {
        const auto out = synth(s, p, e, true, zero);
        EXPECT_EQ(s.saved_params, reset_frame());
        EXPECT_EQ(s.repeat_count, 0u);
        (void)out;
    }

    SynthSettings two;
    two.repeat_reset_after = 2;
    SynthState t;
    synth(t, p);
    const FrameErrorCounts bad{1, 0, 0, 0};
    synth(t, p, bad, false, two);
    synth(t, p, bad, false, two);
    EXPECT_EQ(t.repeat_count, 2u);
    EXPECT_EQ(t.saved_params, p);
    synth(t, p, bad, false, two);
    EXPECT_EQ(t.repeat_count, 0u);
    EXPECT_EQ(t.saved_params, reset_frame());
}

TEST(FrameSynthesis, ChipCompatKeepsTheErrorRateOnRepeatOnly) {
    SynthSettings chip;
    chip.chip_compat = true;
    for (bool compat : {false, true}) {
        SynthState s;
        synth(s, shaped_params(), {0, 0, 0, 3}, true);
        const double before = s.error_rate;
        ASSERT_GT(before, 0.0);
        synth(s, shaped_params(), {0, 4, 0, 4}, true, compat ? chip : SynthSettings{});
        ASSERT_EQ(s.last_disposition(), D::Repeat);
        if (compat) {
            EXPECT_EQ(s.error_rate, before);
        } else {
            EXPECT_DOUBLE_EQ(s.error_rate, 0.95 * before + 0.001064 * 4);
        }
        synth(s, shaped_params(), {0, 0, 0, 200}, true, compat ? chip : SynthSettings{});
        ASSERT_EQ(s.last_disposition(), D::Mute);
        EXPECT_GT(s.error_rate, 0.1);
    }
}

// Synthesizes an all-unvoiced frame of `count` harmonics into a state whose previous harmonic
// count for the clamp is 10; returns the output before rounding can hide a scale.
std::array<std::int16_t, 160> clamp_probe(std::size_t count, std::uint8_t e0, bool clamp) {
    SynthState s;
    s.clamp_harmonic_count = 10;
    SynthSettings settings;
    settings.chip_compat_spectral_clamp = clamp;
    auto out = synth(s, make_params(0.08f, count, 200.0f, false), {0, e0, 0, e0}, true, settings);
    EXPECT_EQ(s.clamp_harmonic_count, count);
    EXPECT_EQ(s.last_disposition(), D::Normal);
    return out;
}

double peak(const std::array<std::int16_t, 160>& x) {
    double m = 0;
    for (std::int16_t v : x) m = std::max(m, std::abs(static_cast<double>(v)));
    return m;
}

TEST(FrameSynthesis, SpectralClampScalesOnLargeHarmonicCountJumps) {
    struct Case {
        std::size_t count;
        std::uint8_t e0;
        bool scaled;
    };
    for (const Case c : {Case{36, 0, true}, Case{35, 0, false}, Case{35, 2, true}, Case{12, 3, true}}) {
        const auto plain = clamp_probe(c.count, c.e0, false);
        const auto clamped = clamp_probe(c.count, c.e0, true);
        ASSERT_GT(peak(plain), 100.0);
        for (std::size_t n = 0; n < 160; ++n) {
            const double expect = c.scaled ? 0.75 * plain[n] : plain[n];
            ASSERT_NEAR(clamped[n], expect, 1.0) << "L " << c.count << " e0 " << int(c.e0) << " n " << n;
        }
    }
    // The full-rate variant never clamps, but still records L.
    SynthState s;
    s.clamp_harmonic_count = 10;
    SynthSettings both{true, true, std::nullopt};
    SynthState t = s;
    const MbeParams p = make_params(0.08f, 36, 200.0f, false);
    EXPECT_EQ(synth(s, p, {}, false, both), synth(t, p, {}, false, SynthSettings{}));
    EXPECT_EQ(s.clamp_harmonic_count, 36);
}

TEST(FrameSynthesis, OneVoicedHarmonicIsASinusoidAtItsFrequency) {
    // Harmonic 2 of omega0 = 2 pi 500 / 8000: 1000 Hz, 20 periods per frame.
    std::array<bool, L_HAT_MAX> flags{};
    std::array<float, L_HAT_MAX> amps{};
    const std::size_t count = 16;
    flags[1] = true;
    amps[1] = 4000.0f;
    const float omega0 = static_cast<float>(2.0 * std::numbers::pi * 500.0 / 8000.0);
    const MbeParams p = MbeParams::from_valid(omega0, std::span<const bool>(flags.data(), count),
                                              std::span<const float>(amps.data(), count));
    SynthState s;
    synth(s, p);
    const double w = 2.0 * static_cast<double>(omega0);
    for (int frame = 0; frame < 3; ++frame) {
        const auto out = synth(s, p);
        double c = 0, si = 0;
        for (std::size_t n = 0; n < 160; ++n) {
            c += out[n] * std::cos(w * static_cast<double>(n));
            si += out[n] * std::sin(w * static_cast<double>(n));
        }
        EXPECT_NEAR(2.0 * std::hypot(c, si) / 160.0, 8000.0, 2.0);
        std::size_t crossings = 0;
        for (std::size_t n = 1; n < 160; ++n) crossings += (out[n - 1] < 0) != (out[n] < 0);
        EXPECT_NEAR(static_cast<double>(crossings), 40.0, 1.0);
    }
}

TEST(FrameSynthesis, SilentUnvoicedFrameIsSilent) {
    SynthState s;
    for (int frame = 0; frame < 3; ++frame) {
        for (std::int16_t v : synth(s, MbeParams::imbe_silence())) ASSERT_EQ(v, 0);
    }
}

TEST(FrameSynthesis, UnvoicedEnergyScalesWithAmplitude) {
    double energy[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        SynthState s;
        const MbeParams p = make_params(0.1f, 30, k == 0 ? 20.0f : 80.0f, false);
        for (int frame = 0; frame < 5; ++frame) {
            for (std::int16_t v : synth(s, p)) energy[k] += static_cast<double>(v) * v;
        }
    }
    ASSERT_GT(energy[0], 1e4);
    EXPECT_NEAR(energy[1] / energy[0], 16.0, 0.2);
}

TEST(FrameSynthesis, SmoothingSeesThisFramesEnergy) {
    // With eps_T = 5 the voicing threshold is 45.255 S_E^0.375, where S_E already includes this
    // frame: a lone harmonic of 1000 raises S_E from the floor enough to stay unvoiced, one of
    // 100000 is still forced voiced.
    for (float amplitude : {1000.0f, 100000.0f}) {
        std::array<bool, L_HAT_MAX> flags{};
        std::array<float, L_HAT_MAX> amps{};
        amps[19] = amplitude;
        const MbeParams p = MbeParams::from_valid(0.1f, std::span<const bool>(flags.data(), 20),
                                                  std::span<const float>(amps.data(), 20));
        SynthState s;
        s.smoothed_energy = 10000.0;
        synth(s, p, {0, 0, 0, 5});
        ASSERT_EQ(s.last_disposition(), D::Normal);
        EXPECT_EQ(s.voiced.voiced[20], amplitude > 50000.0f ? 1 : 0) << amplitude;
        EXPECT_DOUBLE_EQ(s.smoothed_energy, 0.95 * 10000.0 + 0.05 * static_cast<double>(amplitude) * amplitude);
    }
}

TEST(FrameSynthesis, LoudFramesSaturateWithoutWrapping) {
    // One voiced harmonic capped at tau_M = 20480 gives a sinusoid of amplitude 40960.
    std::array<bool, L_HAT_MAX> flags{};
    std::array<float, L_HAT_MAX> amps{};
    flags[0] = true;
    amps[0] = 30000.0f;
    const MbeParams loud = MbeParams::from_valid(0.2f, std::span<const bool>(flags.data(), 9),
                                                 std::span<const float>(amps.data(), 9));
    SynthState s;
    synth(s, loud);
    const auto out = synth(s, loud);
    int top = 0, bottom = 0;
    for (std::size_t n = 0; n < 160; ++n) {
        const double phase = 0.2 * static_cast<double>(n) + s.voiced.phase[1] - 0.2 * 160.0;
        const double ideal = 2.0 * 20480.0 * std::cos(phase);
        top += out[n] == 32767;
        bottom += out[n] == -32768;
        if (std::abs(ideal) > 1000.0) {
            ASSERT_EQ(out[n] > 0, ideal > 0) << n;
        }
    }
    EXPECT_GT(top, 5);
    EXPECT_GT(bottom, 5);
}

TEST(FrameSynthesis, RecoveryAfterALongErrorBurstIsNotAmplified) {
    // A burst drives tau_M far below zero; the first clean frames after it must not come out
    // louder than the same frames on a clean channel.
    const MbeParams p = shaped_params();
    SynthState clean;
    double clean_peak = 0.0;
    for (int frame = 0; frame < 30; ++frame) {
        for (std::int16_t v : synth(clean, p)) {
            clean_peak = std::max(clean_peak, std::abs(static_cast<double>(v)));
        }
    }
    SynthState s;
    for (int frame = 0; frame < 60; ++frame) synth(s, p, {0, 0, 0, 40});
    ASSERT_LT(s.amplitude_threshold, -100000.0);
    int normal_frames = 0;
    for (int frame = 0; frame < 80; ++frame) {
        const auto out = synth(s, p);
        if (s.last_disposition() != D::Normal) continue;
        ++normal_frames;
        for (std::int16_t v : out) {
            ASSERT_LE(std::abs(static_cast<double>(v)), 1.1 * clean_peak) << "frame " << frame;
        }
    }
    EXPECT_GT(normal_frames, 20);
}

TEST(FrameSynthesis, StatesUpdateOnEveryFrame) {
    SynthState s;
    const MbeParams p = shaped_params();
    synth(s, p, {0, 0, 0, 120}, true);
    ASSERT_EQ(s.last_disposition(), D::Mute);
    EXPECT_NE(s.smoothed_energy, 75000.0);
    EXPECT_NE(s.amplitude_threshold, 20480.0);
    EXPECT_TRUE(s.noise.initialised);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline
