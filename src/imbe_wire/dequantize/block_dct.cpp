// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/block_dct.h"

#include "common/check.h"
#include "imbe_wire/dequantize/dct_cos.h"
#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

const std::array<std::uint8_t, 6>& block_lengths(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "block lengths exist for L = 9..56");
    return tables::BLOCK_LENGTHS[l - L_MIN];
}

}  // namespace

HarmonicVector inverse_block_dct(const CoefficientMatrix& c, std::uint8_t l) {
    HarmonicVector t{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t length = block_lengths(l)[i];
        const auto& table = dct_cos::TABLES[length];
        for (std::size_t j = 0; j < length; ++j) {
            float acc = c[i][0] * table[0][j];
            for (std::size_t k = 1; k < length; ++k) acc += 2.0f * c[i][k] * table[k][j];
            t[start + j] = acc;
        }
        start += length;
    }
    OSTREL_CHECK(start == l, "block lengths sum to L");
    return t;
}

CoefficientMatrix forward_block_dct(const HarmonicVector& residuals, std::uint8_t l) {
    CoefficientMatrix c{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t length = block_lengths(l)[i];
        const auto& table = dct_cos::TABLES[length];
        const float scale = 1.0f / static_cast<float>(length);
        for (std::size_t k = 0; k < length; ++k) {
            float acc = 0.0f;
            for (std::size_t j = 0; j < length; ++j) acc += residuals[start + j] * table[k][j];
            c[i][k] = scale * acc;
        }
        start += length;
    }
    OSTREL_CHECK(start == l, "block lengths sum to L");
    return c;
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
