// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/hoc_matrix.h"

#include <algorithm>
#include <span>

#include "common/check.h"
#include "imbe_wire/dequantize/uniform_quantizer.h"
#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

std::span<const tables::HocAllocation> allocation_for(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "HOC bit allocation exists for L = 9..56");
    const auto range = tables::HOC_ALLOCATION_RANGE[l - L_MIN];
    return std::span(tables::HOC_ALLOCATION).subspan(range.start, range.count);
}

float hoc_step(const tables::HocAllocation& e) {
    const unsigned bits = std::min<unsigned>(e.bits, 10);
    return tables::STEP_SIZE[bits - 1] * tables::HOC_SIGMA[e.coefficient - 2];
}

}  // namespace

CoefficientMatrix assemble_hoc_matrix(const BValues& b, std::uint8_t l, const BlockResiduals& residuals) {
    CoefficientMatrix c{};
    for (std::size_t i = 0; i < 6; ++i) c[i][0] = residuals[i];
    for (const auto& e : allocation_for(l)) {
        if (e.bits == 0) continue;  // C(i,k) stays 0
        c[e.block - 1][e.coefficient - 1] = uniform_level(b[e.value_index], e.bits, hoc_step(e));
    }
    return c;
}

void disassemble_hoc_matrix(const CoefficientMatrix& c, std::uint8_t l, BValues& b) {
    for (const auto& e : allocation_for(l)) {
        b[e.value_index] = e.bits == 0 ? 0 : uniform_index(c[e.block - 1][e.coefficient - 1], e.bits, hoc_step(e));
    }
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
