// SPDX-License-Identifier: GPL-2.0-or-later
// IMBE log2 amplitude prediction: each harmonic's log2 amplitude is predicted from the
// previous frame's amplitudes resampled onto the current harmonic grid, scaled by rho(L) and
// with its mean removed, as TIA-102.BABA codes them.  Log2 domain, 32-bit arithmetic.
#pragma once

#include <cstdint>

#include "imbe_wire/dequantize.h"
#include "imbe_wire/dequantize/vectors.h"

namespace ostrel_mbe::imbe_wire::dequantize {

// The prediction weight rho: 0.4 for L < 16, 0.03 L - 0.05 for 16 <= L <= 24, 0.7 above.
float prediction_weight(std::uint8_t l);

// The previous frame's log2 amplitudes resampled at x_l = L(-1) l / L for l = 1..L: the pair of
// neighbours (lo_l, hi_l), the fraction delta_l, and the weight sum S.
struct Resampled {
    HarmonicVector lo{};
    HarmonicVector hi{};
    HarmonicVector delta{};
    float sum = 0.0f;
};
Resampled resample_previous(std::uint8_t l, const DecoderState& state);

// Decoder: log2 M_l = T_l + rho (1 - delta_l) lo_l + rho delta_l hi_l - rho S / L for
// l = 1..L, from the previous amplitudes and L(-1) of the state.  L must be 9..56.
HarmonicVector apply_log_prediction(const HarmonicVector& residuals, std::uint8_t l, const DecoderState& state);
// The same from the state's resample_previous(l, state), for an encoder that predicts both ways.
HarmonicVector apply_log_prediction(const HarmonicVector& residuals, std::uint8_t l, const Resampled& r);

// Encoder: T_l = log2 M_l - rho (1 - delta_l) lo_l - rho delta_l hi_l + rho S / L, the exact
// inverse of apply_log_prediction for the same state.
HarmonicVector forward_log_prediction(const HarmonicVector& log2_amplitudes, std::uint8_t l,
                                      const DecoderState& state);
HarmonicVector forward_log_prediction(const HarmonicVector& log2_amplitudes, std::uint8_t l, const Resampled& r);

}  // namespace ostrel_mbe::imbe_wire::dequantize
