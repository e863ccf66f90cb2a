// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate.h"

#include <gtest/gtest.h>

#include <random>

#include "vocoder_error.h"

namespace ostrel_mbe {
namespace {

using namespace wire_bytes_layout;

TEST(Rate, GeometryAndDispatch) {
    EXPECT_EQ(wire_bytes(Rate::Imbe7200x4400), 18u);
    EXPECT_EQ(wire_bytes(Rate::Imbe4400x4400), 11u);
    EXPECT_EQ(wire_bytes(Rate::AmbePlus2_3600x2450), 9u);
    EXPECT_EQ(wire_bytes(Rate::AmbePlus2_2450x2450), 7u);
    EXPECT_TRUE(is_imbe(Rate::Imbe4400x4400));
    EXPECT_FALSE(is_imbe(Rate::AmbePlus2_3600x2450));
    EXPECT_TRUE(has_fec(Rate::AmbePlus2_3600x2450));
    EXPECT_FALSE(has_fec(Rate::AmbePlus2_2450x2450));
    EXPECT_EQ(debug_name(Rate::AmbePlus2_2450x2450), "AmbePlus2_2450x2450");
}

TEST(WireBytes, SymbolsFourPerByteFirstInTopBits) {
    std::array<std::uint8_t, 8> symbols = {3, 0, 1, 2, 0, 0, 0, 1};
    std::array<std::uint8_t, 2> bytes{};
    pack_symbols(symbols, bytes);
    EXPECT_EQ(bytes[0], 0b11000110);
    EXPECT_EQ(bytes[1], 0b00000001);
    std::array<std::uint8_t, 8> back{};
    unpack_symbols(bytes, back);
    EXPECT_EQ(back, symbols);
}

TEST(WireBytes, FullRateInfoLayout) {
    // u0 = 0xABC, u1 = 0x123 ... checked against the byte layout: u0 bits 11..4 in byte 0, etc.
    std::array<std::uint16_t, 8> u = {0xABC, 0x123, 0x456, 0x789, 0x7FF, 0x001, 0x400, 0x55};
    auto bytes = pack_info_full(u);
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(bytes[1], 0xC1);
    EXPECT_EQ(bytes[2], 0x23);
    EXPECT_EQ(bytes[6], 0xFF);                 // u4 bits 10..3
    EXPECT_EQ(bytes[7], 0xE0);                 // u4 bits 2..0, u5 bits 10..6
    EXPECT_EQ(bytes[10], 0x55);                // u6 bit 0 (0), u7 bits 6..0
    EXPECT_EQ(unpack_info_full(bytes), u);
}

TEST(WireBytes, RandomRoundTripsBothLayouts) {
    const unsigned seed = 20261208;
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    for (int i = 0; i < 2000; ++i) {
        std::array<std::uint16_t, 8> u{};
        const unsigned widths[8] = {12, 12, 12, 12, 11, 11, 11, 7};
        for (int k = 0; k < 8; ++k) u[k] = static_cast<std::uint16_t>(rng() & ((1u << widths[k]) - 1));
        ASSERT_EQ(unpack_info_full(pack_info_full(u)), u);
        std::array<std::uint16_t, 4> h{};
        const unsigned hw[4] = {12, 12, 11, 14};
        for (int k = 0; k < 4; ++k) h[k] = static_cast<std::uint16_t>(rng() & ((1u << hw[k]) - 1));
        auto bytes = pack_info_half(h);
        ASSERT_EQ(bytes[6] & 0x7F, 0);  // pad bits written as zeros
        ASSERT_EQ(unpack_info_half(bytes), h);
        bytes[6] |= 0x7F;  // and ignored on reading
        ASSERT_EQ(unpack_info_half(bytes), h);
    }
}

TEST(VocoderError, DisplayAndDebugTexts) {
    using E = VocoderError;
    EXPECT_EQ((E{E::WrongPcmLength{160, 159}}).display(), "expected 160 PCM samples per frame, got 159");
    EXPECT_EQ((E{E::WrongPcmLength{160, 100}}).debug(), "WrongPcmLength { expected: 160, got: 100 }");
    EXPECT_EQ((E{E::WrongBitsLength{11, 9}}).display(), "expected 11 FEC bytes per frame, got 9");
    EXPECT_EQ((E{E::WrongBitsLength{11, 0}}).debug(), "WrongBitsLength { expected: 11, got: 0 }");
    using codecs::mbe_baseline::analysis::AnalysisError;
    EXPECT_EQ((E{E::Analysis{AnalysisError::WrongFrameLength}}).display(), "analysis encoder error: WrongFrameLength");
    EXPECT_EQ((E{E::Analysis{AnalysisError::PitchOutOfRange}}).debug(), "Analysis(PitchOutOfRange)");
    EXPECT_EQ((E{E::Quantize{"BadPitch"}}).display(), "quantize error: BadPitch");
    EXPECT_EQ((E{E::Quantize{"BadPitch"}}).debug(), "Quantize(\"BadPitch\")");
    E t{E::UnsupportedTranscode{Rate::Imbe7200x4400, Rate::Imbe7200x4400}};
    EXPECT_EQ(t.display(), "unsupported transcode direction: Imbe7200x4400 -> Imbe7200x4400");
    EXPECT_EQ(t.debug(), "UnsupportedTranscode { from: Imbe7200x4400, to: Imbe7200x4400 }");
}

}  // namespace
}  // namespace ostrel_mbe
