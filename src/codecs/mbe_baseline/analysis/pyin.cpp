// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/pyin.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin {
namespace {

constexpr std::size_t THRESHOLDS = 100;
constexpr std::size_t LAST = CANDIDATES - 1;

// Beta(2, 18) weights of the thresholds s_i = (i + 0.5) / 100, normalised to sum 1.
const std::array<double, THRESHOLDS>& threshold_weights() {
    static const std::array<double, THRESHOLDS> weights = [] {
        std::array<double, THRESHOLDS> w{};
        double total = 0.0;
        for (std::size_t i = 0; i < THRESHOLDS; ++i) {
            const double s = (static_cast<double>(i) + 0.5) / 100.0;
            w[i] = s * std::pow(1.0 - s, 17.0);
            total += w[i];
        }
        for (double& v : w) v /= total;
        return w;
    }();
    return weights;
}

// The candidate a threshold votes for: the first dip below it, else the global minimum.
std::size_t candidate_for(const Differences& d, double threshold, std::size_t global_min) {
    if (d[0] < threshold && d[0] < d[1]) return 0;
    for (std::size_t k = 1; k < LAST; ++k) {
        if (d[k] < threshold && d[k] < d[k - 1] && d[k] <= d[k + 1]) return k;
    }
    if (d[LAST] < threshold && d[LAST] < d[LAST - 1]) return LAST;
    return global_min;
}

}  // namespace

const std::array<std::array<double, CANDIDATES>, CANDIDATES>& log_trans_table() {
    static const std::array<std::array<double, CANDIDATES>, CANDIDATES> table = [] {
        constexpr double spread = 0.24022650695910117;  // (ln 2)^2 / 2
        std::array<std::array<double, CANDIDATES>, CANDIDATES> t{};
        for (std::size_t j = 0; j < CANDIDATES; ++j) {
            for (std::size_t i = 0; i < CANDIDATES; ++i) {
                const double diff = std::log(static_cast<double>(j + 21)) - std::log(static_cast<double>(i + 21));
                t[j][i] = -(diff * diff) / spread;
            }
        }
        return t;
    }();
    return table;
}

Differences normalised_differences(std::span<const double> x) {
    OSTREL_CHECK(x.size() >= MIN_SAMPLES, "PYIN needs at least 282 samples");
    Differences out{};
    double cumulative = 0.0;
    for (std::size_t tau = 1; tau <= 122; ++tau) {
        double d = 0.0;
        for (std::size_t j = 0; j < 160; ++j) {
            const double diff = x[j] - x[j + tau];
            d += diff * diff;
        }
        cumulative += d;
        if (tau < 21) continue;
        const double mean = cumulative / static_cast<double>(tau);
        out[tau - 21] = mean <= 1e-12 ? 1.0 : d / mean;
    }
    return out;
}

PyinPitch frame_to_pitch(const Differences& d, std::size_t k) {
    OSTREL_CHECK(k < CANDIDATES, "PYIN candidate index on the period grid");
    double offset = 0.0;
    if (k >= 1 && k + 1 <= LAST) {
        const double a = d[k - 1];
        const double b = d[k];
        const double c = d[k + 1];
        const double den = c + a - 2.0 * b;
        if (std::fabs(den) >= 1e-18) offset = std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
    }
    const double period = std::clamp(static_cast<double>(k + 21) + offset, 21.0, 122.0);
    return {period, std::clamp(d[k], 0.0, 1.0)};
}

PyinPitch run_pyin_smoothed(std::span<const double> x, PyinState& state) {
    const Differences d = normalised_differences(x);
    std::size_t global_min = 0;
    for (std::size_t k = 1; k < CANDIDATES; ++k) {
        if (d[k] < d[global_min]) global_min = k;
    }

    const auto& weights = threshold_weights();
    std::array<double, CANDIDATES> probability{};
    for (std::size_t i = 0; i < THRESHOLDS; ++i) {
        const double threshold = (static_cast<double>(i) + 0.5) / 100.0;
        probability[candidate_for(d, threshold, global_min)] += weights[i];
    }
    std::array<double, CANDIDATES> observation{};
    for (std::size_t k = 0; k < CANDIDATES; ++k) observation[k] = std::log(probability[k] + 9.803921568627451e-09);

    if (!state.initialized) {
        state.log_scores = observation;
        state.initialized = true;
    } else {
        const auto& trans = log_trans_table();
        std::array<double, CANDIDATES> next{};
        double peak = -std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j < CANDIDATES; ++j) {
            double best = -std::numeric_limits<double>::infinity();
            for (std::size_t i = 0; i < CANDIDATES; ++i) best = std::max(best, 0.95 * state.log_scores[i] + trans[j][i]);
            next[j] = best + observation[j];
            peak = std::max(peak, next[j]);
        }
        // Renormalise so the scores stay bounded over long runs.
        if (std::isfinite(peak)) {
            for (double& v : next) v -= peak;
        }
        state.log_scores = next;
    }

    std::size_t chosen = 0;
    for (std::size_t k = 1; k < CANDIDATES; ++k) {
        if (state.log_scores[k] > state.log_scores[chosen]) chosen = k;
    }
    return frame_to_pitch(d, chosen);
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::pyin
