// SPDX-License-Identifier: GPL-2.0-or-later
// PYIN pitch tracker: YIN cumulative-mean-normalised difference over periods 21..122 samples,
// per-period probabilities from 100 thresholds weighted by a Beta(2, 18) prior, and an online
// max-product recursion across frames with a Gaussian transition cost in log-period
// (-2 (log2 ratio)^2).  Returns a fractional period in samples and the difference there (0..1).
#pragma once

#include <array>
#include <span>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin {

inline constexpr std::size_t CANDIDATES = 102;   // tau = k + 21, k = 0..101
inline constexpr std::size_t MIN_SAMPLES = 282;  // 160 differences at lags up to 122

struct PyinState {
    std::array<double, CANDIDATES> log_scores{};  // delta[k]
    bool initialized = false;

    friend bool operator==(const PyinState&, const PyinState&) = default;
};

struct PyinPitch {
    double period;      // samples, 21.0..122.0
    double difference;  // d'(tau) at the chosen candidate, clamped to [0, 1]
};

using Differences = std::array<double, CANDIDATES>;

// T[j][i] = -(ln(j + 21) - ln(i + 21))^2 / ((ln 2)^2 / 2), built once and shared.
const std::array<std::array<double, CANDIDATES>, CANDIDATES>& log_trans_table();

// d'(tau) for tau = 21..122 over the first 282 samples of x.
Differences normalised_differences(std::span<const double> x);

// Parabolic refinement of candidate k (interior candidates only) and its clamped difference.
PyinPitch frame_to_pitch(const Differences& differences, std::size_t k);

PyinPitch run_pyin_smoothed(std::span<const double> x, PyinState& state);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin
