// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/log_prediction.h"

#include "common/check.h"
#include "common/simd.h"

#include <algorithm>
#include <cmath>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// The previous frame's log2 amplitudes resampled at harmonic l of L: x = P l / L between
// entries floor(x) and floor(x) + 1 (both limited to P; entry 1 stands in for entry 0).
// Built for AVX2 as well, where the harmonics go four at a time (with a 32-bit index, which
// AVX2 converts to double and back).
OSTREL_AVX2_CLONES
std::array<Interpolation, L_HAT_MAX> interpolate(std::uint8_t l_count, const PreviousLambda& previous,
                                                 std::uint8_t previous_l) {
    OSTREL_CHECK(l_count >= 1 && l_count <= L_HAT_MAX, "harmonic count fits the predictor");
    OSTREL_CHECK(previous_l < previous.size(), "previous harmonic count fits the predictor state");
    const int p = previous_l;
    const double count = static_cast<double>(l_count);
    std::array<Interpolation, L_HAT_MAX> out{};
    for (int l = 1; l <= static_cast<int>(l_count); ++l) {
        // P l is exact, and floor(x) is the integer quotient of P l by L: a fraction of P l / L
        // is at least 1 / L, far more than the rounding of x can bridge.
        const double x = static_cast<double>(p * l) / count;
        const double f_real = std::floor(x);
        const int f = static_cast<int>(f_real);
        // Entry 0 is not part of the state; with P = 0 entry 1 stands in for both sides.
        const int lo_index = std::max(1, std::min(f, p));
        const int hi_index = std::max(1, std::min(f + 1, p));
        out[static_cast<std::size_t>(l - 1)] = {previous[static_cast<std::size_t>(lo_index)],
                                                previous[static_cast<std::size_t>(hi_index)], x - f_real};
    }
    return out;
}

PredictionBasis basis_of(std::uint8_t l, const std::array<Interpolation, L_HAT_MAX>& ip) {
    const double count = static_cast<double>(l);
    PredictionBasis basis;
    basis.l = l;
    double s = 0.0;
    for (std::size_t i = 0; i < l; ++i) {
        s += (1.0 - ip[i].delta) * ip[i].lo + ip[i].delta * ip[i].hi;
        basis.lower[i] = PREDICTION_COEFFICIENT * (1.0 - ip[i].delta) * ip[i].lo;
        basis.upper[i] = PREDICTION_COEFFICIENT * ip[i].delta * ip[i].hi;
    }
    basis.mean = PREDICTION_COEFFICIENT * s / count;
    basis.half_log2_l = 0.5 * std::log2(count);
    return basis;
}

}  // namespace

PredictionBasis prediction_basis(std::uint8_t l, const PreviousLambda& previous, std::uint8_t previous_l) {
    return basis_of(l, interpolate(l, previous, previous_l));
}

Residuals apply_log_prediction(const Residuals& t, double gamma, const PredictionBasis& basis) {
    const std::size_t l = basis.l;
    double t_sum = 0.0;
    for (std::size_t i = 0; i < l; ++i) t_sum += t[i];
    const double t_mean = t_sum / static_cast<double>(l);
    // Evaluated term by term in the order of the standard's formula.
    Residuals lambda{};
    for (std::size_t i = 0; i < l; ++i) lambda[i] = prediction_head(t[i], i, gamma, basis) - t_mean;
    return lambda;
}

Residuals apply_log_prediction(const Residuals& t, std::uint8_t l, double gamma, const PreviousLambda& previous,
                               std::uint8_t previous_l) {
    return apply_log_prediction(t, gamma, prediction_basis(l, previous, previous_l));
}

ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l, const PreviousLambda& previous,
                                         std::uint8_t previous_l) {
    return forward_log_prediction(lambda, l, interpolate(l, previous, previous_l));
}

ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l, const PreviousLambda& previous,
                                         std::uint8_t previous_l, PredictionBasis& basis) {
    const auto ip = interpolate(l, previous, previous_l);
    basis = basis_of(l, ip);
    return forward_log_prediction(lambda, l, ip);
}

ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l,
                                         const std::array<Interpolation, L_HAT_MAX>& ip) {
    const double count = static_cast<double>(l);
    std::array<double, L_HAT_MAX> pred{};
    double pred_sum = 0.0;
    double lambda_sum = 0.0;
    for (std::size_t i = 0; i < l; ++i) {
        pred[i] = (1.0 - ip[i].delta) * ip[i].lo + ip[i].delta * ip[i].hi;
        pred_sum += pred[i];
        lambda_sum += lambda[i];
    }
    ForwardPrediction out;
    for (std::size_t i = 0; i < l; ++i) {
        out.residuals[i] = lambda[i] - PREDICTION_COEFFICIENT * pred[i] + PREDICTION_COEFFICIENT * pred_sum / count -
                           lambda_sum / count;
    }
    out.gamma = 0.5 * std::log2(count) + lambda_sum / count;
    return out;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
