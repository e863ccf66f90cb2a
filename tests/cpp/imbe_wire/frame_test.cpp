// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>

#include "imbe_wire/imbe_tables.h"
#include "rate.h"
#include "wire_common/frame_bytes.h"

namespace ostrel_mbe::imbe_wire::frame {
namespace {

using Info = std::array<std::uint16_t, 8>;
using Symbols = std::array<std::uint8_t, SYMBOLS>;

Info random_info(std::mt19937& rng) {
    Info u{};
    for (std::size_t v = 0; v < 8; ++v) u[v] = static_cast<std::uint16_t>(rng() & ((1u << INFO_WIDTHS[v]) - 1));
    return u;
}

// Flips bit `bit` of code vector `vector` in the interleaved symbols.
void flip_code_bit(Symbols& symbols, unsigned vector, unsigned bit) {
    for (std::size_t k = 0; k < SYMBOLS; ++k) {
        const auto& e = tables::INTERLEAVE[k];
        if (e.high_vector == vector && e.high_bit == bit) symbols[k] ^= 2;
        if (e.low_vector == vector && e.low_bit == bit) symbols[k] ^= 1;
    }
}

constexpr std::array<std::uint8_t, 8> NO_ERRORS{};

// The bytes are read without unpacking them into symbols: any bytes, errors and all, decode as
// their symbols do.
TEST(ImbeFrame, BytesDecodeAsTheirSymbols) {
    std::mt19937 rng(18);
    for (int i = 0; i < 500; ++i) {
        std::array<std::uint8_t, WIRE_BYTES> bytes{};
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(decode_frame_bytes(bytes), decode_frame(wire_common::bytes_to_symbols<SYMBOLS>(bytes))) << i;
    }
}

TEST(ImbeFrame, RoundTripsRandomVectorsWithZeroCounts) {
    const unsigned seed = 7200;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int i = 0; i < 3000; ++i) {
        const Info u = random_info(rng);
        // Bits above each vector's width are ignored by the encoder.
        Info noisy = u;
        for (std::size_t v = 0; v < 8; ++v) noisy[v] |= static_cast<std::uint16_t>(0xFFFFu << INFO_WIDTHS[v]);
        const Symbols symbols = encode_frame(noisy);
        ASSERT_EQ(symbols, encode_frame(u));
        for (auto s : symbols) ASSERT_LE(s, 3);
        ASSERT_EQ(decode_frame(symbols), (DecodedFrame{u, NO_ERRORS}));
        ASSERT_EQ(encode_frame_bytes(u), wire_common::symbols_to_bytes(symbols));  // the symbols packed
        // The 18-byte form carries the same vectors as the 11-byte no-FEC form.
        const DecodedFrame from_bytes = decode_frame_bytes(encode_frame_bytes(u));
        ASSERT_EQ(from_bytes, (DecodedFrame{u, NO_ERRORS}));
        ASSERT_EQ(from_bytes.u, wire_bytes_layout::unpack_info_full(wire_bytes_layout::pack_info_full(u)));
    }
}

TEST(ImbeFrame, OnlyTheLowTwoBitsOfEachSymbolAreRead) {
    std::mt19937 rng(72);
    const Info u = random_info(rng);
    Symbols symbols = encode_frame(u);
    for (auto& s : symbols) s = static_cast<std::uint8_t>(s | 0xFC);
    EXPECT_EQ(decode_frame(symbols), (DecodedFrame{u, NO_ERRORS}));
}

TEST(ImbeFrame, CodeVectorsCarryTheCodesAndMasks) {
    // All-zero vectors: u0 = 0 gives the masks' own bits in c1..c6 (the code words are 0).
    const auto c = code_vectors(Info{});
    EXPECT_EQ(c[0], 0u);
    EXPECT_EQ(c[7], 0u);
    for (std::size_t v = 1; v < 7; ++v) {
        EXPECT_NE(c[v], 0u) << "c" << v;
        EXPECT_EQ(c[v] >> CODE_WIDTHS[v], 0u) << "c" << v;
    }
}

// Every one of the 144 wire bits, flipped alone in the 18-byte form.
TEST(ImbeFrame, EverySingleWireBitErrorIsCorrectedAndCounted) {
    const unsigned seed = 144;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 8; ++trial) {
        const Info u = random_info(rng);
        const auto bytes = encode_frame_bytes(u);
        for (unsigned pos = 0; pos < 144; ++pos) {
            auto damaged = bytes;
            damaged[pos / 8] ^= static_cast<std::uint8_t>(0x80u >> (pos % 8));
            // Symbol pos / 2; even positions are its high bit.
            const auto& e = tables::INTERLEAVE[pos / 2];
            const unsigned vector = pos % 2 == 0 ? e.high_vector : e.low_vector;
            const unsigned bit = pos % 2 == 0 ? e.high_bit : e.low_bit;
            const DecodedFrame got = decode_frame_bytes(damaged);
            if (vector == 7) {
                // c7 is unprotected: the error passes through, uncounted.
                Info want = u;
                want[7] ^= static_cast<std::uint16_t>(1u << bit);
                ASSERT_EQ(got, (DecodedFrame{want, NO_ERRORS})) << "wire bit " << pos;
            } else {
                auto want_errors = NO_ERRORS;
                want_errors[vector] = 1;
                ASSERT_EQ(got, (DecodedFrame{u, want_errors})) << "wire bit " << pos << " = c" << vector
                                                               << " bit " << bit;
            }
        }
    }
}

TEST(ImbeFrame, UpToThreeErrorsInC0LeaveEveryVectorIntact) {
    // The masks of c1..c6 are recomputed from the corrected u0, so nothing else is disturbed.
    const unsigned seed = 2312;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const Info u = random_info(rng);
    const Symbols clean = encode_frame(u);
    int patterns = 0;
    for (std::uint32_t pattern = 1; pattern < (1u << 23); ++pattern) {
        const int weight = std::popcount(pattern);
        if (weight > 3) continue;
        Symbols symbols = clean;
        for (unsigned bit = 0; bit < 23; ++bit) {
            if ((pattern >> bit) & 1u) flip_code_bit(symbols, 0, bit);
        }
        auto want_errors = NO_ERRORS;
        want_errors[0] = static_cast<std::uint8_t>(weight);
        ASSERT_EQ(decode_frame(symbols), (DecodedFrame{u, want_errors})) << "c0 pattern " << pattern;
        ++patterns;
    }
    EXPECT_EQ(patterns, 23 + 253 + 1771);
}

TEST(ImbeFrame, UncorrectableC0ScramblesTheRest) {
    // Four errors in c0 decode to another u0, so the masks of c1..c6 are wrong and those
    // vectors arrive as noise: their counts rise although they were sent without error.
    const unsigned seed = 4;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    int total = 0;
    const int frames = 200;
    for (int f = 0; f < frames; ++f) {
        const Info u = random_info(rng);
        Symbols symbols = encode_frame(u);
        std::array<unsigned, 23> positions{};
        for (unsigned b = 0; b < 23; ++b) positions[b] = b;
        std::shuffle(positions.begin(), positions.end(), rng);
        for (std::size_t n = 0; n < 4; ++n) flip_code_bit(symbols, 0, positions[n]);
        const DecodedFrame got = decode_frame(symbols);
        ASSERT_NE(got.u[0], u[0]);
        ASSERT_EQ(got.errors[0], 3);
        for (std::size_t v = 1; v < 7; ++v) total += got.errors[v];
    }
    // A random word is within distance 3 of a Golay word with up to three errors, mostly
    // three; random Hamming words mostly show one.  Correct masks would give 0.
    EXPECT_GT(total, 5 * frames);
}

}  // namespace
}  // namespace ostrel_mbe::imbe_wire::frame
