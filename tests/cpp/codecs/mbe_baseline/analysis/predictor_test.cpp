// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/predictor.h"

#include <gtest/gtest.h>

#include "codecs/mbe_baseline/analysis/analysis.h"
#include "imbe_wire/dequantize.h"
#include "imbe_wire/priority.h"
#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor {
namespace {

namespace dq = imbe_wire::dequantize;
namespace ts = test_signals;

TEST(PredictorState, ResetValueSeedsAFreshQuantizerState) {
    const PredictorState reset;
    const AmplitudeSlice slice = reset.m_tilde_prev_slice();
    ASSERT_EQ(slice.slice().size(), 30u);
    for (float a : slice.slice()) EXPECT_EQ(a, 1.0f);
    EXPECT_TRUE(dq::DecoderState::from_amplitudes(slice.slice(), reset.count) == dq::DecoderState{});

    PredictorState empty;
    empty.count = 0;
    EXPECT_TRUE(empty.m_tilde_prev_slice().slice().empty());
}

// Closed loop: after every voice frame the encoder-side predictor holds exactly the amplitudes a
// decoder of the quantized frame reconstructs from the predictor it held before.
TEST(PredictorState, TracksTheDecoderAcrossVoiceFrames) {
    std::vector<std::int16_t> pcm = ts::harmonic_pcm(70.0, 160 * 5);
    const std::vector<std::int16_t> second = ts::harmonic_pcm(95.0, 160 * 5, 800.0);
    pcm.insert(pcm.end(), second.begin(), second.end());
    AnalysisState state;
    int voice_frames = 0;
    for (std::size_t call = 0; call < 10; ++call) {
        const PredictorState before = state.imbe_predictor;
        const auto out = encode_with_trace(ts::frame(pcm, call), state);
        ASSERT_TRUE(out.has_value());
        if (!out->params) {
            EXPECT_TRUE(state.imbe_predictor == before);
            continue;
        }
        ++voice_frames;
        dq::DecoderState decoder = dq::DecoderState::from_amplitudes(before.m_tilde_prev_slice().slice(), before.count);
        ASSERT_TRUE(dq::quantize(*out->params, decoder).has_value());
        const std::uint8_t l = out->params->harmonic_count();
        ASSERT_EQ(state.imbe_predictor.count, l);
        EXPECT_EQ(state.imbe_predictor.amplitudes[0], 1.0);
        for (std::size_t h = 1; h <= l; ++h) {
            EXPECT_EQ(static_cast<float>(state.imbe_predictor.amplitudes[h]), decoder.previous_amplitudes[h]) << h;
        }
    }
    EXPECT_EQ(voice_frames, 8);
}

// The quantizer codes L only through the pitch index, so the analysed L must be the one the
// decoder derives from it, also for the fractional periods PYIN gives.
TEST(PredictorState, PyinFramesDecodeWithTheAnalysedHarmonicCount) {
    int frames = 0;
    for (double period = 21.3; period < 122.0; period += 1.37) {
        const auto pcm = ts::harmonic_pcm(period, 160 * 4);
        AnalysisState state;
        state.settings.pyin_pitch = true;
        for (std::size_t call = 0; call < 4; ++call) {
            const auto out = encode_with_trace(ts::frame(pcm, call), state);
            ASSERT_TRUE(out.has_value()) << period;
            if (!out->params) continue;
            dq::DecoderState encoder;
            const auto b = dq::quantize(*out->params, encoder);
            ASSERT_TRUE(b.has_value());
            const std::uint8_t l = out->params->harmonic_count();
            dq::DecoderState decoder;
            const auto decoded = dq::dequantize(imbe_wire::priority::prioritize(*b, l), decoder);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(decoded->harmonic_count(), l) << "period " << period;
            ++frames;
        }
    }
    EXPECT_GT(frames, 100);
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor
