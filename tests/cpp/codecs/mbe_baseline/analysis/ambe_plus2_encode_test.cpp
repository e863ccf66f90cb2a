// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/ambe_plus2_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "ambe_plus2_wire/codebook_search.h"
#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/generated_tables.h"
#include "ambe_plus2_wire/priority.h"
#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

namespace dq = ambe_plus2_wire::dequantize;
namespace ts = test_signals;
using ambe_plus2_wire::tables::PITCH;

constexpr float INF32 = std::numeric_limits<float>::infinity();

double entry_omega(std::size_t i) { return static_cast<double>(PITCH[i].omega0); }

// Reference for the table fit: the nearest entry by a full scan, first index on a tie.
std::size_t nearest_by_scan(double w) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < PITCH.size(); ++i) {
        if (std::abs(w - entry_omega(i)) < std::abs(w - entry_omega(best))) best = i;
    }
    return best;
}

// ---- Pitch-table fit and half-rate range ----

TEST(AmbePlus2PitchEntry, EveryEntryFitsItself) {
    for (std::size_t i = 0; i < PITCH.size(); ++i) {
        ASSERT_EQ(ambe_plus2_pitch_entry(entry_omega(i)), i);
        EXPECT_EQ(fit_ambe_plus2_harmonic_count(entry_omega(i)), PITCH[i].harmonics);
    }
}

TEST(AmbePlus2PitchEntry, RandomFundamentalsInRangeTakeTheNearestEntry) {
    const std::uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> omega(dq::OMEGA0_MIN, dq::OMEGA0_MAX);
    for (int i = 0; i < 5000; ++i) {
        const double w0 = omega(rng);
        const auto entry = ambe_plus2_pitch_entry(w0);
        ASSERT_TRUE(entry.has_value()) << w0;
        ASSERT_EQ(*entry, nearest_by_scan(static_cast<double>(static_cast<float>(w0)))) << w0;
    }
}

// Where the midpoint of two neighbours is itself a 32-bit value, it takes the larger fundamental.
TEST(AmbePlus2PitchEntry, ExactMidpointTakesTheLowerIndex) {
    int midpoints = 0;
    int with_different_l = 0;
    for (std::size_t i = 0; i + 1 < PITCH.size(); ++i) {
        const double mid = 0.5 * (entry_omega(i) + entry_omega(i + 1));
        if (static_cast<double>(static_cast<float>(mid)) != mid) continue;
        ++midpoints;
        EXPECT_EQ(ambe_plus2_pitch_entry(mid), i) << "between entries " << i << " and " << i + 1;
        EXPECT_EQ(fit_ambe_plus2_harmonic_count(mid), PITCH[i].harmonics);
        if (PITCH[i].harmonics != PITCH[i + 1].harmonics) ++with_different_l;
        // One 32-bit step towards the smaller fundamental crosses over.
        const double below = static_cast<double>(std::nextafter(static_cast<float>(mid), 0.0f));
        EXPECT_EQ(ambe_plus2_pitch_entry(below), i + 1);
    }
    EXPECT_GT(midpoints, 10);
    EXPECT_GT(with_different_l, 10);
}

TEST(AmbePlus2PitchEntry, UpperBoundIsJudgedOnThe32BitFundamental) {
    const float first = PITCH[0].omega0;
    const float above_first = std::nextafter(first, INF32);
    ASSERT_LE(static_cast<double>(above_first), dq::OMEGA0_MAX);
    EXPECT_EQ(fit_ambe_plus2_harmonic_count(static_cast<double>(above_first)), 9);

    // The largest 32-bit value not above the bound still encodes; the next one is out of range.
    float top = static_cast<float>(dq::OMEGA0_MAX);
    if (static_cast<double>(top) > dq::OMEGA0_MAX) top = std::nextafter(top, 0.0f);
    const float beyond = std::nextafter(top, INF32);
    ASSERT_GT(static_cast<double>(beyond), dq::OMEGA0_MAX);
    EXPECT_EQ(ambe_plus2_pitch_entry(static_cast<double>(top)), 0u);
    EXPECT_EQ(fit_ambe_plus2_harmonic_count(static_cast<double>(top)), 9);
    EXPECT_FALSE(ambe_plus2_pitch_entry(static_cast<double>(beyond)).has_value());

    // A 64-bit value inside the bound that rounds up past it is refused: the quantizer would see
    // the 32-bit value and refuse it too.
    const double rounds_up = 0.5 * (static_cast<double>(top) + static_cast<double>(beyond)) + 1e-12;
    ASSERT_LE(rounds_up, dq::OMEGA0_MAX);
    ASSERT_EQ(static_cast<float>(rounds_up), beyond);
    EXPECT_FALSE(ambe_plus2_pitch_entry(rounds_up).has_value());
}

TEST(AmbePlus2PitchEntry, LowerBoundIsJudgedOnThe32BitFundamental) {
    float bottom = static_cast<float>(dq::OMEGA0_MIN);
    if (static_cast<double>(bottom) < dq::OMEGA0_MIN) bottom = std::nextafter(bottom, INF32);
    const float beyond = std::nextafter(bottom, 0.0f);
    ASSERT_LT(static_cast<double>(beyond), dq::OMEGA0_MIN);
    EXPECT_EQ(ambe_plus2_pitch_entry(static_cast<double>(bottom)), PITCH.size() - 1);
    EXPECT_EQ(fit_ambe_plus2_harmonic_count(static_cast<double>(bottom)), 56);
    EXPECT_FALSE(ambe_plus2_pitch_entry(static_cast<double>(beyond)).has_value());
}

TEST(AmbePlus2PitchEntry, NonFiniteAndFarOutsideValuesAreRefused) {
    for (double w : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), 0.0, -0.2, 0.05, 0.32, std::numbers::pi, 1e300}) {
        EXPECT_FALSE(ambe_plus2_pitch_entry(w).has_value()) << w;
        EXPECT_FALSE(fit_ambe_plus2_harmonic_count(w).has_value()) << w;
    }
}

// ---- Encoder-side predictor ----

MbeParams params_for_entry(std::size_t entry, float level) {
    const std::size_t l = PITCH[entry].harmonics;
    std::array<bool, L_HAT_MAX> voiced{};
    std::array<float, L_HAT_MAX> amplitudes{};
    for (std::size_t h = 0; h < l; ++h) {
        voiced[h] = h < l / 2;
        amplitudes[h] = level / static_cast<float>(h + 1);
    }
    return MbeParams::from_valid(PITCH[entry].omega0, std::span<const bool>(voiced.data(), l),
                                 std::span<const float>(amplitudes.data(), l));
}

dq::DecoderState seeded_from(const predictor::AmbePlus2PredictorState& p) {
    std::array<double, predictor::SLOTS> lambda = p.lambda;
    lambda[0] = 0.0;
    return dq::DecoderState::from_lambda_state(std::span<const double>(lambda.data(), std::size_t{p.count} + 1),
                                               p.count, p.gain);
}

TEST(AmbePlus2Predictor, ResetValueSeedsAFreshQuantizerState) {
    const predictor::AmbePlus2PredictorState reset;
    EXPECT_EQ(reset.count, 15);
    EXPECT_EQ(reset.gain, 0.0);
    for (std::size_t l = 1; l <= 15; ++l) EXPECT_EQ(reset.lambda[l], 1.0);
    EXPECT_TRUE(seeded_from(reset) == dq::DecoderState{});
}

TEST(AmbePlus2Predictor, EntriesAboveTheNewCountKeepTheirValues) {
    predictor::AmbePlus2PredictorState state;
    state.count = 40;
    for (std::size_t l = 1; l < state.lambda.size(); ++l) state.lambda[l] = 0.01 * static_cast<double>(l);
    const auto before = state;
    const MbeParams params = params_for_entry(0, 2000.0f);  // L = 9
    ASSERT_TRUE(update_ambe_plus2_predictor(state, params).has_value());

    dq::DecoderState decoder = seeded_from(before);
    dq::DecoderState encoder = decoder;
    const auto u = dq::quantize(params, encoder);
    ASSERT_TRUE(u.has_value());
    ASSERT_TRUE(dq::dequantize(*u, decoder).has_value());
    EXPECT_EQ(state.count, 9);
    EXPECT_EQ(state.gain, decoder.previous_gamma);
    for (std::size_t l = 1; l <= 9; ++l) EXPECT_EQ(state.lambda[l], decoder.previous_lambda[l]) << l;
    for (std::size_t l = 10; l < state.lambda.size(); ++l) EXPECT_EQ(state.lambda[l], before.lambda[l]) << l;
}

TEST(AmbePlus2Predictor, RefusalsLeaveThePredictorUnchanged) {
    predictor::AmbePlus2PredictorState state;
    state.gain = 3.5;
    // Outside the half-rate range: the quantizer refuses.
    const std::array<bool, 9> voiced{};
    const std::array<float, 9> amplitudes{1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f};
    const MbeParams high = MbeParams::from_valid(0.4f, voiced, amplitudes);
    auto before = state;
    EXPECT_EQ(update_ambe_plus2_predictor(state, high).error(), AnalysisError::PitchOutOfRange);
    EXPECT_TRUE(state == before);

    // A gain memory so large that the decoded amplitudes overflow: the dequantizer refuses.
    state.gain = 1e6;
    before = state;
    EXPECT_EQ(update_ambe_plus2_predictor(state, params_for_entry(30, 500.0f)).error(), AnalysisError::PitchOutOfRange);
    EXPECT_TRUE(state == before);
}

// ---- The analysis step ----

std::optional<MbeParams> run(AnalysisState& state, std::span<const std::int16_t> frame) {
    auto out = encode_ambe_plus2(frame, state);
    EXPECT_TRUE(out.has_value());
    return out.value_or(std::nullopt);
}

// Harmonics falling off as 1/l with a slow vibrato of +-1.5 %, so the period is never constant.
std::vector<std::int16_t> speech_like_pcm(double period, std::size_t frames, double level) {
    std::vector<std::int16_t> pcm(160 * frames);
    double phase = 0.0;
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double p = period * (1.0 + 0.015 * std::sin(2.0 * std::numbers::pi * static_cast<double>(n) / 1300.0));
        phase += 2.0 * std::numbers::pi / p;
        double v = 0.0;
        for (int l = 1; static_cast<double>(l) * 8000.0 / p < 3600.0; ++l) {
            v += level / l * std::cos(static_cast<double>(l) * phase + 0.7 * static_cast<double>(l * l));
        }
        pcm[n] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return pcm;
}

TEST(EncodeAmbePlus2, FirstTwoCallsWarmUpThenTheFirstFrameIsAnalysedWithTheTableCount) {
    const auto pcm = ts::harmonic_pcm(90.0, 160 * 3);
    AnalysisState state;
    EXPECT_FALSE(run(state, ts::frame(pcm, 0)).has_value());
    EXPECT_FALSE(run(state, ts::frame(pcm, 1)).has_value());
    EXPECT_EQ(state.warm_up_count, 2);
    const std::array<std::int16_t, FRAME_SAMPLES> zero{};
    const auto params = run(state, zero);  // the third call describes the first frame
    ASSERT_TRUE(params.has_value());
    EXPECT_NEAR(2.0 * std::numbers::pi / params->omega0(), 90.0, 0.25);
    const auto entry = ambe_plus2_pitch_entry(static_cast<double>(params->omega0()));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(params->harmonic_count(), PITCH[*entry].harmonics);
    // The table's count, not the full-rate one, drives the analysis.
    EXPECT_EQ(state.previous_l, params->harmonic_count());
    EXPECT_NE(params->harmonic_count(), refine::harmonic_count_for(static_cast<double>(params->omega0())));
}

TEST(EncodeAmbePlus2, WrongFrameLengthLeavesTheStateUntouched) {
    const auto pcm = ts::harmonic_pcm(64.0, 160 * 4);
    AnalysisState state;
    for (std::size_t call = 0; call < 4; ++call) {
        const AnalysisState before = state;
        for (std::size_t size : {std::size_t{0}, std::size_t{159}, std::size_t{161}}) {
            const std::vector<std::int16_t> wrong(size, 1000);
            const auto out = encode_ambe_plus2(wrong, state);
            ASSERT_FALSE(out.has_value());
            EXPECT_EQ(out.error(), AnalysisError::WrongFrameLength);
            EXPECT_TRUE(state == before) << "call " << call << " size " << size;
        }
        (void)run(state, ts::frame(pcm, call));
    }
}

// A fundamental the pitch table cannot carry is silence with and without dispatch: a steady
// 122.8-sample period, then one just too long for the table (the tracker holds P^ at 122, and
// refinement lands at 123.125 samples).
class OutOfRangeFundamental : public ::testing::TestWithParam<bool> {};

TEST_P(OutOfRangeFundamental, BecomesASilenceFrame) {
    auto pcm = ts::harmonic_pcm(122.8, 160 * 4);
    const auto tail = ts::harmonic_pcm(123.5, 160 * 6);
    pcm.insert(pcm.end(), tail.begin(), tail.end());
    AnalysisState state;
    state.settings.silence_dispatch = GetParam();
    int in_range = 0;
    int out_of_range = 0;
    for (std::size_t call = 0; call < 10; ++call) {
        const AnalysisState before = state;
        // What the shared front end refines, from the same state.
        AnalysisState probe = state;
        const auto front = analyse_front_end(ts::frame(pcm, call), probe, FrontEndOptions{false, nullptr});
        const auto params = run(state, ts::frame(pcm, call));
        if (call < 2) continue;
        ASSERT_TRUE(front.has_value() && front->has_value());
        const double omega0 = (*front)->pitch.omega0;
        if (fit_ambe_plus2_harmonic_count(omega0)) {
            ++in_range;
            ASSERT_TRUE(params.has_value()) << "call " << call;
            EXPECT_EQ(params->harmonic_count(), *fit_ambe_plus2_harmonic_count(omega0));
            continue;
        }
        ++out_of_range;
        EXPECT_FALSE(params.has_value()) << "call " << call;
        EXPECT_TRUE(state.voicing == before.voicing) << "no voicing decision for call " << call;
        EXPECT_TRUE(state.ambe_plus2_predictor == before.ambe_plus2_predictor);
        EXPECT_EQ(state.previous_l, 0);
        EXPECT_EQ(state.previous_k, 0);
        EXPECT_EQ(state.previous_omega0, 0.0);
        EXPECT_EQ(state.previous_period, (*front)->tracker_period);
        EXPECT_EQ(state.previous_error, (*front)->tracker_error);
        EXPECT_EQ(state.previous_error_2, before.previous_error);
    }
    EXPECT_GE(in_range, 2);
    EXPECT_GE(out_of_range, 2);
}

INSTANTIATE_TEST_SUITE_P(SilenceDispatch, OutOfRangeFundamental, ::testing::Bool());

TEST(EncodeAmbePlus2, SilenceDispatchDropsTheFrameAndKeepsThePredictor) {
    const std::array<std::int16_t, FRAME_SAMPLES> zero{};
    AnalysisState state;
    state.settings.silence_dispatch = true;
    for (int call = 0; call < 8; ++call) {
        const auto predictor_before = state.ambe_plus2_predictor;
        const auto params = run(state, zero);
        if (state.silent) {
            EXPECT_FALSE(params.has_value()) << call;
            EXPECT_TRUE(state.ambe_plus2_predictor == predictor_before);
            EXPECT_EQ(state.previous_l, 0);
        }
    }
    EXPECT_TRUE(state.silent);
}

TEST(EncodeAmbePlus2, PyinSuppliesThePitchWithoutLookBackOrLookAhead) {
    EXPECT_FALSE(AMBE_PLUS2_FRONT_END.pitch_tracking_with_pyin);
    EXPECT_EQ(AMBE_PLUS2_FRONT_END.fit_harmonic_count, &fit_ambe_plus2_harmonic_count);

    const auto pcm = ts::harmonic_pcm(66.0, 160 * 5);
    AnalysisState state;
    state.settings.pyin_pitch = true;
    for (std::size_t call = 0; call < 5; ++call) {
        AnalysisState probe = state;
        const auto front = analyse_front_end(ts::frame(pcm, call), probe, AMBE_PLUS2_FRONT_END);
        const auto params = run(state, ts::frame(pcm, call));
        if (call < 2) continue;
        ASSERT_TRUE(front.has_value() && front->has_value());
        const FrontEndResult& r = **front;
        EXPECT_EQ(r.trace.lookback_period, 0.0);
        EXPECT_EQ(r.trace.lookahead_period, 0.0);
        EXPECT_NEAR(r.trace.pitch_period, 66.0, 0.5);
        // The step itself ran the same front end.
        ASSERT_TRUE(params.has_value());
        EXPECT_EQ(params->omega0(), static_cast<float>(r.pitch.omega0));
        EXPECT_TRUE(state.pyin == probe.pyin);
        EXPECT_TRUE(state.voicing == probe.voicing);
        EXPECT_TRUE(state.previous_amplitudes == probe.previous_amplitudes);
    }
}

TEST(EncodeAmbePlus2, FirstVoiceFrameIsQuantizedAgainstTheResetPredictor) {
    const auto pcm = ts::harmonic_pcm(47.0, 160 * 3);
    AnalysisState state;
    (void)run(state, ts::frame(pcm, 0));
    (void)run(state, ts::frame(pcm, 1));
    ASSERT_TRUE(seeded_from(state.ambe_plus2_predictor) == dq::DecoderState{});
    const auto params = run(state, ts::frame(pcm, 2));
    ASSERT_TRUE(params.has_value());

    dq::DecoderState encoder;
    const auto u = dq::quantize(*params, encoder);
    ASSERT_TRUE(u.has_value());
    dq::DecoderState decoder;
    ASSERT_TRUE(dq::dequantize(*u, decoder).has_value());
    EXPECT_TRUE(seeded_from(state.ambe_plus2_predictor) == decoder);
}

// Closed loop: a decoder that receives only the voice frames, each quantized against the
// encoder-side predictor, always holds exactly the predictor's state.
TEST(EncodeAmbePlus2, PredictorTracksADecoderOfTheVoiceFrames) {
    std::vector<std::int16_t> pcm;
    for (const auto& [period, level] : {std::pair{58.0, 2500.0}, std::pair{31.0, 900.0}, std::pair{97.0, 4000.0},
                                        std::pair{122.8, 1500.0}, std::pair{123.5, 1500.0}}) {
        const auto part = speech_like_pcm(period, 4, level);
        pcm.insert(pcm.end(), part.begin(), part.end());
    }
    AnalysisState state;
    dq::DecoderState decoder;
    int voice_frames = 0;
    for (std::size_t call = 0; call < pcm.size() / 160; ++call) {
        const auto predictor_before = state.ambe_plus2_predictor;
        const auto params = run(state, ts::frame(pcm, call));
        if (!params) {
            EXPECT_TRUE(state.ambe_plus2_predictor == predictor_before) << "call " << call;
            continue;
        }
        ++voice_frames;
        dq::DecoderState encoder = seeded_from(predictor_before);
        const auto u = dq::quantize(*params, encoder);
        ASSERT_TRUE(u.has_value());
        const auto decoded = dq::dequantize(*u, decoder);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->harmonic_count(), params->harmonic_count());
        EXPECT_EQ(state.ambe_plus2_predictor.count, decoder.previous_l) << "call " << call;
        EXPECT_EQ(state.ambe_plus2_predictor.gain, decoder.previous_gamma) << "call " << call;
        EXPECT_TRUE(seeded_from(state.ambe_plus2_predictor) == decoder) << "call " << call;
    }
    EXPECT_GE(voice_frames, 15);
}

TEST(EncodeAmbePlus2, PredictorRefusalFailsWithoutMovingTrackerOrPredictor) {
    const auto pcm = ts::harmonic_pcm(52.0, 160 * 3);
    AnalysisState state;
    (void)run(state, ts::frame(pcm, 0));
    (void)run(state, ts::frame(pcm, 1));
    state.ambe_plus2_predictor.gain = 1e6;  // decoded amplitudes would overflow
    const AnalysisState before = state;
    const auto out = encode_ambe_plus2(ts::frame(pcm, 2), state);
    ASSERT_FALSE(out.has_value());
    EXPECT_EQ(out.error(), AnalysisError::PitchOutOfRange);
    EXPECT_TRUE(state.ambe_plus2_predictor == before.ambe_plus2_predictor);
    EXPECT_EQ(state.previous_period, before.previous_period);
    EXPECT_EQ(state.previous_error, before.previous_error);
    EXPECT_EQ(state.previous_error_2, before.previous_error_2);
    // The front end's updates stand.
    EXPECT_FALSE(state.history == before.history);
    EXPECT_NE(state.previous_l, before.previous_l);
}

// Analysed parameters quantize to the nearest pitch entry and decode with the analysed count.
class AnalysedSpeechLike : public ::testing::TestWithParam<double> {};

TEST_P(AnalysedSpeechLike, QuantizeTakesTheNearestPitchEntry) {
    const auto pcm = speech_like_pcm(GetParam(), 4, 2000.0);
    AnalysisState state;
    int frames = 0;
    for (std::size_t call = 0; call < 4; ++call) {
        const auto params = run(state, ts::frame(pcm, call));
        if (!params) continue;
        ++frames;
        const double omega0 = static_cast<double>(params->omega0());
        dq::DecoderState encoder;
        const auto u = dq::quantize(*params, encoder);
        ASSERT_TRUE(u.has_value());
        const std::size_t b0 = ambe_plus2_wire::priority::deprioritize(*u)[0];
        EXPECT_EQ(b0, nearest_by_scan(omega0));
        dq::DecoderState decoder;
        const auto decoded = dq::dequantize(*u, decoder);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->harmonic_count(), params->harmonic_count());
        EXPECT_EQ(decoded->omega0(), PITCH[b0].omega0);
        EXPECT_LE(std::abs(static_cast<double>(decoded->omega0()) - omega0), 0.5 * (entry_omega(0) - entry_omega(1)));
    }
    EXPECT_EQ(frames, 2);
}

INSTANTIATE_TEST_SUITE_P(Periods, AnalysedSpeechLike, ::testing::Values(23.3, 37.9, 52.1, 70.4, 96.7, 118.2));

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
