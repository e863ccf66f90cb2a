// SPDX-License-Identifier: GPL-2.0-or-later
// Error-control codes of the P25 vocoder frames (TIA-102.BABA): Golay (23,12) correcting up
// to three bit errors, its extended (24,12) form that also detects a fourth, and Hamming
// (15,11) correcting one.  Code words are right-aligned, data in the high bits, parity low.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ostrel_mbe::fec {

// A decoded word: the corrected data value and the number of bit errors corrected.
struct Decoded {
    std::uint16_t data = 0;
    std::uint8_t errors = 0;

    friend bool operator==(const Decoded&, const Decoded&) = default;
};

// Generator rows of the systematic Golay (23,12) code, g(x) = x^11 + x^10 + x^6 + x^5 +
// x^4 + x^2 + 1; row r belongs to data bit 11 - r and holds that bit plus its 11 parity bits.
inline constexpr std::array<std::uint32_t, 12> GOLAY_23_12_GENERATOR = {
    0x40063A, 0x20031D, 0x1007B4, 0x0803DA, 0x0401ED, 0x0206CC,
    0x010366, 0x0081B3, 0x0046E3, 0x00254B, 0x00149F, 0x000C75,
};

// Error count of golay_24_12_decode for a word with a detected, uncorrectable error.
inline constexpr std::uint8_t GOLAY_24_12_UNCORRECTABLE = 255;

// 23-bit code word of the low 12 bits of data.
std::uint32_t golay_23_12_encode(std::uint16_t data);
// 11-bit syndrome of the 23-bit word in bits 22..0 (higher bits ignored); 0 for a code word.
std::uint16_t golay_23_12_syndrome(std::uint32_t word);
// Corrects up to three errors in bits 22..0 (higher bits ignored); errors is 0..3.  A word
// with four or more errors decodes to some other code word.
Decoded golay_23_12_decode(std::uint32_t word);

// 24-bit extended code word: the Golay (23,12) word in bits 23..1, even parity over it in bit 0.
std::uint32_t golay_24_12_encode(std::uint16_t data);
// Decodes bits 23..0 (higher bits ignored); errors is 0..4, or GOLAY_24_12_UNCORRECTABLE
// when three corrections still leave the parity wrong.  The data is returned in every case.
Decoded golay_24_12_decode(std::uint32_t word);

// 15-bit Hamming code word of the low 11 bits of data: data in bits 14..4, parity in 3..0.
std::uint16_t hamming_15_11_encode(std::uint16_t data);
// Corrects one error in bits 14..0 (higher bits ignored); errors is 0 or 1.
Decoded hamming_15_11_decode(std::uint16_t word);

// The least-weight error pattern of every 11-bit Golay syndrome.  The code is perfect, so
// the 2048 syndromes are exactly the patterns of weight 0..3.  Built once per process on
// first use behind a thread-safe one-time guard, read-only afterwards.
namespace golay_23_12_syndrome_table {

inline constexpr std::size_t SIZE = 2048;
using Entries = std::array<std::uint32_t, SIZE>;

const Entries& entries();

struct View {
    std::uint32_t operator[](std::size_t syndrome) const { return entries()[syndrome]; }
    const Entries& operator*() const { return entries(); }
    static constexpr std::size_t size() { return SIZE; }
};

inline constexpr View TABLE{};

}  // namespace golay_23_12_syndrome_table
}  // namespace ostrel_mbe::fec
