// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/vuv.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv {

bool harmonic_voiced(const VuvDecision& decision, std::size_t l) {
    return decision.band_count >= 1 && decision.voiced[band_of(l, decision.band_count)];
}

OSTREL_AVX2_CLONES
VuvDecision determine_vuv(const basis::Spectrum& spectrum, std::span<const double, basis::BASIS_LENGTH> table,
                          const refine::RefinedPitch& pitch, VoicingState& state, double pitch_error) {
    VuvDecision d;
    const basis::BasisRows rows(table);
    const double w0 = table[0];
    const double g = w0 * w0 > 0.0 ? 1.0 / (w0 * w0) : 0.0;
    // Bins 0..63 and 64..128, each sum in bin order, side by side (two chains of dependent
    // additions that would otherwise run one after the other).
    double low = 0.0;
    double high = 0.0;
    for (std::size_t k = 0; k <= 63; ++k) {
        low += std::norm(spectrum[k]);
        high += std::norm(spectrum[64 + k]);
    }
    high += std::norm(spectrum[128]);
    const double xi_lf = g * low;
    const double xi_hf = g * high;
    const double xi0 = xi_lf + xi_hf;

    double peak = state.peak_energy;
    if (xi0 > peak) {
        peak = 0.5 * peak + 0.5 * xi0;
    } else {
        peak = std::max(0.99 * peak + 0.01 * xi0, 20000.0);
    }

    const double denominator = xi0 + 0.01 * peak;
    double m = denominator > 0.0 ? (xi0 + 0.0025 * peak) / denominator : 0.0;
    // A spectrum tilted towards high frequencies is more likely noise; lower the threshold.
    if (xi_hf > 0.0 && xi_lf < 5.0 * xi_hf) m *= std::sqrt(xi_lf / (5.0 * xi_hf));

    const std::uint8_t k_count = band_count(pitch.harmonic_count);
    const int harmonics = pitch.harmonic_count;
    for (int k = 1; k <= k_count; ++k) {
        const int first = 3 * k - 2;
        const int last = k == k_count ? harmonics : 3 * k;
        double error_sum = 0.0;
        double signal_sum = 0.0;
        for (int l = first; l <= last; ++l) {
            const basis::BinRange bins = basis::harmonic_bins(pitch.omega0, l);
            std::array<double, basis::MAX_HARMONIC_BINS> scratch;
            const basis::HarmonicFit fit{spectrum, bins, rows.row(bins, pitch.omega0, l, scratch)};
            fit.add_error(fit.amplitude(), bins.first, bins.end, error_sum);
            for (int b = bins.first; b < bins.end; ++b) {
                const common::simd::Pair s = fit.at(b);
                signal_sum += s[0] * s[0] + s[1] * s[1];
            }
        }
        const auto band = static_cast<std::size_t>(k);
        d.band_error[band] = signal_sum != 0.0 ? error_sum / signal_sum : 1.0;
        if (pitch_error > 0.5 && k > 1) {
            d.threshold[band] = 0.0;
        } else {
            const double c = state.previous_voiced[band] ? 0.5625 : 0.45;
            d.threshold[band] = std::max(m * (1.0 - 0.3096 * static_cast<double>(k - 1) * pitch.omega0) * c, 0.0);
        }
        d.voiced[band] = d.band_error[band] < d.threshold[band];
    }

    d.energy_scale = m;
    d.frame_energy = xi0;
    d.peak_energy = peak;
    d.band_count = k_count;

    state.peak_energy = peak;
    state.previous_voiced = {};
    for (std::size_t k = 1; k <= k_count; ++k) state.previous_voiced[k] = d.voiced[k];
    return d;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::vuv
