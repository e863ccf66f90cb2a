// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "fec.h"
#include "imbe_wire/fec.h"
#include "rate.h"
#include "wire_common/frame_bytes.h"

namespace ostrel_mbe::ambe_plus2_wire::frame {
namespace {

using Info = std::array<std::uint16_t, 4>;
using Symbols = std::array<std::uint8_t, SYMBOLS>;
using Errors = std::array<std::uint8_t, 4>;

constexpr Errors NO_ERRORS{};

Info random_info(std::mt19937& rng) {
    Info u{};
    for (std::size_t v = 0; v < 4; ++v) u[v] = static_cast<std::uint16_t>(rng() & ((1u << INFO_WIDTHS[v]) - 1));
    return u;
}

void flip_code_bit(Symbols& symbols, unsigned vector, unsigned bit) {
    for (std::size_t k = 0; k < SYMBOLS; ++k) {
        const auto& e = tables::INTERLEAVE[k];
        if (e.high_vector == vector && e.high_bit == bit) symbols[k] ^= 2;
        if (e.low_vector == vector && e.low_bit == bit) symbols[k] ^= 1;
    }
}

Symbols with_c0_pattern(Symbols symbols, std::uint32_t pattern) {
    for (unsigned bit = 0; bit < 24; ++bit) {
        if ((pattern >> bit) & 1u) flip_code_bit(symbols, 0, bit);
    }
    return symbols;
}

// The bytes are read without unpacking them into symbols: any bytes, errors and all, decode as
// their symbols do.
TEST(AmbePlus2Frame, BytesDecodeAsTheirSymbols) {
    std::mt19937 rng(9);
    for (int i = 0; i < 500; ++i) {
        std::array<std::uint8_t, WIRE_BYTES> bytes{};
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(decode_frame_bytes(bytes), decode_frame(wire_common::bytes_to_symbols<SYMBOLS>(bytes))) << i;
    }
}

TEST(AmbePlus2Frame, RoundTripsRandomVectorsWithZeroCounts) {
    const unsigned seed = 3600;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int i = 0; i < 3000; ++i) {
        const Info u = random_info(rng);
        Info noisy = u;
        for (std::size_t v = 0; v < 4; ++v) noisy[v] |= static_cast<std::uint16_t>(0xFFFFu << INFO_WIDTHS[v]);
        const Symbols symbols = encode_frame(noisy);
        ASSERT_EQ(symbols, encode_frame(u));
        ASSERT_EQ(decode_frame(symbols), (DecodedFrame{u, NO_ERRORS}));
        ASSERT_EQ(encode_frame_bytes(u), wire_common::symbols_to_bytes(symbols));  // the symbols packed
        const DecodedFrame from_bytes = decode_frame_bytes(encode_frame_bytes(u));
        ASSERT_EQ(from_bytes, (DecodedFrame{u, NO_ERRORS}));
        // The 9-byte form carries the same vectors as the 7-byte no-FEC form.
        ASSERT_EQ(from_bytes.u, wire_bytes_layout::unpack_info_half(wire_bytes_layout::pack_info_half(u)));
        auto high = symbols;
        for (auto& s : high) s = static_cast<std::uint8_t>(s | 0xFC);
        ASSERT_EQ(decode_frame(high), (DecodedFrame{u, NO_ERRORS}));
    }
}

TEST(AmbePlus2Frame, MasksScrambleOnlyC1WithTheFullRateSequence) {
    for (std::uint32_t u0 = 0; u0 < 4096; ++u0) {
        const auto m = modulation_masks(static_cast<std::uint16_t>(u0));
        ASSERT_EQ(m[0], 0u);
        ASSERT_EQ(m[2], 0u);
        ASSERT_EQ(m[3], 0u);
        ASSERT_EQ(m[1], imbe_wire::fec::modulation_masks(static_cast<std::uint16_t>(u0))[1]);
    }
    const auto c = code_vectors(Info{0x123, 0, 0x7FF, 0x3FFF});
    EXPECT_EQ(c[0], fec::golay_24_12_encode(0x123));
    EXPECT_EQ(c[1], modulation_masks(0x123)[1]);
    EXPECT_EQ(c[2], 0x7FFu);
    EXPECT_EQ(c[3], 0x3FFFu);
}

// Every one of the 72 wire bits, flipped alone in the 9-byte form.
TEST(AmbePlus2Frame, EverySingleWireBitErrorIsCorrectedOrPassedThrough) {
    const unsigned seed = 72;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 8; ++trial) {
        const Info u = random_info(rng);
        const auto bytes = encode_frame_bytes(u);
        for (unsigned pos = 0; pos < 72; ++pos) {
            auto damaged = bytes;
            damaged[pos / 8] ^= static_cast<std::uint8_t>(0x80u >> (pos % 8));
            const auto& e = tables::INTERLEAVE[pos / 2];
            const unsigned vector = pos % 2 == 0 ? e.high_vector : e.low_vector;
            const unsigned bit = pos % 2 == 0 ? e.high_bit : e.low_bit;
            const DecodedFrame got = decode_frame_bytes(damaged);
            if (vector >= 2) {
                // c2 and c3 are unprotected: the error passes through, uncounted.
                Info want = u;
                want[vector] ^= static_cast<std::uint16_t>(1u << bit);
                ASSERT_EQ(got, (DecodedFrame{want, NO_ERRORS})) << "wire bit " << pos;
            } else {
                Errors want_errors = NO_ERRORS;
                want_errors[vector] = 1;
                ASSERT_EQ(got, (DecodedFrame{u, want_errors})) << "wire bit " << pos << " = c" << vector
                                                               << " bit " << bit;
            }
        }
    }
}

TEST(AmbePlus2Frame, C0CountsUpToThreeAndMarksFour) {
    const unsigned seed = 2412;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const Info u = random_info(rng);
    const Symbols clean = encode_frame(u);
    int checked = 0;
    for (std::uint32_t pattern = 1; pattern < (1u << 24); ++pattern) {
        const int weight = std::popcount(pattern);
        if (weight > 4 || (weight == 4 && pattern % 7 != 0)) continue;  // a seventh of weight 4
        const DecodedFrame got = decode_frame(with_c0_pattern(clean, pattern));
        if (weight <= 3) {
            ASSERT_EQ(got, (DecodedFrame{u, Errors{static_cast<std::uint8_t>(weight), 0, 0, 0}}))
                << "c0 pattern " << pattern;
        } else {
            ASSERT_EQ(got.errors[0], fec::GOLAY_24_12_UNCORRECTABLE) << "c0 pattern " << pattern;
        }
        ++checked;
    }
    EXPECT_GT(checked, 24 + 276 + 2024);

    // The parity bit alone.
    EXPECT_EQ(decode_frame(with_c0_pattern(clean, 1u)), (DecodedFrame{u, Errors{1, 0, 0, 0}}));
    // Three Golay-part bits and the parity bit.
    EXPECT_EQ(decode_frame(with_c0_pattern(clean, (1u << 23) | (1u << 9) | (1u << 2) | 1u)).errors[0],
              fec::GOLAY_24_12_UNCORRECTABLE);
}

TEST(AmbePlus2Frame, C1ErrorsAreCorrectedUnderTheMask) {
    const unsigned seed = 2312;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const Info u = random_info(rng);
    const Symbols clean = encode_frame(u);
    for (unsigned i = 0; i < 23; ++i) {
        for (unsigned j = i + 1; j < 23; ++j) {
            for (unsigned k = j + 1; k < 23; ++k) {
                Symbols symbols = clean;
                flip_code_bit(symbols, 1, i);
                flip_code_bit(symbols, 1, j);
                flip_code_bit(symbols, 1, k);
                ASSERT_EQ(decode_frame(symbols), (DecodedFrame{u, Errors{0, 3, 0, 0}})) << i << "," << j << "," << k;
            }
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::frame
