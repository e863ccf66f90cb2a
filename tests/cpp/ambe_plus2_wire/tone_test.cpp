// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/tone.h"

#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/generated_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <variant>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// Bits of a value, most significant first, as a string of '0' and '1'.
std::string bits(unsigned value, unsigned width) {
    std::string s;
    for (unsigned b = width; b-- > 0;) s += ((value >> b) & 1u) ? '1' : '0';
    return s;
}

TEST(AmbePlus2Tone, FrameLayoutFieldByField) {
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned a = 0; a < 128; ++a) {
            const auto u = tone_frame_vectors(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(a));
            const std::string id = bits(i, 8);
            const std::string amp = bits(a, 7);
            ASSERT_EQ(bits(u[0], 16), "0000" "111111" + amp.substr(0, 6));
            ASSERT_EQ(bits(u[1], 16), "0000" + id + id.substr(0, 4));
            ASSERT_EQ(bits(u[2], 16), "00000" + id.substr(4, 4) + id.substr(0, 7));
            ASSERT_EQ(bits(u[3], 16), "00" + id.substr(7, 1) + id + amp.substr(6, 1) + "0000");
        }
    }
}

TEST(AmbePlus2Tone, BuildThenRecogniseGivesIndexAndAmplitudeBack) {
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned a = 0; a < 128; ++a) {
            const auto u = tone_frame_vectors(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(a));
            const auto code = read_tone_frame(u);
            ASSERT_TRUE(code.has_value());
            ASSERT_EQ(*code, (ToneCode{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(a)}));
            // The eighth amplitude bit is not carried.
            ASSERT_EQ(tone_frame_vectors(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(a | 0x80u)), u);
        }
    }
}

TEST(AmbePlus2Tone, MarkerNeedsSixOnesAndAClearLowNibble) {
    const auto u = tone_frame_vectors(129, 100);
    for (unsigned nibble = 1; nibble < 16; ++nibble) {
        auto v = u;
        v[3] = static_cast<std::uint16_t>(v[3] | nibble);
        EXPECT_FALSE(read_tone_frame(v).has_value()) << nibble;
    }
    for (unsigned bit = 6; bit < 12; ++bit) {
        auto v = u;
        v[0] = static_cast<std::uint16_t>(v[0] & ~(1u << bit));
        EXPECT_FALSE(read_tone_frame(v).has_value()) << bit;
    }
    // The repeated copies of the index are not read.
    auto v = u;
    v[1] = 0;
    v[2] = 0x7FF;
    v[3] = static_cast<std::uint16_t>(v[3] ^ (1u << 13));
    EXPECT_EQ(read_tone_frame(v), read_tone_frame(u));
}

TEST(AmbePlus2Tone, SilenceToneIsFifteenSilentUnvoicedHarmonics) {
    for (unsigned a : {0u, 64u, 127u}) {
        const auto p = tone_to_mbe_params(255, static_cast<std::uint8_t>(a));
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->harmonic_count(), 15);
        EXPECT_FLOAT_EQ(p->omega0(), static_cast<float>(250.0 * 2.0 * std::numbers::pi / 8000.0));
        for (std::size_t l = 0; l < 15; ++l) {
            EXPECT_FALSE(p->voiced()[l]);
            EXPECT_EQ(p->amplitudes()[l], 0.0f);
        }
    }
}

TEST(AmbePlus2Tone, EmptyEntriesFail) {
    for (unsigned i = 0; i < 256; ++i) {
        const bool empty = i <= 4 || (i >= 123 && i <= 127) || (i >= 164 && i <= 254);
        EXPECT_EQ(tables::TONES[i].present, !empty) << i;
        EXPECT_EQ(tone_to_mbe_params(static_cast<std::uint8_t>(i), 127).has_value(), !empty) << i;
    }
}

TEST(AmbePlus2Tone, OnlyTheToneHarmonicsAreVoicedAtTheToneFrequencies) {
    for (unsigned i = 0; i < 255; ++i) {
        const auto& entry = tables::TONES[i];
        if (!entry.present) continue;
        const auto p = tone_to_mbe_params(static_cast<std::uint8_t>(i), 127);
        ASSERT_TRUE(p.has_value()) << i;
        const std::size_t l = p->harmonic_count();
        EXPECT_EQ(l, std::clamp<std::size_t>(static_cast<std::size_t>(3812.5 / entry.f0_hz), 9, 56)) << i;
        unsigned voiced = 0;
        for (std::size_t h = 1; h <= l; ++h) {
            const bool tone = h == entry.l1 || h == entry.l2;
            EXPECT_EQ(p->voiced()[h - 1], tone) << i << " harmonic " << h;
            EXPECT_EQ(p->amplitudes()[h - 1], tone ? 16384.0f : 0.0f) << i << " harmonic " << h;
            if (!tone) continue;
            ++voiced;
            const double hz = static_cast<double>(h) * p->omega0() * 8000.0 / (2.0 * std::numbers::pi);
            EXPECT_NEAR(hz, static_cast<double>(h) * static_cast<double>(entry.f0_hz), 1e-3 * hz) << i;
        }
        const unsigned in_range = (entry.l1 <= l ? 1u : 0u) + (entry.l2 != entry.l1 && entry.l2 <= l ? 1u : 0u);
        EXPECT_EQ(voiced, in_range) << i;
        if (entry.l1 == entry.l2) {
            EXPECT_EQ(voiced, 1u) << i;
        }
    }
}

TEST(AmbePlus2Tone, AmplitudeStepsAreAbout0711Decibels) {
    for (unsigned a = 1; a < 128; ++a) {
        const float lower = tone_to_mbe_params(12, static_cast<std::uint8_t>(a - 1))->amplitudes()[0];
        const float upper = tone_to_mbe_params(12, static_cast<std::uint8_t>(a))->amplitudes()[0];
        EXPECT_NEAR(20.0 * std::log10(static_cast<double>(upper) / lower), 0.711, 1e-4) << a;
    }
    EXPECT_EQ(tone_to_mbe_params(12, 127)->amplitudes()[0], 16384.0f);
    EXPECT_EQ(tone_to_mbe_params(12, 255)->amplitudes()[0], 16384.0f);
}

TEST(AmbePlus2Tone, DecoderReportsToneFramesWithoutTouchingItsState) {
    DecoderState state;
    state.previous_gamma = 3.25;
    const DecoderState before = state;
    for (unsigned i = 0; i < 256; ++i) {
        const auto frame = decode_to_params(tone_frame_vectors(static_cast<std::uint8_t>(i), 77), state);
        const auto expected = tone_to_mbe_params(static_cast<std::uint8_t>(i), 77);
        if (expected) {
            const auto* tone = std::get_if<DecodedFrame::Tone>(&frame.kind);
            ASSERT_NE(tone, nullptr) << i;
            EXPECT_EQ(tone->index, i);
            EXPECT_EQ(tone->amplitude, 77);
            EXPECT_EQ(tone->params, *expected);
            EXPECT_EQ(frame.params(), &tone->params);
        } else {
            const auto* error = std::get_if<DecodedFrame::Error>(&frame.kind);
            ASSERT_NE(error, nullptr) << i;
            EXPECT_EQ(error->error.kind, DecodeErrorKind::BadPitch);
            EXPECT_EQ(frame.params(), nullptr);
        }
        ASSERT_EQ(state, before);
    }
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
