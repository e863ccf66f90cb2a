// SPDX-License-Identifier: GPL-2.0-or-later
#include "transcoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "test_signal.h"
#include "vocoder.h"

namespace ostrel_mbe {
namespace {

constexpr Rate ALL_RATES[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                              Rate::AmbePlus2_2450x2450};

using test_signal::voiced_signal;

std::vector<WireFrame> encode_all(Rate rate, const std::vector<std::int16_t>& pcm) {
    Vocoder v(rate);
    std::vector<WireFrame> frames;
    for (std::size_t i = 0; i + FRAME_SAMPLES <= pcm.size(); i += FRAME_SAMPLES) {
        frames.push_back(*v.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i, FRAME_SAMPLES)));
    }
    return frames;
}

std::vector<std::int16_t> decode_all(Rate rate, const std::vector<WireFrame>& frames) {
    Vocoder v(rate);
    std::vector<std::int16_t> pcm;
    for (const auto& f : frames) {
        const auto out = *v.decode_bits(f.span());
        pcm.insert(pcm.end(), out.begin(), out.end());
    }
    return pcm;
}

std::vector<WireFrame> transcode_all(Rate from, Rate to, const std::vector<WireFrame>& frames) {
    auto t = *Transcoder::create(from, to);
    std::vector<WireFrame> out;
    for (const auto& f : frames) {
        auto r = t.transcode(f.span());
        EXPECT_TRUE(r) << r.error().display();
        if (r) out.push_back(*r);
    }
    return out;
}

double rms(std::span<const std::int16_t> x) {
    double e = 0.0;
    for (auto v : x) e += static_cast<double>(v) * v;
    return std::sqrt(e / static_cast<double>(x.size()));
}

// Fundamental in Hz of the strongest normalised autocorrelation peak between 60 and 400 Hz.
double pitch_hz(std::span<const std::int16_t> x) {
    double best = -1.0;
    int best_lag = 0;
    for (int lag = 20; lag <= 133; ++lag) {
        double num = 0.0, den = 1e-9;
        for (std::size_t n = lag; n < x.size(); ++n) {
            num += static_cast<double>(x[n]) * x[n - lag];
            den += static_cast<double>(x[n - lag]) * x[n - lag];
        }
        if (num / den > best) {
            best = num / den;
            best_lag = lag;
        }
    }
    return 8000.0 / best_lag;
}

bool is_same_codec(Rate a, Rate b) { return is_imbe(a) == is_imbe(b); }

TEST(Transcoder, ExactlySixDirectionsAreSupported) {
    int supported = 0;
    for (Rate from : ALL_RATES) {
        for (Rate to : ALL_RATES) {
            auto t = Transcoder::create(from, to);
            const bool expected = from != to && (is_same_codec(from, to) || (has_fec(from) && has_fec(to)));
            EXPECT_EQ(t.has_value(), expected) << debug_name(from) << " -> " << debug_name(to);
            if (t) {
                ++supported;
                continue;
            }
            EXPECT_EQ(t.error().display(), "unsupported transcode direction: " + std::string(debug_name(from)) +
                                               " -> " + std::string(debug_name(to)));
        }
    }
    EXPECT_EQ(supported, 6);
}

TEST(Transcoder, WrongLengthIsRefusedWithoutStateChange) {
    const auto frames = encode_all(Rate::Imbe7200x4400, voiced_signal(8, 130.0));
    auto reference = *Transcoder::create(Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450);
    auto t = *Transcoder::create(Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450);
    const std::vector<std::uint8_t> wrong(9);
    for (const auto& f : frames) {
        auto refused = t.transcode(wrong);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().display(), "expected 18 FEC bytes per frame, got 9");
        EXPECT_EQ(t.transcode(f.span())->span().size(), 9u);
        (void)reference.transcode(f.span());
    }
    // Same state after the refused calls: the next frame converts identically.
    EXPECT_EQ(t.transcode(frames[3].span())->bytes, reference.transcode(frames[3].span())->bytes);
}

// Same-codec directions: FEC -> bare -> FEC is the identity on valid frames, and bit errors in
// the protected code vectors are corrected on the way to the bare form.
struct SameCodec {
    Rate fec;
    Rate bare;
};
class SameCodecDirections : public ::testing::TestWithParam<SameCodec> {};
INSTANTIATE_TEST_SUITE_P(Transcoder, SameCodecDirections,
                         ::testing::Values(SameCodec{Rate::Imbe7200x4400, Rate::Imbe4400x4400},
                                           SameCodec{Rate::AmbePlus2_3600x2450, Rate::AmbePlus2_2450x2450}),
                         [](const auto& p) { return std::string(debug_name(p.param.fec)); });

TEST_P(SameCodecDirections, FecToBareToFecIsTheIdentityAndCorrectsErrors) {
    const auto [fec, bare] = GetParam();
    const auto frames = encode_all(fec, voiced_signal(12, 110.0));
    auto down = *Transcoder::create(fec, bare);
    auto up = *Transcoder::create(bare, fec);
    // Bits outside the Golay/Hamming code vectors: IMBE c7 (7 bits), AMBE+2 c2 and c3 (25 bits).
    const std::size_t unprotected = is_imbe(fec) ? 7 : 25;
    const std::size_t bytes = wire_bytes(fec);
    for (const auto& f : frames) {
        const WireFrame b = *down.transcode(f.span());
        ASSERT_EQ(b.length, wire_bytes(bare));
        EXPECT_EQ(up.transcode(b.span())->bytes, f.bytes);
        // Every single bit error in a protected code vector is corrected on the way down.
        std::size_t corrected = 0;
        for (std::size_t bit = 0; bit < 8 * bytes; ++bit) {
            WireFrame damaged = f;
            damaged.bytes[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
            corrected += down.transcode(damaged.span())->bytes == b.bytes;
        }
        EXPECT_EQ(corrected, 8 * bytes - unprotected);
    }
}

TEST(Transcoder, ResetGivesAFreshConverterAndKeepsTheEnvelopeMix) {
    using rate_conversion::predictor::EnvelopeMix;
    const auto frames = encode_all(Rate::AmbePlus2_3600x2450, voiced_signal(10, 180.0));
    auto t = *Transcoder::create(Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400);
    EXPECT_EQ(t.envelope_mix(), EnvelopeMix::None);
    t.set_envelope_mix(EnvelopeMix::Previous);
    for (const auto& f : frames) (void)t.transcode(f.span());
    t.reset();
    EXPECT_EQ(t.envelope_mix(), EnvelopeMix::Previous);
    auto fresh = *Transcoder::create(Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400);
    fresh.set_envelope_mix(EnvelopeMix::Previous);
    auto unmixed = *Transcoder::create(Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400);
    std::size_t differ = 0;
    for (const auto& f : frames) {
        const auto out = t.transcode(f.span())->bytes;
        EXPECT_EQ(out, fresh.transcode(f.span())->bytes);
        differ += out != unmixed.transcode(f.span())->bytes;
    }
    EXPECT_GT(differ, 0u);
    EXPECT_EQ(t.from(), Rate::AmbePlus2_3600x2450);
    EXPECT_EQ(t.to(), Rate::Imbe7200x4400);
}

// The search changes which half-rate indices go out, not what a decoder accepts; it survives reset.
TEST(Transcoder, QuantizerSearchChangesTheHalfRateFramesWhichAnyDecoderReads) {
    const auto frames = encode_all(Rate::Imbe7200x4400, voiced_signal(12, 140.0));
    auto plain = *Transcoder::create(Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450);
    auto searched = *Transcoder::create(Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450);
    EXPECT_FALSE(searched.quantizer_search());
    searched.set_quantizer_search(true);
    searched.reset();
    EXPECT_TRUE(searched.quantizer_search());
    Vocoder decoder(Rate::AmbePlus2_3600x2450);
    std::size_t differ = 0;
    for (const auto& f : frames) {
        const auto out = searched.transcode(f.span());
        ASSERT_TRUE(out.has_value());
        differ += out->bytes != plain.transcode(f.span())->bytes;
        EXPECT_TRUE(decoder.decode_bits(out->span()).has_value());
    }
    EXPECT_GT(differ, 0u);
}

// Speech-like signals transcoded across codecs keep their pitch and level.
struct CrossCodec {
    Rate from;
    Rate to;
    double f0;
};
class CrossCodecDirections : public ::testing::TestWithParam<CrossCodec> {};
INSTANTIATE_TEST_SUITE_P(Transcoder, CrossCodecDirections,
                         ::testing::Values(CrossCodec{Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450, 100.0},
                                           CrossCodec{Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450, 125.0},
                                           CrossCodec{Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400, 100.0},
                                           CrossCodec{Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400, 125.0}),
                         [](const auto& p) {
                             return std::string(debug_name(p.param.from)) + "_" +
                                    std::to_string(static_cast<int>(p.param.f0)) + "Hz";
                         });

TEST_P(CrossCodecDirections, KeepsPitchAndLevel) {
    const auto [from, to, f0] = GetParam();
    const auto signal = voiced_signal(60, f0);
    const auto direct = decode_all(from, encode_all(from, signal));
    const auto bridged = decode_all(to, transcode_all(from, to, encode_all(from, signal)));
    ASSERT_EQ(bridged.size(), direct.size());
    // Steady state, past the encoder delay and the decoder's fade-in.
    const std::size_t start = 10 * FRAME_SAMPLES;
    for (std::size_t at = start; at + 10 * FRAME_SAMPLES <= bridged.size(); at += 10 * FRAME_SAMPLES) {
        const auto d = std::span<const std::int16_t>(direct).subspan(at, 10 * FRAME_SAMPLES);
        const auto b = std::span<const std::int16_t>(bridged).subspan(at, 10 * FRAME_SAMPLES);
        EXPECT_NEAR(pitch_hz(b) / pitch_hz(d), 1.0, 0.04) << "at sample " << at;
        EXPECT_NEAR(20.0 * std::log10(rms(b) / rms(d)), 0.0, 3.0) << "at sample " << at;
    }
}

// Garbage off the air converts to frames (or, for amplitudes no MbeParams can hold, an error),
// never to a crash, and gives frames of the destination's length.
TEST(Transcoder, RandomFramesConvertWithoutFailingChecks) {
    const unsigned seed = 2024;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (const auto& [from, to] : {std::pair{Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450},
                                   std::pair{Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400}}) {
        auto t = *Transcoder::create(from, to);
        std::size_t errors = 0;
        for (int i = 0; i < 3000; ++i) {
            std::array<std::uint8_t, 18> bytes{};
            for (std::size_t k = 0; k < wire_bytes(from); ++k) bytes[k] = static_cast<std::uint8_t>(rng());
            const auto out = t.transcode(std::span(bytes).first(wire_bytes(from)));
            if (out) {
                EXPECT_EQ(out->length, wire_bytes(to));
            }
            errors += !out;
        }
        EXPECT_LT(errors, 300u) << debug_name(from);
    }
}

}  // namespace
}  // namespace ostrel_mbe
