// SPDX-License-Identifier: GPL-2.0-or-later
#include "live.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace ostrel_mbe {
namespace {

constexpr Rate ALL_RATES[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                              Rate::AmbePlus2_2450x2450};

class LiveEveryRate : public ::testing::TestWithParam<Rate> {};
INSTANTIATE_TEST_SUITE_P(Live, LiveEveryRate, ::testing::ValuesIn(ALL_RATES),
                         [](const auto& p) { return std::string(debug_name(p.param)); });

std::vector<std::int16_t> noisy_tones(std::size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<std::int16_t> out(samples);
    for (std::size_t n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        out[n] = static_cast<std::int16_t>(3000.0 * std::sin(2 * 3.14159265 * 140.0 * t) +
                                           1500.0 * std::sin(2 * 3.14159265 * 420.0 * t) + noise(rng));
    }
    return out;
}

// Chunk sizes with 0, 1, one short of a frame, one past it, a prime and several frames.
std::vector<std::size_t> chunk_sizes(std::size_t total, std::size_t frame, unsigned seed) {
    const std::vector<std::size_t> menu = {0, 1, frame - 1, frame + 1, 37, 3 * frame + 5, frame};
    std::mt19937 rng(seed);
    std::vector<std::size_t> sizes;
    for (std::size_t used = 0; used < total;) {
        const std::size_t n = std::min(menu[rng() % menu.size()], total - used);
        sizes.push_back(n);
        used += n;
    }
    return sizes;
}

TEST_P(LiveEveryRate, ChunkedStreamsEqualFrameByFrameCalls) {
    const Rate rate = GetParam();
    const unsigned seed = 11u + static_cast<unsigned>(rate);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const auto pcm = noisy_tones(40 * FRAME_SAMPLES + 77, seed);

    Vocoder reference_encoder(rate);
    std::vector<std::uint8_t> reference_bytes;
    for (std::size_t i = 0; i + FRAME_SAMPLES <= pcm.size(); i += FRAME_SAMPLES) {
        const auto f = *reference_encoder.encode_pcm(std::span(pcm).subspan(i, FRAME_SAMPLES));
        reference_bytes.insert(reference_bytes.end(), f.span().begin(), f.span().end());
    }

    LiveEncoder encoder(rate);
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    for (std::size_t n : chunk_sizes(pcm.size(), FRAME_SAMPLES, seed)) {
        for (const auto& r : encoder.push(std::span(pcm).subspan(at, n))) {
            ASSERT_TRUE(r);
            bytes.insert(bytes.end(), r->span().begin(), r->span().end());
        }
        at += n;
        EXPECT_EQ(encoder.pending_samples(), at % FRAME_SAMPLES);
    }
    EXPECT_EQ(bytes, reference_bytes);

    Vocoder reference_decoder(rate);
    std::vector<std::int16_t> reference_pcm;
    const std::size_t frame = wire_bytes(rate);
    for (std::size_t i = 0; i < reference_bytes.size(); i += frame) {
        const auto out = *reference_decoder.decode_bits(std::span(reference_bytes).subspan(i, frame));
        reference_pcm.insert(reference_pcm.end(), out.begin(), out.end());
    }
    LiveDecoder decoder(rate);
    std::vector<std::int16_t> decoded;
    at = 0;
    for (std::size_t n : chunk_sizes(bytes.size(), frame, seed + 1)) {
        for (const auto& r : decoder.push(std::span(bytes).subspan(at, n))) decoded.insert(decoded.end(), r->begin(), r->end());
        at += n;
        EXPECT_EQ(decoder.pending_bytes(), at % frame);
    }
    EXPECT_EQ(decoded, reference_pcm);
}

TEST_P(LiveEveryRate, FlushPadsThePendingSamples) {
    LiveEncoder encoder(GetParam());
    EXPECT_FALSE(encoder.flush());
    const auto pcm = noisy_tones(FRAME_SAMPLES + 1, 3);
    EXPECT_EQ(encoder.push(std::span(pcm)).size(), 1u);
    ASSERT_EQ(encoder.pending_samples(), 1u);

    Vocoder reference(GetParam());
    (void)reference.encode_pcm(std::span(pcm).first(FRAME_SAMPLES));
    std::array<std::int16_t, FRAME_SAMPLES> padded{};
    padded[0] = pcm.back();
    const auto flushed = encoder.flush();
    ASSERT_TRUE(flushed && *flushed);
    EXPECT_EQ((*flushed)->bytes, reference.encode_pcm(padded)->bytes);
    EXPECT_EQ(encoder.pending_samples(), 0u);
}

TEST(Live, PendingCountsAndDiscard) {
    LiveEncoder encoder(Rate::Imbe7200x4400);
    const std::vector<std::int16_t> hundred(100, 5);
    EXPECT_TRUE(encoder.push(hundred).empty());
    EXPECT_EQ(encoder.pending_samples(), 100u);
    EXPECT_EQ(encoder.push(hundred).size(), 1u);
    EXPECT_EQ(encoder.pending_samples(), 40u);
    EXPECT_TRUE(encoder.push({}).empty());
    EXPECT_EQ(encoder.pending_samples(), 40u);
    encoder.discard_pending();
    EXPECT_EQ(encoder.pending_samples(), 0u);

    LiveDecoder half(Rate::AmbePlus2_2450x2450);
    EXPECT_EQ(half.push(std::vector<std::uint8_t>(20)).size(), 2u);
    EXPECT_EQ(half.pending_bytes(), 6u);
    LiveDecoder full(Rate::Imbe7200x4400);
    EXPECT_EQ(full.push(std::vector<std::uint8_t>(40)).size(), 2u);
    EXPECT_EQ(full.pending_bytes(), 4u);
    full.reset();
    EXPECT_EQ(full.pending_bytes(), 0u);
    EXPECT_EQ(full.rate(), Rate::Imbe7200x4400);
}

}  // namespace
}  // namespace ostrel_mbe
