// SPDX-License-Identifier: GPL-2.0-or-later
#include "fec.h"

#include <bit>

#include "common/check.h"

namespace ostrel_mbe::fec {
namespace {

constexpr std::uint32_t GOLAY_WORD_MASK = 0x7FFFFF;
constexpr std::uint32_t GOLAY_PARITY_MASK = 0x7FF;
constexpr unsigned GOLAY_DATA_SHIFT = 11;

constexpr std::uint16_t HAMMING_WORD_MASK = 0x7FFF;
constexpr unsigned HAMMING_DATA_SHIFT = 4;

// Parity column of Hamming (15,11) data bit 0..10; parity bits 0..3 have the columns 1, 2, 4, 8.
constexpr std::array<std::uint8_t, 11> HAMMING_COLUMNS = {0x3, 0x5, 0x6, 0x7, 0x9, 0xA,
                                                         0xB, 0xC, 0xD, 0xE, 0xF};

// For each 4-bit syndrome, the position in the 15-bit word of the single error that causes it.
// All fifteen columns are distinct and non-zero, so every non-zero syndrome has one position.
constexpr std::array<std::uint8_t, 16> HAMMING_ERROR_POSITION = [] {
    std::array<std::uint8_t, 16> position{};
    for (unsigned p = 0; p < 4; ++p) position[1u << p] = static_cast<std::uint8_t>(p);
    for (unsigned d = 0; d < HAMMING_COLUMNS.size(); ++d) {
        position[HAMMING_COLUMNS[d]] = static_cast<std::uint8_t>(d + HAMMING_DATA_SHIFT);
    }
    return position;
}();

std::uint8_t hamming_parity(std::uint16_t data) {
    std::uint8_t parity = 0;
    for (unsigned d = 0; d < HAMMING_COLUMNS.size(); ++d) {
        if ((data >> d) & 1u) parity ^= HAMMING_COLUMNS[d];
    }
    return parity;
}

golay_23_12_syndrome_table::Entries build_syndrome_table() {
    golay_23_12_syndrome_table::Entries table{};
    std::size_t filled = 1;  // syndrome 0: no error
    const auto store = [&](std::uint32_t pattern) {
        const std::uint16_t s = golay_23_12_syndrome(pattern);
        // The code is perfect: no two patterns of weight 3 or less share a syndrome.
        OSTREL_CHECK(s != 0 && table[s] == 0, "Golay syndromes of weight 1..3 patterns are distinct");
        table[s] = pattern;
        ++filled;
    };
    for (unsigned i = 0; i < 23; ++i) store(1u << i);
    for (unsigned i = 0; i < 23; ++i)
        for (unsigned j = i + 1; j < 23; ++j) store((1u << i) | (1u << j));
    for (unsigned i = 0; i < 23; ++i)
        for (unsigned j = i + 1; j < 23; ++j)
            for (unsigned k = j + 1; k < 23; ++k) store((1u << i) | (1u << j) | (1u << k));
    OSTREL_CHECK(filled == golay_23_12_syndrome_table::SIZE, "every Golay syndrome has a pattern");
    return table;
}

}  // namespace

namespace golay_23_12_syndrome_table {

const Entries& entries() {
    // Function-local static: initialised exactly once, concurrent first callers wait for it.
    static const Entries table = build_syndrome_table();
    return table;
}

}  // namespace golay_23_12_syndrome_table

std::uint32_t golay_23_12_encode(std::uint16_t data) {
    std::uint32_t word = 0;
    for (unsigned r = 0; r < GOLAY_23_12_GENERATOR.size(); ++r) {
        if ((data >> (11 - r)) & 1u) word ^= GOLAY_23_12_GENERATOR[r];
    }
    return word;
}

std::uint16_t golay_23_12_syndrome(std::uint32_t word) {
    std::uint32_t syndrome = word & GOLAY_PARITY_MASK;
    for (unsigned r = 0; r < GOLAY_23_12_GENERATOR.size(); ++r) {
        if ((word >> (22 - r)) & 1u) syndrome ^= GOLAY_23_12_GENERATOR[r] & GOLAY_PARITY_MASK;
    }
    return static_cast<std::uint16_t>(syndrome);
}

Decoded golay_23_12_decode(std::uint32_t word) {
    word &= GOLAY_WORD_MASK;
    const std::uint32_t pattern = golay_23_12_syndrome_table::TABLE[golay_23_12_syndrome(word)];
    return {static_cast<std::uint16_t>(((word ^ pattern) >> GOLAY_DATA_SHIFT) & 0xFFF),
            static_cast<std::uint8_t>(std::popcount(pattern))};
}

std::uint32_t golay_24_12_encode(std::uint16_t data) {
    const std::uint32_t golay = golay_23_12_encode(data);
    return (golay << 1) | static_cast<std::uint32_t>(std::popcount(golay) & 1);
}

Decoded golay_24_12_decode(std::uint32_t word) {
    Decoded decoded = golay_23_12_decode(word >> 1);
    const unsigned expected_parity = static_cast<unsigned>(std::popcount(golay_23_12_encode(decoded.data)) & 1);
    if (expected_parity != (word & 1u)) {
        decoded.errors = decoded.errors == 3 ? GOLAY_24_12_UNCORRECTABLE
                                             : static_cast<std::uint8_t>(decoded.errors + 1);
    }
    return decoded;
}

std::uint16_t hamming_15_11_encode(std::uint16_t data) {
    data &= 0x7FF;
    return static_cast<std::uint16_t>((data << HAMMING_DATA_SHIFT) | hamming_parity(data));
}

Decoded hamming_15_11_decode(std::uint16_t word) {
    word &= HAMMING_WORD_MASK;
    const auto data = static_cast<std::uint16_t>(word >> HAMMING_DATA_SHIFT);
    const unsigned syndrome = (word & 0xFu) ^ hamming_parity(data);
    if (syndrome == 0) return {data, 0};
    const auto corrected = static_cast<std::uint16_t>(word ^ (1u << HAMMING_ERROR_POSITION[syndrome]));
    return {static_cast<std::uint16_t>(corrected >> HAMMING_DATA_SHIFT), 1};
}

}  // namespace ostrel_mbe::fec
