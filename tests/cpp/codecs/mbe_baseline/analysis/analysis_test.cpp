// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

namespace ts = test_signals;

const std::array<std::int16_t, FRAME_SAMPLES> ZERO_FRAME{};

AnalysisOutput run(AnalysisState& state, std::span<const std::int16_t> frame) {
    auto out = encode_with_trace(frame, state);
    EXPECT_TRUE(out.has_value());
    return out.value_or(AnalysisOutput{});
}

TEST(EncodeWithTrace, FirstTwoCallsWarmUpThenTheFirstFrameIsAnalysed) {
    const auto pcm = ts::harmonic_pcm(90.0, 160 * 3);
    AnalysisState state;
    for (int call = 0; call < 2; ++call) {
        const AnalysisOutput out = run(state, ts::frame(pcm, static_cast<std::size_t>(call)));
        EXPECT_FALSE(out.params.has_value());
        EXPECT_FALSE(out.trace.has_value());
    }
    // Only the first frame is periodic; the third call must describe it.
    const AnalysisOutput out = run(state, ZERO_FRAME);
    ASSERT_TRUE(out.params.has_value());
    ASSERT_TRUE(out.trace.has_value());
    EXPECT_NEAR(2.0 * std::numbers::pi / out.params->omega0(), 90.0, 0.25);
    EXPECT_EQ(state.history_count, 3);
    EXPECT_EQ(state.warm_up_count, 2);
}

TEST(EncodeWithTrace, HistoryHoldsTheLastThreeConditionedFramesOldestFirst) {
    const std::uint32_t seed = 77;
    SCOPED_TRACE("seed " + std::to_string(seed));
    const auto pcm = ts::noise_pcm(seed, 160 * 5);
    // Reference DC blocker y[n] = 0.99 y[n-1] + x[n] - x[n-1], run over the whole input.
    std::vector<double> conditioned(pcm.size());
    double x_prev = 0.0;
    double y_prev = 0.0;
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double x = pcm[n];
        conditioned[n] = 0.99 * y_prev + x - x_prev;
        x_prev = x;
        y_prev = conditioned[n];
    }
    AnalysisState state;
    for (std::size_t call = 0; call < 5; ++call) {
        (void)encode_with_trace(ts::frame(pcm, call), state);
        const std::size_t held = std::min<std::size_t>(call + 1, 3);
        const std::size_t first = (call + 1 - held) * 160;
        for (std::size_t i = 0; i < held * 160; ++i) ASSERT_EQ(state.history[i], conditioned[first + i]) << call;
    }
}

TEST(EncodeWithTrace, AllZeroInputPicksPitch80OnTheFirstAnalysedFrame) {
    AnalysisState state;
    run(state, ZERO_FRAME);
    run(state, ZERO_FRAME);
    const AnalysisOutput out = run(state, ZERO_FRAME);
    ASSERT_TRUE(out.trace.has_value());
    EXPECT_EQ(out.trace->pitch_period, 80.0);
    EXPECT_EQ(out.trace->lookback_error, 1.0);
    EXPECT_EQ(out.trace->lookahead_error, 3.0);
    EXPECT_EQ(out.trace->pitch_error, 1.0);
    EXPECT_EQ(state.previous_period, 80.0);
    EXPECT_EQ(state.previous_error, 1.0);
}

TEST(EncodeWithTrace, WrongFrameLengthLeavesTheStateUntouched) {
    const auto pcm = ts::harmonic_pcm(70.0, 160 * 6);
    AnalysisState state;
    for (std::size_t call = 0; call < 6; ++call) {
        state.settings.silence_dispatch = call % 2 == 0;
        for (std::size_t length : {std::size_t{0}, std::size_t{159}, std::size_t{161}, std::size_t{320}}) {
            const std::vector<std::int16_t> wrong(length, 1000);
            const AnalysisState before = state;
            const auto out = encode_with_trace(wrong, state);
            ASSERT_FALSE(out.has_value());
            EXPECT_EQ(out.error(), AnalysisError::WrongFrameLength);
            EXPECT_TRUE(state == before) << "call " << call << " length " << length;
        }
        run(state, ts::frame(pcm, call));
    }
}

class PeriodicInput : public ::testing::TestWithParam<double> {};

// Periods whose multiples do not fall into the first look-back range (80..120) or that lie in
// it: the driver locks onto the period and reports every band voiced.
TEST_P(PeriodicInput, FundamentalWithinAQuarterSampleAndVoiced) {
    const double period = GetParam();
    const auto pcm = ts::harmonic_pcm(period, 160 * 8);
    AnalysisState state;
    for (std::size_t call = 0; call < 8; ++call) {
        const AnalysisOutput out = run(state, ts::frame(pcm, call));
        if (call < 2) continue;
        ASSERT_TRUE(out.params.has_value());
        EXPECT_NEAR(2.0 * std::numbers::pi / out.params->omega0(), period, 0.25) << "call " << call;
        const auto voiced = out.params->voiced();
        EXPECT_EQ(std::count(voiced.begin(), voiced.end(), true), static_cast<long>(voiced.size()));
        EXPECT_EQ(out.trace->vuv.band_count, vuv::band_count(out.params->harmonic_count()));
    }
}

INSTANTIATE_TEST_SUITE_P(Periods, PeriodicInput, ::testing::Values(65.0, 72.4, 85.0, 100.6, 119.3));

TEST(EncodeWithTrace, WhiteNoiseIsMostlyUnvoiced) {
    const std::uint32_t seed = 31337;
    SCOPED_TRACE("seed " + std::to_string(seed));
    const auto pcm = ts::noise_pcm(seed, 160 * 10);
    AnalysisState state;
    long voiced = 0;
    long total = 0;
    for (std::size_t call = 0; call < 10; ++call) {
        const AnalysisOutput out = run(state, ts::frame(pcm, call));
        if (!out.params) continue;
        const auto v = out.params->voiced();
        voiced += std::count(v.begin(), v.end(), true);
        total += static_cast<long>(v.size());
    }
    EXPECT_GT(total, 0);
    EXPECT_LT(voiced * 5, total);  // under 20 % of the harmonics
}

TEST(EncodeWithTrace, AllZeroInputBecomesSilenceOnTheFifthFrameWithDispatch) {
    AnalysisState state;
    state.settings.silence_dispatch = true;
    for (int call = 1; call <= 8; ++call) {
        const AnalysisOutput out = run(state, ZERO_FRAME);
        if (call <= 2) {
            EXPECT_FALSE(out.trace.has_value());
            continue;
        }
        ASSERT_TRUE(out.trace.has_value());
        EXPECT_EQ(out.trace->silent, call >= 5) << "call " << call;
        EXPECT_EQ(out.params.has_value(), call < 5) << "call " << call;
    }
    EXPECT_EQ(state.previous_l, 0);
    EXPECT_EQ(state.previous_omega0, 0.0);
    EXPECT_EQ(state.previous_k, 0);
}

TEST(EncodeWithTrace, WithoutDispatchSilentFramesAreVoiceFrames) {
    AnalysisState state;
    for (int call = 1; call <= 8; ++call) {
        const AnalysisOutput out = run(state, ZERO_FRAME);
        if (call <= 2) continue;
        EXPECT_TRUE(out.params.has_value()) << "call " << call;
        EXPECT_EQ(out.trace->silent, call >= 5);
        for (float a : out.params->amplitudes()) EXPECT_EQ(a, 0.0f);
    }
}

TEST(EncodeWithTrace, SilenceLeavesTheEncoderPredictorAndMovesTheTracker) {
    AnalysisState state;
    state.settings.silence_dispatch = true;
    state.settings.default_pitch_on_silence = true;
    for (int call = 1; call <= 6; ++call) run(state, ZERO_FRAME);
    const predictor::PredictorState predictor_before = state.imbe_predictor;
    const AnalysisOutput out = run(state, ZERO_FRAME);
    ASSERT_FALSE(out.params.has_value());
    EXPECT_TRUE(state.imbe_predictor == predictor_before);
    // Silent, P^ = 80 is not above 80: the tracker stores the period itself.
    EXPECT_EQ(state.previous_period, out.trace->pitch_period);
}

TEST(EncodeWithTrace, LoudFramesEndSilenceAfterThreeFrames) {
    AnalysisState state;
    for (int call = 0; call < 6; ++call) run(state, ZERO_FRAME);
    ASSERT_TRUE(state.silent);
    const auto pcm = ts::harmonic_pcm(75.0, 160 * 3);
    run(state, ts::frame(pcm, 0));
    run(state, ts::frame(pcm, 1));
    EXPECT_TRUE(state.silent);
    run(state, ts::frame(pcm, 2));
    EXPECT_FALSE(state.silent);
}

// ---- amplitude smoothing ----

vuv::VuvDecision bands(std::uint8_t k, bool voiced) {
    vuv::VuvDecision d;
    d.band_count = k;
    for (std::size_t b = 1; b <= k; ++b) d.voiced[b] = voiced;
    return d;
}

amplitude::Amplitudes ramp(double scale) {
    amplitude::Amplitudes a{};
    for (std::size_t l = 1; l < a.size(); ++l) a[l] = scale * static_cast<double>(l);
    return a;
}

class AmpEmaPassThrough : public ::testing::TestWithParam<double> {};

TEST_P(AmpEmaPassThrough, AlphaZeroOrOneKeepsAmplitudesButStoresMemory) {
    AnalysisState state;
    state.settings.amp_ema_alpha = GetParam();
    auto first = ramp(1.0);
    apply_amp_ema(state, first, 30, bands(10, true), 0.1);
    auto second = ramp(2.0);
    apply_amp_ema(state, second, 30, bands(10, true), 0.1);
    EXPECT_EQ(second, ramp(2.0));
    EXPECT_EQ(state.previous_amplitudes, ramp(2.0));
    EXPECT_EQ(state.previous_l, 30);
    EXPECT_EQ(state.previous_k, 10);
    EXPECT_EQ(state.previous_omega0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Alpha, AmpEmaPassThrough, ::testing::Values(0.0, 1.0));

TEST(AmpEma, BlendsOnlyHarmonicsWhoseBandKeptItsVoicing) {
    AnalysisState state;
    state.settings.amp_ema_alpha = 0.25;
    auto first = ramp(1.0);
    apply_amp_ema(state, first, 12, bands(4, true), 0.2);
    auto second = ramp(3.0);
    vuv::VuvDecision d = bands(5, true);  // L = 15 now: harmonics 13..15 have no memory
    d.voiced[2] = false;                  // harmonics 4..6 changed voicing
    apply_amp_ema(state, second, 15, d, 0.22);
    for (std::size_t l = 1; l <= 15; ++l) {
        const bool changed = l >= 4 && l <= 6;
        const double x = static_cast<double>(l);
        const double expected = (changed || l > 12) ? 3.0 * x : 0.25 * (3.0 * x) + (1.0 - 0.25) * (1.0 * x);
        EXPECT_DOUBLE_EQ(second[l], expected) << "l " << l;
    }
}

TEST(AmpEma, PitchJumpOrDroppedMemoryDisablesSmoothing) {
    for (double omega : {0.625, 0.375}) {  // +25 % and -25 %
        AnalysisState state;
        state.settings.amp_ema_alpha = 0.5;
        auto first = ramp(1.0);
        apply_amp_ema(state, first, 20, bands(7, true), 0.5);
        auto second = ramp(2.0);
        apply_amp_ema(state, second, 20, bands(7, true), omega);
        EXPECT_EQ(second, ramp(2.0)) << omega;
    }
    AnalysisState state;
    state.settings.amp_ema_alpha = 0.5;
    auto first = ramp(1.0);
    apply_amp_ema(state, first, 20, bands(7, true), 0.2);
    FrontEndResult silence;
    dispatch_silence(state, silence);
    auto second = ramp(2.0);
    apply_amp_ema(state, second, 20, bands(7, true), 0.2);
    EXPECT_EQ(second, ramp(2.0));
}

TEST(EncodeWithTrace, SmoothingOnASteadySignalStaysBetweenFrames) {
    const auto pcm = ts::harmonic_pcm(85.0, 160 * 6);
    AnalysisState plain;
    AnalysisState smoothed;
    smoothed.settings.amp_ema_alpha = 0.5;
    for (std::size_t call = 0; call < 6; ++call) {
        const AnalysisOutput a = run(plain, ts::frame(pcm, call));
        const AnalysisOutput b = run(smoothed, ts::frame(pcm, call));
        if (!a.params) continue;
        ASSERT_TRUE(b.params.has_value());
        EXPECT_EQ(a.params->omega0(), b.params->omega0());
        for (std::size_t l = 0; l < a.params->harmonic_count(); ++l) {
            EXPECT_NEAR(b.params->amplitudes()[l], a.params->amplitudes()[l], 0.2f * a.params->amplitudes()[l] + 1.0f);
        }
    }
}

TEST(EncodeWithTrace, PyinSuppliesThePitchWhenEnabled) {
    const auto pcm = ts::harmonic_pcm(61.0, 160 * 6);
    AnalysisState state;
    state.settings.pyin_pitch = true;
    for (std::size_t call = 0; call < 6; ++call) {
        const AnalysisOutput out = run(state, ts::frame(pcm, call));
        if (!out.params) continue;
        EXPECT_NEAR(out.trace->pitch_period, 61.0, 0.5);
        EXPECT_NEAR(2.0 * std::numbers::pi / out.params->omega0(), 61.0, 0.25);
        EXPECT_GT(out.trace->lookahead_period, 0.0);  // still computed for the trace
    }
    EXPECT_TRUE(state.pyin.initialized);
}

TEST(EncodeWithTrace, DefaultPitchOnSilenceStoresNeutralTrackerValues) {
    const std::uint32_t seed = 4242;
    SCOPED_TRACE("seed " + std::to_string(seed));
    AnalysisState state;
    state.settings.default_pitch_on_silence = true;
    // Quiet noise after a loud start keeps the silent flag set with a poor pitch fit.
    const auto loud = ts::noise_pcm(seed, 160 * 4, 8000.0);
    const auto quiet = ts::noise_pcm(seed + 1, 160 * 12, 20.0);
    for (std::size_t call = 0; call < 4; ++call) run(state, ts::frame(loud, call));
    int neutral = 0;
    for (std::size_t call = 0; call < 12; ++call) {
        const AnalysisOutput out = run(state, ts::frame(quiet, call));
        if (!out.trace || !state.silent) continue;
        if (out.trace->pitch_period > 80.0 && out.trace->pitch_error >= 0.4) {
            EXPECT_EQ(state.previous_period, 25.0);
            EXPECT_EQ(state.previous_error, 1.0);
            ++neutral;
        } else {
            EXPECT_EQ(state.previous_period, out.trace->pitch_period);
        }
    }
    EXPECT_GT(neutral, 0);
}


TEST(EncodeWithTrace, NoiseEstimateIsLearnedWithSubtractionOffAndLowersAmplitudesWhenOn) {
    // A quiet steady tone repeats every frame (period 80 divides 160): the estimator learns it.
    const auto pcm = ts::harmonic_pcm(80.0, 160 * 12, 3.0);
    AnalysisState on;
    AnalysisState off;
    off.settings.spectral_subtraction = false;
    bool compared = false;
    for (std::size_t call = 0; call < 12; ++call) {
        const AnalysisOutput a = run(on, ts::frame(pcm, call));
        const AnalysisOutput b = run(off, ts::frame(pcm, call));
        EXPECT_TRUE(on.noise_spectrum == off.noise_spectrum) << "call " << call;
        if (!on.noise_spectrum.ready || !a.params || !b.params) continue;
        ASSERT_EQ(a.params->harmonic_count(), b.params->harmonic_count());
        for (std::size_t l = 0; l < a.params->harmonic_count(); ++l) {
            EXPECT_LE(a.params->amplitudes()[l], b.params->amplitudes()[l]);
        }
        compared = true;
    }
    EXPECT_TRUE(compared);
}

TEST(EncodeWithTrace, PitchSilenceOverrideDispatchesQuietPoorlyPeriodicFrames) {
    const std::uint32_t seed = 2024;
    SCOPED_TRACE("seed " + std::to_string(seed));
    const auto loud = ts::noise_pcm(seed, 160 * 30, 6000.0);
    const auto quiet = ts::noise_pcm(seed + 1, 160 * 4, 1000.0);
    for (bool override_on : {false, true}) {
        AnalysisState state;
        state.settings.silence_dispatch = true;
        state.settings.pitch_silence_override = override_on;
        for (std::size_t call = 0; call < 30; ++call) run(state, ts::frame(loud, call));
        int dispatched = 0;
        for (std::size_t call = 0; call < 4; ++call) {
            const AnalysisOutput out = run(state, ts::frame(quiet, call));
            ASSERT_TRUE(out.trace.has_value());
            ASSERT_FALSE(out.trace->silent);  // fewer than five quiet frames so far
            const bool rule = out.trace->pitch_error >= 0.4 && out.trace->frame_energy < 2.0 * out.trace->noise_floor;
            EXPECT_EQ(!out.params.has_value(), override_on && rule) << "call " << call;
            dispatched += out.params ? 0 : 1;
        }
        if (override_on) {
            EXPECT_GT(dispatched, 0);
        }
    }
}


// The front end as the half-rate path drives it: a harmonic-count fit that may refuse the
// fundamental, and no look-back or look-ahead when PYIN supplies the pitch.
std::optional<std::uint8_t> refuse_all(double) { return std::nullopt; }
std::optional<std::uint8_t> always_twenty(double) { return 20; }

AnalysisState warmed_up(const std::vector<std::int16_t>& pcm) {
    AnalysisState state;
    (void)encode_with_trace(ts::frame(pcm, 0), state);
    (void)encode_with_trace(ts::frame(pcm, 1), state);
    return state;
}

TEST(AnalyseFrontEnd, RefusedFundamentalSkipsVoicingAndSmoothing) {
    const auto pcm = ts::harmonic_pcm(88.0, 160 * 3);
    AnalysisState state = warmed_up(pcm);
    const vuv::VoicingState voicing_before = state.voicing;
    const auto previous_l = state.previous_l;
    auto front = analyse_front_end(ts::frame(pcm, 2), state, FrontEndOptions{true, &refuse_all});
    ASSERT_TRUE(front.has_value() && front->has_value());
    EXPECT_FALSE((*front)->fundamental_in_range);
    EXPECT_TRUE(state.voicing == voicing_before);
    EXPECT_EQ(state.previous_l, previous_l);
    EXPECT_TRUE(state.noise_spectrum.primed);  // the estimator still saw the frame
    dispatch_silence(state, **front);
    EXPECT_EQ(state.previous_period, (*front)->tracker_period);
}

TEST(AnalyseFrontEnd, FittedHarmonicCountDrivesVoicingAndAmplitudes) {
    const auto pcm = ts::harmonic_pcm(88.0, 160 * 3);
    AnalysisState state = warmed_up(pcm);
    auto front = analyse_front_end(ts::frame(pcm, 2), state, FrontEndOptions{true, &always_twenty});
    ASSERT_TRUE(front.has_value() && front->has_value());
    const FrontEndResult& r = **front;
    EXPECT_EQ(r.pitch.harmonic_count, 20);
    EXPECT_EQ(r.trace.vuv.band_count, 7);
    EXPECT_GT(r.amplitudes[20], 0.0);
    for (std::size_t l = 21; l < r.amplitudes.size(); ++l) EXPECT_EQ(r.amplitudes[l], 0.0);
    EXPECT_EQ(state.previous_l, 20);
    EXPECT_EQ(build_params(r)->harmonic_count(), 20);
}

TEST(AnalyseFrontEnd, PyinWithoutTrackingSkipsLookBackAndLookAhead) {
    const auto pcm = ts::harmonic_pcm(66.0, 160 * 3);
    AnalysisState state = warmed_up(pcm);
    state.settings.pyin_pitch = true;
    auto front = analyse_front_end(ts::frame(pcm, 2), state, FrontEndOptions{false, nullptr});
    ASSERT_TRUE(front.has_value() && front->has_value());
    EXPECT_EQ((*front)->trace.lookahead_period, 0.0);
    EXPECT_EQ((*front)->trace.lookback_period, 0.0);
    EXPECT_NEAR((*front)->trace.pitch_period, 66.0, 0.5);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
