// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace ostrel_mbe {
namespace {

namespace dq = ambe_plus2_wire::dequantize;

// With and without the quantizer search.
class AmbePlus2PipelineClosedLoop : public ::testing::TestWithParam<bool> {};

TEST_P(AmbePlus2PipelineClosedLoop, EncoderPredictorTracksTheDecoderExactly) {
    // The encode direction must predict from the spectrum a decoder holds, not from the
    // unquantized analysis, or the two drift apart frame by frame.
    codecs::mbe_baseline::analysis::AnalysisState analysis{};
    dq::DecoderState encoder_state{}, decoder_state{};
    double phase = 0.0;
    int voice_frames = 0;
    for (int i = 0; i < 40; ++i) {
        std::vector<std::int16_t> pcm(FRAME_SAMPLES);
        const double f0 = 110.0 + 3.0 * i;
        for (auto& s : pcm) {
            phase += 2.0 * std::numbers::pi * f0 / 8000.0;
            double v = 0.0;
            for (int h = 1; h * f0 < 3800.0; ++h) v += std::sin(h * phase) / (1.0 + 0.2 * h * (i % 3));
            s = static_cast<std::int16_t>(std::lround(3000.0 * v));
        }
        auto encoded = ambe_plus2_pipeline::encode(pcm, {false, analysis, encoder_state, GetParam()}, false);
        ASSERT_TRUE(encoded) << encoded.error().display();
        const auto u = wire_bytes_layout::unpack_info_half(std::span<const std::uint8_t, 7>(encoded->frame.bytes.data(), 7));
        const dq::DecodedFrame frame = dq::decode_to_params(u, decoder_state);
        if (encoded->report.kind == OutputKind::Voice) ++voice_frames;
        ASSERT_EQ(encoder_state, decoder_state) << "frame " << i;
        ASSERT_NE(frame.params(), nullptr);
    }
    EXPECT_GT(voice_frames, 30);
}

INSTANTIATE_TEST_SUITE_P(QuantizerSearch, AmbePlus2PipelineClosedLoop, ::testing::Bool());

TEST(AmbePlus2Pipeline, PackInfoOrFecLengths) {
    const std::array<std::uint16_t, 4> u{0xABC, 0x123, 0x456, 0x2AAA};
    EXPECT_EQ(ambe_plus2_pipeline::pack_info_or_fec(u, true).length, 9);
    const WireFrame bare = ambe_plus2_pipeline::pack_info_or_fec(u, false);
    ASSERT_EQ(bare.length, 7);
    EXPECT_EQ(wire_bytes_layout::unpack_info_half(std::span<const std::uint8_t, 7>(bare.bytes.data(), 7)), u);
}

}  // namespace
}  // namespace ostrel_mbe
