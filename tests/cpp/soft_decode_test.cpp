// SPDX-License-Identifier: GPL-2.0-or-later
// The channel's soft-decision and lost-frame decoding.
#include "live.h"
#include "test_signal.h"
#include "transcoder.h"
#include "vocoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace ostrel_mbe {
namespace {

using test_signal::frame_of;
using test_signal::voiced_signal;

constexpr Rate ALL_RATES[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                              Rate::AmbePlus2_2450x2450};

std::vector<WireFrame> encoded(Rate rate, std::size_t frames) {
    Vocoder enc(rate);
    const auto signal = voiced_signal(frames);
    std::vector<WireFrame> out;
    for (std::size_t i = 0; i < frames; ++i) out.push_back(*enc.encode_pcm(frame_of(signal, i)));
    return out;
}

// One soft value per wire bit: +magnitude for a 1, -magnitude for a 0.
std::vector<float> soft_of(const WireFrame& frame, float magnitude = 1.0f) {
    std::vector<float> soft;
    for (std::uint8_t byte : frame.span())
        for (int b = 7; b >= 0; --b) soft.push_back(((byte >> b) & 1) ? magnitude : -magnitude);
    return soft;
}

void expect_same_report(const DecodeReport& a, const DecodeReport& b) {
    EXPECT_EQ(a.disposition, b.disposition);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.e0, b.e0);
    EXPECT_EQ(a.total, b.total);
    EXPECT_EQ(a.errors, b.errors);
}

class SoftEveryRate : public ::testing::TestWithParam<Rate> {};
INSTANTIATE_TEST_SUITE_P(SoftDecode, SoftEveryRate, ::testing::ValuesIn(ALL_RATES),
                         [](const auto& param_info) { return std::string(debug_name(param_info.param)); });

// Equal magnitudes carry no more than the signs: the same PCM and report as decode_bits, on clean
// frames and on frames with scattered errors, up to many per frame.
TEST_P(SoftEveryRate, EqualMagnitudesDecodeLikeHardBits) {
    const auto frames = encoded(GetParam(), 30);
    Vocoder hard(GetParam()), soft(GetParam());
    std::mt19937 rng(3);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        WireFrame damaged = frames[i];
        const std::size_t flips = i % 10;  // 0..9 errors per frame
        for (std::size_t k = 0; k < flips; ++k) damaged.bytes[rng() % damaged.length] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        const auto h = hard.decode_bits(damaged.span());
        const auto s = soft.decode_soft(soft_of(damaged, 0.37f));
        ASSERT_TRUE(s.has_value());
        ASSERT_EQ(*h, *s) << "frame " << i;
        expect_same_report(hard.last_decode_report(), soft.last_decode_report());
    }
}

TEST_P(SoftEveryRate, BadSoftInputIsRefusedWithTheStateUnchanged) {
    const auto frames = encoded(GetParam(), 6);
    Vocoder a(GetParam()), b(GetParam());
    const std::size_t bits = 8 * wire_bytes(GetParam());
    for (const auto& f : frames) {
        std::vector<float> soft = soft_of(f);
        const auto short_input = b.decode_soft(std::span<const float>(soft).first(bits - 1));
        ASSERT_FALSE(short_input);
        EXPECT_EQ(short_input.error().display(), "expected " + std::to_string(bits) +
                                                     " soft values per frame (one per wire bit), got " +
                                                     std::to_string(bits - 1));
        for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
            std::vector<float> broken = soft;
            broken[5] = bad;
            const auto refused = b.decode_soft(broken);
            ASSERT_FALSE(refused);
            EXPECT_EQ(refused.error().display(), "soft value 5 is not finite");
        }
        EXPECT_EQ(*a.decode_bits(f.span()), *b.decode_soft(soft));
    }
}

// Lost frames repeat the last frame up to the set count, then mute; the next received frame
// decodes as if nothing had been lost in between (same PCM as a channel that got the same frames
// with the losses decoded as lost on it too).
TEST_P(SoftEveryRate, LostFramesRepeatThenMuteThenTheNextFrameDecodesNormally) {
    const auto frames = encoded(GetParam(), 12);
    Vocoder channel(GetParam());
    channel.set_lost_frame_repeats(2);
    for (std::size_t i = 0; i < 6; ++i) (void)channel.decode_bits(frames[i].span());
    using codecs::mbe_baseline::FrameDisposition;
    const FrameDisposition expected[] = {FrameDisposition::Repeat, FrameDisposition::Repeat, FrameDisposition::Mute,
                                         FrameDisposition::Mute};
    for (FrameDisposition d : expected) {
        (void)channel.decode_lost();
        EXPECT_EQ(channel.last_decode_report().disposition, d);
        EXPECT_EQ(channel.last_decode_report().kind, FrameKind::Lost);
    }
    (void)channel.decode_bits(frames[6].span());
    EXPECT_EQ(channel.last_decode_report().disposition, FrameDisposition::Normal);
    (void)channel.decode_lost();  // the run starts again
    EXPECT_EQ(channel.last_decode_report().disposition, FrameDisposition::Repeat);
    channel.reset();
    EXPECT_EQ(channel.lost_frame_repeats(), 2u);  // kept by reset
    (void)channel.decode_lost();  // nothing to repeat yet
    EXPECT_EQ(channel.last_decode_report().disposition, FrameDisposition::Mute);
}

TEST_P(SoftEveryRate, StreamsTakeSoftValuesInAnyChunksAndLostFrames) {
    const auto frames = encoded(GetParam(), 5);
    std::vector<float> all;
    for (const auto& f : frames) {
        const auto s = soft_of(f, 2.0f);
        all.insert(all.end(), s.begin(), s.end());
    }
    Vocoder reference(GetParam());
    LiveDecoder stream(GetParam());
    std::vector<PcmFrame> got;
    for (std::size_t at = 0; at < all.size(); at += 37) {
        auto chunk = stream.push_soft(std::span<const float>(all).subspan(at, std::min<std::size_t>(37, all.size() - at)));
        ASSERT_TRUE(chunk);
        got.insert(got.end(), chunk->begin(), chunk->end());
    }
    ASSERT_EQ(got.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(got[i], *reference.decode_bits(frames[i].span()));
    std::vector<float> bad(3, std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(stream.push_soft(bad));
    (void)stream.push_soft(std::span<const float>(all).first(10));
    EXPECT_EQ(stream.push_lost(3).size(), 3u);
    EXPECT_EQ(stream.pending_soft(), 0u);
    EXPECT_EQ(stream.channel().last_decode_report().kind, FrameKind::Lost);
}

// Four wrong but unreliable bits in a Golay word other than the first: beyond hard decoding,
// too few to engage concealment.  Soft decoding gives the clean frame's PCM.
TEST(SoftDecode, FourUnreliableErrorsInOneGolayWordDecodeToTheCleanFrame) {
    for (Rate rate : {Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450}) {
        const auto frames = encoded(rate, 10);
        Vocoder clean(rate), soft(rate), hard(rate);
        // Wire bits of the second code word (c1): symbol k's high bit is wire bit 2k.  At the
        // full rate symbol 0 carries c0 bit 22 / c1 bit 21 and symbol 3 c1 bit 20 / c0 bit 21;
        // pick c1's bits by decoding which wire bits change c1 alone.
        const std::size_t bits = 8 * wire_bytes(rate);
        std::vector<std::size_t> c1_bits;
        for (std::size_t i = 0; i < bits && c1_bits.size() < 4; ++i) {
            Vocoder probe(rate);
            WireFrame f = frames[0];
            f.bytes[i / 8] ^= static_cast<std::uint8_t>(0x80u >> (i % 8));
            (void)probe.decode_bits(f.span());
            const auto& e = probe.last_decode_report().errors;
            if (e[0] == 0 && e[1] == 1) c1_bits.push_back(i);
        }
        ASSERT_EQ(c1_bits.size(), 4u);
        bool hard_differs = false;
        for (const auto& f : frames) {
            std::vector<float> s = soft_of(f, 3.0f);
            WireFrame damaged = f;
            for (std::size_t i : c1_bits) {
                s[i] = -0.3f * s[i] / 3.0f;
                damaged.bytes[i / 8] ^= static_cast<std::uint8_t>(0x80u >> (i % 8));
            }
            const auto expected = *clean.decode_bits(f.span());
            EXPECT_EQ(*soft.decode_soft(s), expected) << debug_name(rate);
            EXPECT_LE(soft.last_decode_report().errors[1], 3);
            hard_differs |= *hard.decode_bits(damaged.span()) != expected;
        }
        EXPECT_TRUE(hard_differs) << "hard decoding should fail on four errors";
    }
}

TEST(SoftDecode, TranscoderTakesSoftValuesAndLostFrames) {
    for (const TranscodeDirection& d : TRANSCODE_DIRECTIONS) {
        const auto frames = encoded(d.from, 4);
        auto hard = Transcoder::create(d.from, d.to);
        auto soft = Transcoder::create(d.from, d.to);
        for (const auto& f : frames) {
            const auto h = hard->transcode(f.span());
            const auto s = soft->transcode_soft(soft_of(f, 0.5f));
            ASSERT_TRUE(h && s);
            EXPECT_TRUE(std::equal(h->span().begin(), h->span().end(), s->span().begin(), s->span().end()));
        }
        EXPECT_FALSE(soft->transcode_soft(std::vector<float>(3, 1.0f)));
        const WireFrame lost = soft->transcode_lost();
        EXPECT_EQ(lost.length, wire_bytes(d.to));
        Vocoder receiver(d.to);
        (void)receiver.decode_bits(lost.span());
        const auto kind = receiver.last_decode_report().kind;
        EXPECT_EQ(kind, is_imbe(d.to) ? FrameKind::Invalid : FrameKind::Erasure) << debug_name(d.to);
    }
}

}  // namespace
}  // namespace ostrel_mbe
