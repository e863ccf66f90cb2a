// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/log_prediction.h"

#include <algorithm>
#include <type_traits>
#include <cmath>

#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::imbe_wire::dequantize {
// Built for AVX2 as well: there the resampling positions, four or eight at a time, are
// vectorised (a 32-bit index, which AVX2 converts to float and back); the sum S still adds the
// harmonics one by one in order.
OSTREL_AVX2_CLONES
Resampled resample_previous(std::uint8_t l, const DecoderState& state) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "log prediction runs for L = 9..56");
    const std::size_t previous_l = state.previous_l;
    OSTREL_CHECK(previous_l < state.previous_amplitudes.size(), "previous harmonic count fits the state");
    // Each previous amplitude is read by up to four harmonics: its log2 is taken once.  Entry 0
    // is always 1.0, so f = 0 reads log2 1 = 0.
    std::remove_const_t<decltype(state.previous_amplitudes)> log2_previous;
    for (std::size_t i = 0; i <= previous_l; ++i) log2_previous[i] = std::log2(state.previous_amplitudes[i]);
    Resampled r;
    const int last = static_cast<int>(previous_l);
    const float previous = static_cast<float>(previous_l);
    const float count = static_cast<float>(l);
    HarmonicVector term;
    for (int h = 1; h <= static_cast<int>(l); ++h) {
        const float x = previous * static_cast<float>(h) / count;
        const float floor_x = std::floor(x);
        // 0 <= x <= L(-1) <= 56.
        const int f = static_cast<int>(floor_x);
        const float delta = x - floor_x;
        const float lo = log2_previous[static_cast<std::size_t>(std::min(f, last))];
        const float hi = log2_previous[static_cast<std::size_t>(std::min(f + 1, last))];
        r.lo[h - 1] = lo;
        r.hi[h - 1] = hi;
        r.delta[h - 1] = delta;
        term[h - 1] = (1.0f - delta) * lo + delta * hi;
    }
    for (std::size_t h = 0; h < l; ++h) r.sum += term[h];
    return r;
}

float prediction_weight(std::uint8_t l) {
    if (l < 16) return 0.4f;
    if (l <= 24) return 0.03f * static_cast<float>(l) - 0.05f;
    return 0.7f;
}

HarmonicVector apply_log_prediction(const HarmonicVector& residuals, std::uint8_t l, const DecoderState& state) {
    return apply_log_prediction(residuals, l, resample_previous(l, state));
}

HarmonicVector apply_log_prediction(const HarmonicVector& residuals, std::uint8_t l, const Resampled& r) {
    const float rho = prediction_weight(l);
    const float mean_term = rho * r.sum / static_cast<float>(l);
    HarmonicVector out{};
    for (std::size_t h = 0; h < l; ++h) {
        out[h] = residuals[h] + rho * (1.0f - r.delta[h]) * r.lo[h] + rho * r.delta[h] * r.hi[h] - mean_term;
    }
    return out;
}

HarmonicVector forward_log_prediction(const HarmonicVector& log2_amplitudes, std::uint8_t l,
                                      const DecoderState& state) {
    return forward_log_prediction(log2_amplitudes, l, resample_previous(l, state));
}

HarmonicVector forward_log_prediction(const HarmonicVector& log2_amplitudes, std::uint8_t l, const Resampled& r) {
    const float rho = prediction_weight(l);
    const float mean_term = rho * r.sum / static_cast<float>(l);
    HarmonicVector out{};
    for (std::size_t h = 0; h < l; ++h) {
        out[h] = log2_amplitudes[h] - rho * (1.0f - r.delta[h]) * r.lo[h] - rho * r.delta[h] * r.hi[h] + mean_term;
    }
    return out;
}

}  // namespace ostrel_mbe::imbe_wire::dequantize

