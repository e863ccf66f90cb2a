// SPDX-License-Identifier: GPL-2.0-or-later
#include "whole_buffer.h"

#include <gtest/gtest.h>

#include <variant>
#include <vector>

#include "live.h"
#include "test_signal.h"

namespace ostrel_mbe {
namespace {

constexpr Rate ALL_RATES[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                              Rate::AmbePlus2_2450x2450};

class WholeBufferEveryRate : public ::testing::TestWithParam<Rate> {};
INSTANTIATE_TEST_SUITE_P(WholeBuffer, WholeBufferEveryRate, ::testing::ValuesIn(ALL_RATES),
                         [](const auto& p) { return std::string(debug_name(p.param)); });

// Whole-buffer calls and concatenating pushes give the bytes and samples of one call per frame.
TEST_P(WholeBufferEveryRate, EqualsOneCallPerFrame) {
    const Rate rate = GetParam();
    const std::size_t size = wire_bytes(rate), frames = 30;
    const auto pcm = test_signal::voiced_signal(frames);

    Vocoder reference(rate);
    std::vector<std::uint8_t> bits;
    std::vector<std::int16_t> decoded;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto f = *reference.encode_pcm(std::span(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        bits.insert(bits.end(), f.span().begin(), f.span().end());
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const auto out = *reference.decode_bits(std::span(bits).subspan(i * size, size));
        decoded.insert(decoded.end(), out.begin(), out.end());
    }

    Vocoder channel(rate);
    std::vector<std::uint8_t> whole_bits(bits.size());
    ASSERT_TRUE(encode_frames(channel, pcm, whole_bits));
    EXPECT_EQ(whole_bits, bits);
    std::vector<std::int16_t> whole_pcm(decoded.size());
    ASSERT_TRUE(decode_frames(channel, bits, whole_pcm));
    EXPECT_EQ(whole_pcm, decoded);

    // Hard decisions as soft values decode alike.
    std::vector<float> soft;
    for (std::uint8_t byte : bits)
        for (int b = 7; b >= 0; --b) soft.push_back(((byte >> b) & 1) ? 1.0f : -1.0f);
    Vocoder soft_reference(rate), soft_channel(rate);
    std::vector<std::int16_t> soft_expected, soft_pcm(decoded.size());
    for (std::size_t i = 0; i < frames; ++i) {
        const auto out = *soft_reference.decode_soft(std::span(soft).subspan(i * 8 * size, 8 * size));
        soft_expected.insert(soft_expected.end(), out.begin(), out.end());
    }
    ASSERT_TRUE(decode_soft_frames(soft_channel, soft, soft_pcm));
    EXPECT_EQ(soft_pcm, soft_expected);

    // Pushes of 1.5 frames and of 2.5 frames' bytes.
    LiveEncoder encoder(rate);
    LiveDecoder decoder(rate);
    std::vector<std::uint8_t> pushed_bits;
    std::vector<std::int16_t> pushed_pcm;
    for (std::size_t at = 0, n = 240; at < pcm.size(); at += n) {
        const auto chunk = std::span(pcm).subspan(at, std::min(n, pcm.size() - at));
        std::vector<std::uint8_t> out(encoder.frames_completed(chunk.size()) * size);
        ASSERT_TRUE(encoder.push_into(chunk, out));
        pushed_bits.insert(pushed_bits.end(), out.begin(), out.end());
    }
    EXPECT_EQ(pushed_bits, bits);
    for (std::size_t at = 0, n = 5 * size / 2; at < bits.size(); at += n) {
        const auto chunk = std::span(bits).subspan(at, std::min(n, bits.size() - at));
        std::vector<std::int16_t> out(decoder.frames_completed(chunk.size()) * FRAME_SAMPLES);
        ASSERT_TRUE(decoder.push_into(chunk, out));
        pushed_pcm.insert(pushed_pcm.end(), out.begin(), out.end());
    }
    EXPECT_EQ(pushed_pcm, decoded);
}

// Frames flagged lost are concealed as decode_lost / transcode_lost would, their bytes unread.
TEST_P(WholeBufferEveryRate, LostFlagsConcealAsPerFrameCalls) {
    const Rate rate = GetParam();
    const std::size_t size = wire_bytes(rate), frames = 12;
    std::vector<std::uint8_t> bits(frames * size);
    {
        Vocoder encoder(rate);
        ASSERT_TRUE(encode_frames(encoder, test_signal::voiced_signal(frames), bits));
    }
    std::vector<std::uint8_t> lost(frames, 0);
    for (std::size_t i : {3u, 6u, 7u, 8u, 9u, 10u}) {
        lost[i] = 1;
        std::fill_n(bits.begin() + static_cast<std::ptrdiff_t>(i * size), size, 0xA5);  // never read
    }
    Vocoder reference(rate), channel(rate);
    std::vector<std::int16_t> expected;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto out = lost[i] ? reference.decode_lost() : *reference.decode_bits(std::span(bits).subspan(i * size, size));
        expected.insert(expected.end(), out.begin(), out.end());
    }
    std::vector<std::int16_t> pcm(expected.size());
    ASSERT_TRUE(decode_frames(channel, bits, pcm, lost));
    EXPECT_EQ(pcm, expected);

    // A direction from every rate: 7200->3600, 4400->7200, 3600->7200, 2450->3600.
    const Rate to[] = {Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400, Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450};
    auto one = *Transcoder::create(rate, to[static_cast<int>(rate)]);
    auto whole = one;
    std::vector<std::uint8_t> expected_bits;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto f = lost[i] ? one.transcode_lost() : *one.transcode(std::span(bits).subspan(i * size, size));
        expected_bits.insert(expected_bits.end(), f.span().begin(), f.span().end());
    }
    std::vector<std::uint8_t> converted(expected_bits.size());
    ASSERT_TRUE(transcode_frames(whole, bits, converted, lost));
    EXPECT_EQ(converted, expected_bits);
}

TEST(WholeBuffer, PartialTailsNameTheirFrame) {
    Vocoder channel(Rate::Imbe7200x4400);
    const std::vector<std::int16_t> pcm(2 * FRAME_SAMPLES + 7);
    std::vector<std::uint8_t> bits(2 * 18);
    const auto encoded = encode_frames(channel, pcm, bits);
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error().frame, 2u);
    EXPECT_EQ(encoded.error().error.display(), "expected 160 PCM samples per frame, got 7");

    std::vector<std::int16_t> samples(FRAME_SAMPLES);
    const auto decoded = decode_frames(channel, std::vector<std::uint8_t>(18 + 5), samples);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().frame, 1u);
    EXPECT_TRUE(std::holds_alternative<VocoderError::WrongBitsLength>(decoded.error().error.value));

    auto transcoder = *Transcoder::create(Rate::AmbePlus2_2450x2450, Rate::AmbePlus2_3600x2450);
    std::vector<std::uint8_t> converted(9);
    EXPECT_FALSE(transcode_frames(transcoder, std::vector<std::uint8_t>(8), converted));
    EXPECT_TRUE(transcode_frames(transcoder, std::vector<std::uint8_t>(7), converted));
}

}  // namespace
}  // namespace ostrel_mbe
