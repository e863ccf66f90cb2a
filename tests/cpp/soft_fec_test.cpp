// SPDX-License-Identifier: GPL-2.0-or-later
#include "soft_fec.h"

#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <bit>
#include <limits>
#include <random>

namespace ostrel_mbe::soft_fec {
namespace {

template <std::size_t N>
std::array<float, N> equal(float magnitude) {
    std::array<float, N> r{};
    r.fill(magnitude);
    return r;
}

// Equal reliabilities leave only the Hamming distance: exactly the hard decoders' choice and
// count, the extended word's ties (four errors) included.
TEST(SoftFec, EqualReliabilitiesDecodeLikeTheHardDecoders) {
    const auto r15 = equal<15>(0.7f);
    for (std::uint32_t w = 0; w < (1u << 15); ++w) {
        const auto soft = hamming_15_11_decode_soft(static_cast<std::uint16_t>(w), r15);
        const auto hard = fec::hamming_15_11_decode(static_cast<std::uint16_t>(w));
        ASSERT_EQ(soft.data, hard.data) << w;
        ASSERT_EQ(hamming_15_11_count(soft, false), hard.errors) << w;
    }
    std::mt19937 rng(20u);
    const auto r23 = equal<23>(3.0f);
    const auto r24 = equal<24>(3.0f);
    for (int i = 0; i < 40000; ++i) {
        const std::uint32_t w = rng() & 0xFFFFFFu;
        const auto soft23 = golay_23_12_decode_soft(w, r23);
        const auto hard23 = fec::golay_23_12_decode(w);
        ASSERT_EQ(soft23.data, hard23.data) << w;
        ASSERT_EQ(golay_23_12_count(soft23, false), hard23.errors) << w;
        const auto soft24 = golay_24_12_decode_soft(w, r24);
        const auto hard24 = fec::golay_24_12_decode(w);
        ASSERT_EQ(soft24.data, hard24.data) << w;
        ASSERT_EQ(golay_24_12_count(soft24, false), hard24.errors) << w;
    }
}

// Errors beyond the hard decoders' reach, on bits the channel marked unreliable, are corrected
// and counted as the most the hard decoders report; within the reach, flips of doubtful bits
// count for little.
TEST(SoftFec, UnreliableErrorsBeyondHardReachAreCorrected) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        const auto data = static_cast<std::uint16_t>(rng() & 0xFFFu);
        std::array<float, 24> r{};
        for (float& v : r) v = 2.0f + static_cast<float>(rng() % 100) / 50.0f;
        std::uint32_t errors = 0;
        while (std::popcount(errors) < 4) errors |= 1u << (rng() % 23);
        for (unsigned j = 0; j < 23; ++j)
            if ((errors >> j) & 1u) r[j] = 0.2f;
        const auto d23 = golay_23_12_decode_soft(fec::golay_23_12_encode(data) ^ errors, std::span<const float, 23>(r.data(), 23));
        EXPECT_EQ(d23.data, data);
        EXPECT_EQ(golay_23_12_count(d23, false), 3);
        std::array<float, 24> r24{};
        for (unsigned j = 0; j < 23; ++j) r24[j + 1] = r[j];
        r24[0] = 3.0f;
        const auto d24 = golay_24_12_decode_soft(fec::golay_24_12_encode(data) ^ (errors << 1), r24);
        EXPECT_EQ(d24.data, data);
        EXPECT_EQ(golay_24_12_count(d24, false), 3);  // confident: not the uncorrectable marker

        const auto hdata = static_cast<std::uint16_t>(rng() & 0x7FFu);
        std::array<float, 15> r15{};
        r15.fill(4.0f);
        const auto a = static_cast<unsigned>(rng() % 15), b = static_cast<unsigned>((a + 1 + rng() % 14) % 15);
        r15[a] = r15[b] = 0.5f;
        const auto h = hamming_15_11_decode_soft(
            static_cast<std::uint16_t>(fec::hamming_15_11_encode(hdata) ^ (1u << a) ^ (1u << b)), r15);
        EXPECT_EQ(h.data, hdata);
        EXPECT_EQ(hamming_15_11_count(h, false), 1);
        // Within reach, one doubtful error counts for nothing, one sure error for one.
        const unsigned doubtful = static_cast<unsigned>(std::countr_zero(errors));
        const unsigned sure = static_cast<unsigned>(std::countr_zero(~errors));
        for (unsigned j : {doubtful, sure}) {
            const auto one = golay_23_12_decode_soft(fec::golay_23_12_encode(data) ^ (1u << j),
                                                     std::span<const float, 23>(r.data(), 23));
            EXPECT_EQ(one.data, data);
            EXPECT_EQ(golay_23_12_count(one, false), j == doubtful ? 0 : 1);
            EXPECT_EQ(golay_23_12_count(one, true), 1);  // in a bad frame every flip counts
        }
    }
}

// The Hamming decoder is exact: with random reliabilities its choice is the code word nearest
// in weighted distance, found by trying all 2048.
TEST(SoftFec, HammingChoiceIsTheNearestCodeWord) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
        std::array<float, 15> r{};
        for (float& v : r) v = static_cast<float>(rng() % 10000) / 1000.0f;
        const auto word = static_cast<std::uint16_t>(rng() & 0x7FFFu);
        const auto distance = [&](std::uint32_t code) {
            float d = 0.0f;
            for (unsigned j = 0; j < 15; ++j) d += ((code ^ word) >> j & 1u) != 0 ? r[j] : 0.0f;
            return d;
        };
        float nearest = std::numeric_limits<float>::infinity();
        for (std::uint16_t data = 0; data < 2048; ++data) nearest = std::min(nearest, distance(fec::hamming_15_11_encode(data)));
        const auto decoded = hamming_15_11_decode_soft(word, r);
        EXPECT_NEAR(distance(fec::hamming_15_11_encode(decoded.data)), nearest, 1e-3f) << "trial " << trial;
    }
}

}  // namespace
}  // namespace ostrel_mbe::soft_fec
