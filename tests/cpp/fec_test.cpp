// SPDX-License-Identifier: GPL-2.0-or-later
#include "fec.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace ostrel_mbe::fec {
namespace {

// Sanitizer builds run ~10x slower: exhaustive loops then take a strided subset.
bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return std::getenv("OSTREL_SANITIZED") != nullptr;
#endif
}

// Every error pattern of weight 1..n among `bits` positions, lowest positions first.
std::vector<std::uint32_t> error_patterns(unsigned bits, unsigned max_weight) {
    std::vector<std::uint32_t> out;
    for (unsigned i = 0; i < bits; ++i) {
        out.push_back(1u << i);
        if (max_weight < 2) continue;
        for (unsigned j = i + 1; j < bits; ++j) {
            out.push_back((1u << i) | (1u << j));
            if (max_weight < 3) continue;
            for (unsigned k = j + 1; k < bits; ++k) out.push_back((1u << i) | (1u << j) | (1u << k));
        }
    }
    return out;
}

std::string hex(std::uint32_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
    return s;
}

// Parity of d * x^11 mod g(x) by long division, independent of the generator-row table.
std::uint32_t golay_by_division(std::uint16_t data) {
    std::uint32_t remainder = static_cast<std::uint32_t>(data) << 11;
    for (int bit = 22; bit >= 11; --bit) {
        if ((remainder >> bit) & 1u) remainder ^= 0xC75u << (bit - 11);
    }
    return (static_cast<std::uint32_t>(data) << 11) | remainder;
}

TEST(Golay2312, EncoderEqualsPolynomialDivision) {
    EXPECT_EQ(golay_23_12_encode(0x001), 0x000C75u);
    EXPECT_EQ(golay_23_12_encode(0x800), 0x40063Au);
    for (std::uint32_t d = 0; d < 4096; ++d) {
        const auto data = static_cast<std::uint16_t>(d);
        ASSERT_EQ(golay_23_12_encode(data), golay_by_division(data)) << "data " << d;
        ASSERT_EQ(golay_23_12_syndrome(golay_23_12_encode(data)), 0u) << "data " << d;
        // Data bits above bit 11 are ignored.
        ASSERT_EQ(golay_23_12_encode(static_cast<std::uint16_t>(d | 0xF000u)), golay_23_12_encode(data));
    }
}

TEST(Golay2312, MinimumDistanceIsSeven) {
    // Linear code: the minimum distance is the least weight of a non-zero code word.
    int least = 23;
    for (std::uint16_t d = 1; d < 4096; ++d) least = std::min(least, std::popcount(golay_23_12_encode(d)));
    EXPECT_EQ(least, 7);
}

TEST(Golay2312, SyndromeTableHoldsEveryPatternOfWeightUpToThree) {
    const auto& table = *golay_23_12_syndrome_table::TABLE;
    ASSERT_EQ(table.size(), 2048u);
    EXPECT_EQ(table[0], 0u);
    std::array<int, 4> by_weight{};
    for (std::size_t s = 0; s < table.size(); ++s) {
        const int w = std::popcount(table[s]);
        ASSERT_LE(w, 3) << "syndrome " << s;
        ASSERT_EQ(table[s] >> 23, 0u) << "syndrome " << s;
        ASSERT_EQ(golay_23_12_syndrome(table[s]), s) << "syndrome " << s;
        ++by_weight[static_cast<std::size_t>(w)];
    }
    EXPECT_EQ(by_weight, (std::array<int, 4>{1, 23, 253, 1771}));
}

TEST(Golay2312, TableIsOneSharedInstanceAcrossThreads) {
    std::array<const golay_23_12_syndrome_table::Entries*, 4> seen{};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([&seen, t] { seen[t] = &*golay_23_12_syndrome_table::TABLE; });
    }
    for (auto& th : threads) th.join();
    for (const auto* p : seen) EXPECT_EQ(p, &*golay_23_12_syndrome_table::TABLE);
}

TEST(Golay2312, CorrectsEveryErrorPatternOfWeightUpToThree) {
    const std::vector<std::uint32_t> patterns = error_patterns(23, 3);
    ASSERT_EQ(patterns.size(), 2047u);
    // Sanitizer builds: each data word meets every 32nd pattern and each pattern every 32nd word.
    const std::size_t stride = sanitized() ? 32 : 1;
    std::size_t failures = 0;
    std::string first_failure;
    for (std::uint32_t d = 0; d < 4096; ++d) {
        const std::uint32_t word = golay_23_12_encode(static_cast<std::uint16_t>(d));
        const Decoded clean = golay_23_12_decode(word);
        if (clean.data != d || clean.errors != 0) {
            if (failures++ == 0) first_failure = "clean word of data " + std::to_string(d);
        }
        for (std::size_t i = (d % stride); i < patterns.size(); i += stride) {
            const Decoded got = golay_23_12_decode(word ^ patterns[i]);
            if (got.data != d || got.errors != std::popcount(patterns[i])) {
                if (failures++ == 0) {
                    first_failure = "data " + std::to_string(d) + " pattern " + hex(patterns[i]) +
                                    " gave " + std::to_string(got.data) + "/" + std::to_string(got.errors);
                }
            }
        }
    }
    EXPECT_EQ(failures, 0u) << first_failure;
}

TEST(Golay2312, EveryWordDecodesToTheNearestCodeWord) {
    // The code is perfect: every 23-bit word lies within distance 3 of exactly one code word,
    // and the count is that distance.
    const std::uint32_t stride = sanitized() ? 97 : 1;
    std::size_t failures = 0;
    std::uint32_t first = 0;
    for (std::uint32_t w = 0; w < (1u << 23); w += stride) {
        const Decoded got = golay_23_12_decode(w);
        const int distance = std::popcount(w ^ golay_23_12_encode(got.data));
        if (got.data > 0xFFF || distance > 3 || distance != got.errors) {
            if (failures++ == 0) first = w;
        }
    }
    EXPECT_EQ(failures, 0u) << "first bad word " << hex(first);
}

TEST(Golay2312, BitsAboveTwentyTwoAreIgnored) {
    const unsigned seed = 23120001;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t word = rng() & 0x7FFFFFu;
        const std::uint32_t high = rng() & ~0x7FFFFFu;
        ASSERT_EQ(golay_23_12_decode(word | high), golay_23_12_decode(word)) << hex(word | high);
        ASSERT_EQ(golay_23_12_syndrome(word | high), golay_23_12_syndrome(word));
    }
    EXPECT_EQ(golay_23_12_decode(0xFF800000u), (Decoded{0, 0}));
}

TEST(Hamming1511, CorrectsEverySingleBitError) {
    for (std::uint16_t d = 0; d < 2048; ++d) {
        const std::uint16_t word = hamming_15_11_encode(d);
        ASSERT_EQ(word >> 4, d);
        ASSERT_EQ(hamming_15_11_decode(word), (Decoded{d, 0})) << "data " << d;
        for (unsigned bit = 0; bit < 15; ++bit) {
            const auto received = static_cast<std::uint16_t>(word ^ (1u << bit));
            ASSERT_EQ(hamming_15_11_decode(received), (Decoded{d, 1})) << "data " << d << " bit " << bit;
        }
        // Bit 15 is not part of the word, nor are data bits above bit 10.
        ASSERT_EQ(hamming_15_11_decode(static_cast<std::uint16_t>(word | 0x8000u)), (Decoded{d, 0}));
        ASSERT_EQ(hamming_15_11_encode(static_cast<std::uint16_t>(d | 0xF800u)), word);
    }
}

TEST(Hamming1511, ColumnsOfTheStandardAndMinimumDistanceThree) {
    // Parity columns of data bits 10..0 as TIA-102.BABA lists them.
    const std::array<std::uint16_t, 11> columns = {0xF, 0xE, 0xD, 0xC, 0xB, 0xA, 0x9, 0x7, 0x6, 0x5, 0x3};
    for (unsigned i = 0; i < 11; ++i) {
        const auto data = static_cast<std::uint16_t>(1u << (10 - i));
        EXPECT_EQ(hamming_15_11_encode(data), (data << 4) | columns[i]) << "data bit " << 10 - i;
    }
    int least = 15;
    for (std::uint16_t d = 1; d < 2048; ++d) least = std::min(least, std::popcount(hamming_15_11_encode(d)));
    EXPECT_EQ(least, 3);
}

TEST(Golay2412, EncodingAddsEvenParity) {
    for (std::uint16_t d = 0; d < 4096; ++d) {
        const std::uint32_t word = golay_24_12_encode(d);
        ASSERT_EQ(word >> 1, golay_23_12_encode(d));
        ASSERT_EQ(std::popcount(word) % 2, 0) << "data " << d;
        ASSERT_EQ(golay_24_12_decode(word), (Decoded{d, 0}));
    }
    // Extended Golay words all have weight divisible by four: minimum distance 8.
    int least = 24;
    for (std::uint16_t d = 1; d < 4096; ++d) least = std::min(least, std::popcount(golay_24_12_encode(d)));
    EXPECT_EQ(least, 8);
}

TEST(Golay2412, CountsUpToThreeErrorsAndMarksFourAsUncorrectable) {
    const std::vector<std::uint32_t> up_to_three = error_patterns(24, 3);
    std::vector<std::uint32_t> four;
    for (std::uint32_t p : error_patterns(24, 3)) {
        if (std::popcount(p) != 3) continue;
        const unsigned top = 31u - static_cast<unsigned>(std::countl_zero(p));
        for (unsigned bit = top + 1; bit < 24; ++bit) four.push_back(p | (1u << bit));
    }
    ASSERT_EQ(four.size(), 10626u);  // 24 choose 4
    const std::size_t stride = sanitized() ? 64 : 8;
    std::size_t failures = 0;
    std::string first_failure;
    const auto check = [&](std::uint16_t d, std::uint32_t pattern, std::uint8_t want) {
        const Decoded got = golay_24_12_decode(golay_24_12_encode(d) ^ pattern);
        if (got.errors != want || (want != GOLAY_24_12_UNCORRECTABLE && got.data != d)) {
            if (failures++ == 0) {
                first_failure = "data " + std::to_string(d) + " pattern " + hex(pattern) + " gave " +
                                std::to_string(got.data) + "/" + std::to_string(got.errors);
            }
        }
    };
    for (std::uint32_t d = 0; d < 4096; ++d) {
        const auto data = static_cast<std::uint16_t>(d);
        for (std::size_t i = d % stride; i < up_to_three.size(); i += stride) {
            check(data, up_to_three[i], static_cast<std::uint8_t>(std::popcount(up_to_three[i])));
        }
        for (std::size_t i = d % (stride * 4); i < four.size(); i += stride * 4) {
            check(data, four[i], GOLAY_24_12_UNCORRECTABLE);
        }
    }
    EXPECT_EQ(failures, 0u) << first_failure;
}

TEST(Golay2412, ParityBitCasesAndHighBits) {
    const std::uint16_t d = 0xA5C;
    const std::uint32_t word = golay_24_12_encode(d);
    // Only the parity bit flipped: one error, data intact.
    EXPECT_EQ(golay_24_12_decode(word ^ 1u), (Decoded{d, 1}));
    // Three errors in the data field and the parity bit: detected, not corrected.
    const std::uint32_t damaged = word ^ (1u << 23) ^ (1u << 17) ^ (1u << 12) ^ 1u;
    EXPECT_EQ(golay_24_12_decode(damaged).errors, GOLAY_24_12_UNCORRECTABLE);
    // Bits 24 and up are not part of the word.
    EXPECT_EQ(golay_24_12_decode(word | 0xFF000000u), (Decoded{d, 0}));
    EXPECT_EQ(golay_24_12_decode(damaged | 0x01000000u), golay_24_12_decode(damaged));
}

}  // namespace
}  // namespace ostrel_mbe::fec
