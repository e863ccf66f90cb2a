// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate log2 amplitude prediction: each harmonic's log2 amplitude is predicted from the
// previous frame's log2 amplitudes, resampled to this frame's harmonic count by linear
// interpolation, with the prediction coefficient 0.65 of TIA-102.BABA; the frame's mean log2
// amplitude travels separately as the gain.  All arithmetic is 64-bit.
#pragma once

#include <array>
#include <cstdint>

#include "ambe_plus2_wire/dequantize/block_dct.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

inline constexpr double PREDICTION_COEFFICIENT = 0.65;

// The previous frame's log2 amplitudes at [1..previous_l]; [0] is not read.
using PreviousLambda = std::array<double, 58>;

// The decoder's log2 amplitudes lambda_l at [l - 1], l = 1..L, from the residuals T and the
// frame gain gamma.
Residuals apply_log_prediction(const Residuals& t, std::uint8_t l, double gamma, const PreviousLambda& previous,
                               std::uint8_t previous_l);

// The previous frame's log2 amplitude resampled at one harmonic: between `lo` and `hi`, at
// fraction `delta` of the way.
struct Interpolation {
    double lo = 0.0;
    double hi = 0.0;
    double delta = 0.0;
};

// What the prediction takes from the previous frame for a frame of l harmonics: the terms of
// the predictor's formula that depend on nothing the frame sends, each computed as the formula
// computes it.  An encoder that rebuilds one frame under many candidate indices (the quantizer
// search) works them out once.
struct PredictionBasis {
    std::array<double, L_HAT_MAX> lower{};  // 0.65 (1 - delta) lo at each harmonic
    std::array<double, L_HAT_MAX> upper{};  // 0.65 delta hi
    double mean = 0.0;                      // 0.65 times the sum of the resampled values, over L
    double half_log2_l = 0.0;               // 0.5 log2 L
    std::uint8_t l = 0;
};

PredictionBasis prediction_basis(std::uint8_t l, const PreviousLambda& previous, std::uint8_t previous_l);

// apply_log_prediction with the previous frame's part worked out: the same values, bit for bit.
Residuals apply_log_prediction(const Residuals& t, double gamma, const PredictionBasis& basis);

// Harmonic i's value in apply_log_prediction before the residuals' mean is taken off: lambda at
// i is this minus the mean of T, bit for bit.
inline double prediction_head(double t, std::size_t i, double gamma, const PredictionBasis& basis) {
    return t + basis.lower[i] + basis.upper[i] - basis.mean + gamma - basis.half_log2_l;
}

struct ForwardPrediction {
    Residuals residuals{};  // T_l at [l - 1]; they sum to zero
    double gamma = 0.0;     // 0.5 log2 L + mean log2 amplitude
};

// The encoder's inverse of apply_log_prediction for log2 amplitudes lambda at [l - 1].
ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l, const PreviousLambda& previous,
                                         std::uint8_t previous_l);
// The same, also giving prediction_basis(l, previous, previous_l) from the one resampling.
ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l, const PreviousLambda& previous,
                                         std::uint8_t previous_l, PredictionBasis& basis);
// The same from the resampled previous values.
ForwardPrediction forward_log_prediction(const Residuals& lambda, std::uint8_t l,
                                         const std::array<Interpolation, L_HAT_MAX>& ip);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
