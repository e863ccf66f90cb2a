// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate_conversion/converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "ambe_plus2_wire/frame.h"
#include "ambe_plus2_wire/priority.h"
#include "imbe_wire/frame.h"
#include "imbe_wire/priority.h"

namespace ostrel_mbe::rate_conversion {
namespace {

namespace imbe_dq = imbe_wire::dequantize;
namespace ambe_dq = ambe_plus2_wire::dequantize;

MbeParams voiced_params(float omega0, std::uint8_t l, float level = 100.0f) {
    std::array<bool, L_HAT_MAX> v{};
    std::array<float, L_HAT_MAX> a{};
    for (std::size_t i = 0; i < l; ++i) {
        v[i] = i < l / 2;
        a[i] = level / static_cast<float>(i + 1);
    }
    return MbeParams::from_valid(omega0, std::span<const bool>(v.data(), l), std::span<const float>(a.data(), l));
}

// The IMBE frame a full-rate encoder sends for params, against a fresh predictor.
FullRateSymbols imbe_frame(const MbeParams& params, imbe_dq::DecoderState& state) {
    const auto b = *imbe_dq::quantize(params, state);
    return imbe_wire::frame::encode_frame(imbe_wire::priority::prioritize(b, params.harmonic_count()));
}

TEST(ClampOmega, InsideUnchangedOutsideClamped) {
    const MbeParams p = voiced_params(0.2f, 15);
    EXPECT_EQ(clamp_omega_to(p, 0.1f, 0.3f), p);
    EXPECT_EQ(clamp_omega_to(p, 0.2f, 0.2f), p);
    const MbeParams high = clamp_omega_to(p, 0.05f, 0.15f);
    EXPECT_EQ(high.omega0(), 0.15f);
    EXPECT_TRUE(std::ranges::equal(high.amplitudes(), p.amplitudes()));
    EXPECT_TRUE(std::ranges::equal(high.voiced(), p.voiced()));
    EXPECT_EQ(clamp_omega_to(p, 0.25f, 0.3f).omega0(), 0.25f);
}

TEST(ConvertError, DebugTexts) {
    EXPECT_EQ(ConvertError{imbe_dq::DecodeError{imbe_dq::DecodeErrorKind::BadPitch}}.debug(), "Decode(BadPitch)");
    EXPECT_EQ((ConvertError{imbe_dq::DecodeError{imbe_dq::DecodeErrorKind::InvalidParams, MbeParamsError::OmegaOutOfRange}}.debug()),
              "Decode(InvalidParams(OmegaOutOfRange))");
    EXPECT_EQ(ConvertError{imbe_dq::EncodeError::PitchOutOfRange}.debug(), "Encode(PitchOutOfRange)");
    EXPECT_EQ(ConvertError{ConvertError::HalfPitchOutOfRange{}}.debug(), "HalfPitchOutOfRange");
}

TEST(FullToHalf, InvalidPitchGivesTheErasureFrameAndLeavesTheStateAlone) {
    imbe_dq::BValues b{};
    b[0] = 220;  // outside the coded range 0..207
    const FullRateSymbols invalid = imbe_wire::frame::encode_frame(imbe_wire::priority::prioritize(b, 9));

    imbe_dq::DecoderState sender;
    const FullRateSymbols f1 = imbe_frame(voiced_params(0.12f, 23), sender);
    const FullRateSymbols f2 = imbe_frame(voiced_params(0.13f, 22, 300.0f), sender);

    // The blend state is read only when the envelope mix is on.
    FullToHalfConverter with_erasure(predictor::EnvelopeMix::Previous), without(predictor::EnvelopeMix::Previous);
    const auto erasure = with_erasure.convert(invalid);
    ASSERT_TRUE(erasure);
    const auto u = ambe_plus2_wire::frame::decode_frame(*erasure).u;
    EXPECT_EQ(ambe_plus2_wire::priority::deprioritize(u), (ambe_dq::BValues{120, 0, 0, 0, 0, 0, 0, 0, 0}));
    ambe_dq::DecoderState receiver;
    EXPECT_TRUE(std::holds_alternative<ambe_dq::DecodedFrame::Erasure>(ambe_dq::decode_to_params(u, receiver).kind));

    // The erasure moved no state: what follows converts as if it had not been there.
    for (const auto& f : {f1, f2}) EXPECT_EQ(*with_erasure.convert(f), *without.convert(f));
}

TEST(HalfToFull, FrameWithoutParametersGivesPitchIndex208) {
    ambe_dq::BValues b{};
    b[0] = 124;  // an erasure
    const HalfRateSymbols erasure = ambe_plus2_wire::frame::encode_frame(ambe_plus2_wire::priority::prioritize(b));
    HalfToFullConverter converter;
    const auto out = converter.convert(erasure);
    ASSERT_TRUE(out);
    const auto u = imbe_wire::frame::decode_frame(*out).u;
    EXPECT_EQ(imbe_wire::priority::pitch_index(u), 208);
    imbe_dq::BValues expected{};
    expected[0] = 208;
    EXPECT_EQ(imbe_wire::priority::deprioritize(u, 9), expected);
}

// A frame's fundamental lands on the destination's pitch grid, and the destination decodes it.
TEST(Converters, FundamentalFollowsTheDestinationGrid) {
    for (float omega0 : {0.06f, 0.1f, 0.2f, 0.3f}) {
        imbe_dq::DecoderState sender;
        FullToHalfConverter to_half;
        const auto half = *to_half.convert(imbe_frame(voiced_params(omega0, imbe_dq::decode_pitch(*imbe_dq::encode_pitch(omega0))->harmonic_count), sender));
        ambe_dq::DecoderState half_receiver;
        const auto decoded = ambe_dq::decode_to_params(ambe_plus2_wire::frame::decode_frame(half).u, half_receiver);
        ASSERT_NE(decoded.params(), nullptr) << omega0;
        EXPECT_NEAR(decoded.params()->omega0() / omega0, 1.0, 0.03) << omega0;

        HalfToFullConverter to_full;
        const auto full = *to_full.convert(half);
        imbe_dq::DecoderState full_receiver;
        const auto back = imbe_dq::dequantize(imbe_wire::frame::decode_frame(full).u, full_receiver);
        ASSERT_TRUE(back) << omega0;
        EXPECT_NEAR(back->omega0() / omega0, 1.0, 0.03) << omega0;
    }
}

}  // namespace
}  // namespace ostrel_mbe::rate_conversion
