// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/block_dct.h"

#include <numeric>

#include "common/check.h"
#include "imbe_wire/imbe_tables.h"
#include "wire_common/block_dct.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

const std::array<std::uint8_t, 6>& block_lengths(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "block lengths exist for L = 9..56");
    const auto& lengths = tables::BLOCK_LENGTHS[l - L_MIN];
    OSTREL_CHECK(std::accumulate(lengths.begin(), lengths.end(), 0u) == l, "block lengths sum to L");
    return lengths;
}

}  // namespace

HarmonicVector inverse_block_dct(const CoefficientMatrix& c, std::uint8_t l) {
    return wire_common::block_dct::inverse_blocks<float, MAX_BLOCK_LENGTH, 6, L_HAT_MAX>(c, block_lengths(l));
}

CoefficientMatrix forward_block_dct(const HarmonicVector& residuals, std::uint8_t l) {
    return wire_common::block_dct::forward_blocks<float, MAX_BLOCK_LENGTH>(residuals, block_lengths(l));
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
