// SPDX-License-Identifier: GPL-2.0-or-later
#include "call_start.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel_mbe::call_start {
namespace {

// Concealment's smoothing of the error rate (eps_R = 0.95 eps_R + term), its mute thresholds
// and the term per corrected error at each rate (codecs/mbe_baseline/synthesis.cpp).
constexpr double DECAY = 0.95;
constexpr double HALF_RATE_MUTE = 0.096;
constexpr double FULL_RATE_MUTE = 0.0875;
constexpr double HALF_RATE_PER_ERROR = 0.001064;
constexpr double FULL_RATE_PER_ERROR = 0.05 / 144.0;
// Keeps a frame of exactly the allowed count strictly under the threshold.
constexpr double MARGIN = 1e-6;

double per_error(bool half_rate) { return half_rate ? HALF_RATE_PER_ERROR : FULL_RATE_PER_ERROR; }

}  // namespace

double cautious_error_rate(bool half_rate) {
    const double mute = half_rate ? HALF_RATE_MUTE : FULL_RATE_MUTE;
    const unsigned heard = half_rate ? HALF_RATE_ERRORS_HEARD : FULL_RATE_ERRORS_HEARD;
    return (mute - heard * per_error(half_rate)) / DECAY - MARGIN;
}

double settled_error_rate(bool half_rate, std::uint8_t total_errors) {
    return std::min(total_errors * per_error(half_rate) / (1.0 - DECAY), cautious_error_rate(half_rate));
}

void fade_in(std::span<std::int16_t> pcm) {
    const double length = static_cast<double>(pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(i) + 0.5) / length);
        pcm[i] = static_cast<std::int16_t>(pcm[i] * w);
    }
}

}  // namespace ostrel_mbe::call_start
