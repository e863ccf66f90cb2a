// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/gain.h"

#include <algorithm>
#include <cmath>

#include "common/check.h"
#include "imbe_wire/dequantize/dct_cos.h"
#include "imbe_wire/dequantize/uniform_quantizer.h"
#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

const std::array<tables::GainQuantizer, 5>& quantizers_for(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "gain bit allocation exists for L = 9..56");
    return tables::GAIN_QUANTIZERS[l - L_MIN];
}

std::uint16_t nearest_gain_level(float g1) {
    const auto& levels = tables::GAIN_LEVELS;
    if (std::isnan(g1)) return 0;
    if (g1 <= levels.front()) return 0;
    if (g1 >= levels.back()) return static_cast<std::uint16_t>(levels.size() - 1);
    // Bisection for the bracketing pair levels[lo] <= g1 < levels[lo + 1].
    const auto upper = std::upper_bound(levels.begin(), levels.end(), g1);
    const auto hi = static_cast<std::size_t>(upper - levels.begin());
    const std::size_t lo = hi - 1;
    const float below = g1 - levels[lo];
    const float above = levels[hi] - g1;
    return static_cast<std::uint16_t>(below <= above ? lo : hi);
}

}  // namespace

GainVector decode_gain_dct(const BValues& b, std::uint8_t l) {
    const auto& quantizers = quantizers_for(l);
    OSTREL_CHECK(b[2] < tables::GAIN_LEVELS.size(), "gain index b2 has six bits");
    GainVector g{};
    g[0] = tables::GAIN_LEVELS[b[2]];
    for (std::size_t m = 1; m < 6; ++m) {
        const auto& q = quantizers[m - 1];
        g[m] = uniform_level(b[m + 2], q.bits, q.step);
    }
    return g;
}

void encode_gain_dct(const GainVector& gain, std::uint8_t l, BValues& b) {
    const auto& quantizers = quantizers_for(l);
    b[2] = nearest_gain_level(gain[0]);
    for (std::size_t m = 1; m < 6; ++m) {
        const auto& q = quantizers[m - 1];
        b[m + 2] = uniform_index(gain[m], q.bits, q.step);
    }
}

BlockResiduals gain_to_residuals(const GainVector& gain) {
    const auto& t6 = dct6_cos::TABLE.get();
    BlockResiduals r{};
    for (std::size_t i = 0; i < 6; ++i) {
        float acc = gain[0] * t6[0][i];
        for (std::size_t m = 1; m < 6; ++m) acc += 2.0f * gain[m] * t6[m][i];
        r[i] = acc;
    }
    return r;
}

GainVector residuals_to_gain(const BlockResiduals& residuals) {
    const auto& t6 = dct6_cos::TABLE.get();
    GainVector g{};
    for (std::size_t m = 0; m < 6; ++m) {
        float acc = 0.0f;
        for (std::size_t i = 0; i < 6; ++i) acc += residuals[i] * t6[m][i];
        g[m] = (1.0f / 6.0f) * acc;
    }
    return g;
}

}  // namespace ostrel_mbe::imbe_wire::dequantize
