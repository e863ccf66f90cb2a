// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/denoise.h"
#include "common/simd.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise {

OSTREL_AVX2_CLONES
void NoiseSpectrum::update(const basis::Spectrum& spectrum, bool silent, double frame_energy, double noise_floor) {
    std::array<double, basis::SPECTRUM_BINS> power{};
    for (std::size_t k = 0; k < power.size(); ++k) power[k] = std::norm(spectrum[k]);

    if (!primed) {
        smoothed_power = power;
        qualifying_count = 0;
        primed = true;
        return;
    }

    // Stationary: the spectral shape matches the smoothed past (cosine similarity >= 0.999).
    double c = 0.0;
    double a = 0.0;
    double b = 0.0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        c += smoothed_power[k] * power[k];
        a += smoothed_power[k] * smoothed_power[k];
        b += power[k] * power[k];
    }
    const double d = std::sqrt(a * b);
    const bool stationary = d > 1e-30 && c / d >= 0.999;

    for (std::size_t k = 0; k < power.size(); ++k) smoothed_power[k] = 0.7 * smoothed_power[k] + (1.0 - 0.7) * power[k];

    const bool qualifies = stationary && (silent || frame_energy < 4.0 * noise_floor);
    if (!qualifies) {
        qualifying_count = 0;
        return;
    }
    if (qualifying_count < std::numeric_limits<std::uint32_t>::max()) ++qualifying_count;
    // A frame teaches the estimator only when the frame before it qualified too.
    if (qualifying_count == 1) return;
    if (ready) {
        for (std::size_t k = 0; k < power.size(); ++k) noise_power[k] = 0.95 * noise_power[k] + (1.0 - 0.95) * power[k];
    } else {
        noise_power = power;
        ready = true;
    }
}

void subtract_noise(basis::Spectrum& spectrum, const NoiseSpectrum& noise) {
    if (!noise.ready) return;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        const double p = std::norm(spectrum[k]);
        if (p <= 1e-30) continue;
        spectrum[k] *= std::sqrt(std::max(p - 0.1 * noise.noise_power[k], 0.02 * p) / p);
    }
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::denoise
