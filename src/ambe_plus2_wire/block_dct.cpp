// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/block_dct.h"

#include "ambe_plus2_wire/codebook_search.h"
#include "ambe_plus2_wire/generated_tables.h"
#include "common/check.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// cos(pi (m - 1)(n - 0.5) / 8) at [m - 1][n - 1].
using PrbaCos = std::array<std::array<double, 8>, 8>;

const PrbaCos& prba_cos() {
    static const PrbaCos table = [] {
        PrbaCos t{};
        for (std::size_t m = 0; m < 8; ++m) {
            for (std::size_t n = 0; n < 8; ++n) {
                t[m][n] = std::cos(std::numbers::pi * static_cast<double>(m) * (static_cast<double>(n) + 0.5) / 8.0);
            }
        }
        return t;
    }();
    return table;
}

std::span<const std::array<float, 4>> hoc_codebook(std::size_t block) {
    switch (block) {
        case 0: return tables::HOC_B5;
        case 1: return tables::HOC_B6;
        case 2: return tables::HOC_B7;
        default: return tables::HOC_B8;
    }
}

// The higher-order codebooks hold coefficients 3..6 of a block.
constexpr std::size_t HOC_FIRST = 2;  // 0-based column of C(i,3)
constexpr std::size_t HOC_WIDTH = 4;

}  // namespace

BlockLengths block_lengths(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "harmonic count inside the half-rate block tables");
    return tables::BLOCK_LENGTHS[l - L_MIN];
}

Prba inverse_prba_dct(const Prba& g) {
    const auto& cs = prba_cos();
    Prba r{};
    for (std::size_t n = 0; n < 8; ++n) {
        double sum = 0.0;
        for (std::size_t m = 1; m < 8; ++m) sum += 2.0 * g[m] * cs[m][n];
        r[n] = sum;
    }
    return r;
}

Prba forward_prba_dct(const Prba& r) {
    const auto& cs = prba_cos();
    Prba g{};
    for (std::size_t m = 1; m < 8; ++m) {
        double sum = 0.0;
        for (std::size_t n = 0; n < 8; ++n) sum += r[n] * cs[m][n];
        g[m] = (1.0 / 8.0) * sum;
    }
    return g;
}

CoefficientMatrix assemble_hoc_matrix(const Prba& r, const HocIndices& hoc, const BlockLengths& j) {
    CoefficientMatrix c{};
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        c[i][0] = 0.5 * (r[2 * i] + r[2 * i + 1]);
        c[i][1] = (std::numbers::sqrt2 / 4.0) * (r[2 * i] - r[2 * i + 1]);
        const auto codebook = hoc_codebook(i);
        OSTREL_CHECK(hoc[i] < codebook.size(), "higher-order index fits its codebook");
        const std::size_t last = std::min<std::size_t>(j[i], HOC_FIRST + HOC_WIDTH);
        for (std::size_t k = HOC_FIRST; k < last; ++k) {
            c[i][k] = static_cast<double>(codebook[hoc[i]][k - HOC_FIRST]);
        }
    }
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
    Residuals t{};
    std::size_t offset = 0;
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        const std::size_t n = j[i];
        OSTREL_CHECK(n <= dct_cos::MAX_N && offset + n <= L_HAT_MAX, "block lengths fit the residual vector");
        const auto& table = dct_cos::TABLES[n];
        for (std::size_t jj = 0; jj < n; ++jj) {
            double value = c[i][0] * table(0, jj);
            for (std::size_t k = 1; k < n; ++k) value += 2.0 * c[i][k] * table(k, jj);
            t[offset + jj] = value;
        }
        offset += n;
    }
    return t;
}

CoefficientMatrix forward_block_dct(const Residuals& t, const BlockLengths& j) {
    CoefficientMatrix c{};
    std::size_t offset = 0;
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        const std::size_t n = j[i];
        OSTREL_CHECK(n <= dct_cos::MAX_N && offset + n <= L_HAT_MAX, "block lengths fit the residual vector");
        const auto& table = dct_cos::TABLES[n];
        for (std::size_t k = 0; k < n; ++k) {
            double sum = 0.0;
            for (std::size_t jj = 0; jj < n; ++jj) sum += t[offset + jj] * table(k, jj);
            c[i][k] = (1.0 / static_cast<double>(n)) * sum;
        }
        offset += n;
    }
    return c;
}

HocIndices quantize_hoc_all(const CoefficientMatrix& c, const BlockLengths& j) {
    HocIndices b{};
    for (std::size_t i = 0; i < BLOCK_COUNT; ++i) {
        if (j[i] <= HOC_FIRST) continue;
        std::array<double, HOC_WIDTH> target{};
        const std::size_t last = std::min<std::size_t>(j[i], HOC_FIRST + HOC_WIDTH);
        for (std::size_t k = HOC_FIRST; k < last; ++k) target[k - HOC_FIRST] = c[i][k];
        b[i] = static_cast<std::uint16_t>(nearest_entry<HOC_WIDTH>(hoc_codebook(i), target));
    }
    return b;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
