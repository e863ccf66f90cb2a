// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/block_dct.h"

#include "ambe_plus2_wire/dequantize/codebook_columns.h"
#include "ambe_plus2_wire/dequantize/codebook_search.h"
#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "common/check.h"
#include "common/simd.h"
#include "wire_common/block_dct.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

namespace dct = wire_common::block_dct;

// The higher-order codebooks hold coefficients 3..6 of a block.
constexpr std::size_t HOC_FIRST = 2;  // 0-based column of C(i,3)
constexpr std::size_t HOC_WIDTH = 4;

}  // namespace

std::span<const std::array<float, 4>> hoc_codebook(std::size_t i) {
    switch (i) {
        case 0: return tables::HOC_B5;
        case 1: return tables::HOC_B6;
        case 2: return tables::HOC_B7;
        default: return tables::HOC_B8;
    }
}

std::array<double, 4> hoc_target(const CoefficientMatrix& c, const BlockLengths& j, std::size_t i) {
    std::array<double, HOC_WIDTH> target{};
    const std::size_t last = std::min<std::size_t>(j[i], HOC_FIRST + HOC_WIDTH);
    for (std::size_t k = HOC_FIRST; k < last; ++k) target[k - HOC_FIRST] = c[i][k];
    return target;
}

BlockLengths block_lengths(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "harmonic count inside the half-rate block tables");
    return tables::BLOCK_LENGTHS[l - L_MIN];
}

Prba inverse_prba_dct(const Prba& g) {
    Prba without_mean = g;
    without_mean[0] = 0.0;
    Prba r{};
    dct::inverse<double, MAX_BLOCK_LENGTH>(without_mean, r);
    return r;
}

Prba forward_prba_dct(const Prba& r) {
    Prba g{};
    dct::forward<double, MAX_BLOCK_LENGTH>(r, g);
    g[0] = 0.0;
    return g;
}

void set_prba_columns(CoefficientMatrix& c, const Prba& r) {
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        c[i][0] = 0.5 * (r[2 * i] + r[2 * i + 1]);
        c[i][1] = (std::numbers::sqrt2 / 4.0) * (r[2 * i] - r[2 * i + 1]);
    }
}

void set_hoc_row(CoefficientMatrix& c, std::size_t i, std::uint16_t index, const BlockLengths& j) {
    const auto codebook = hoc_codebook(i);
    OSTREL_CHECK(index < codebook.size(), "higher-order index fits its codebook");
    const std::size_t last = std::min<std::size_t>(j[i], HOC_FIRST + HOC_WIDTH);
    for (std::size_t k = HOC_FIRST; k < last; ++k) c[i][k] = static_cast<double>(codebook[index][k - HOC_FIRST]);
}

CoefficientMatrix assemble_hoc_matrix(const Prba& r, const HocIndices& hoc, const BlockLengths& j) {
    CoefficientMatrix c{};
    set_prba_columns(c, r);
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) set_hoc_row(c, i, hoc[i], j);
    return c;
}

Prba prba_from_coefficients(const CoefficientMatrix& c) {
    Prba r{};
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        r[2 * i] = c[i][0] + std::numbers::sqrt2 * c[i][1];
        r[2 * i + 1] = c[i][0] - std::numbers::sqrt2 * c[i][1];
    }
    return r;
}

Residuals inverse_block_dct(const CoefficientMatrix& c, const BlockLengths& j) {
    return dct::inverse_blocks<double, MAX_BLOCK_LENGTH, BLOCK_COUNT, L_HAT_MAX>(c, j);
}

void inverse_one_block(const CoefficientMatrix& c, const BlockLengths& j, std::size_t block, Residuals& t) {
    OSTREL_CHECK(block < BLOCK_COUNT, "a block of the frame");
    std::size_t offset = 0;
    for (std::size_t i = 0; i < block; ++i) offset += j[i];
    dct::inverse<double, MAX_BLOCK_LENGTH>(std::span<const double>(c[block]).first(j[block]),
                                           std::span<double>(t).subspan(offset, j[block]));
}

CoefficientMatrix forward_block_dct(const Residuals& t, const BlockLengths& j) {
    return dct::forward_blocks<double, MAX_BLOCK_LENGTH>(t, j);
}

CoefficientMatrix forward_coded_block_dct(const Residuals& t, const BlockLengths& j) {
    CoefficientMatrix c{};
    std::size_t offset = 0;
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        const std::size_t n = j[i];
        OSTREL_CHECK(n <= MAX_BLOCK_LENGTH && offset + n <= t.size(), "block lengths fit the value vector");
        const auto& table = dct::cosines<double, MAX_BLOCK_LENGTH>(n);
        // dct::forward's sums for the coefficients the codebooks carry.
        for (std::size_t k = 0; k < std::min<std::size_t>(n, HOC_FIRST + HOC_WIDTH); ++k) {
            double sum = 0;
            for (std::size_t m = 0; m < n; ++m) sum += t[offset + m] * table[k][m];
            c[i][k] = (1.0 / static_cast<double>(n)) * sum;
        }
        offset += n;
    }
    return c;
}

// Built for AVX2 and for the baseline instruction set (the same operations in the same order).
OSTREL_AVX2_CLONES
HocIndices quantize_hoc_all(const CoefficientMatrix& c, const BlockLengths& j) {
    static_assert(HOC_WIDTH == 4, "the column codebooks hold four coefficients");
    HocIndices b{};
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        if (j[i] <= HOC_FIRST) continue;
        // The entry nearest_entry picks from hoc_codebook(i), searched column by column.
        const std::array<double, HOC_WIDTH> target = hoc_target(c, j, i);
        std::size_t entry = 0;
        switch (i) {
            case 0: entry = nearest_entry(hoc_b5_columns(), target); break;
            case 1: entry = nearest_entry(hoc_b6_columns(), target); break;
            case 2: entry = nearest_entry(hoc_b7_columns(), target); break;
            default: entry = nearest_entry(hoc_b8_columns(), target); break;
        }
        b[i] = static_cast<std::uint16_t>(entry);
    }
    return b;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
