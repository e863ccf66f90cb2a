#include "codecs/mbe_baseline/enhance.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline {

EnhancedAmplitudes enhance_spectral_amplitudes(std::span<const float> amplitudes, float omega0,
                                               double smoothed_energy) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    const std::size_t count = amplitudes.size();
    const double w0 = omega0;

    double r0 = 0.0;
    double r1 = 0.0;
    for (std::size_t l = 1; l <= count; ++l) {
        const double m = amplitudes[l - 1];
        r0 += m * m;
        r1 += m * m * std::cos(w0 * static_cast<double>(l));
    }

    std::array<double, L_HAT_MAX> enhanced{};
    for (std::size_t l = 1; l <= count; ++l) enhanced[l - 1] = amplitudes[l - 1];

    const double d = r0 * w0 * (r0 - r1);
    if (r0 > 0.0 && std::abs(d) >= 1e-30) {
        // The lowest eighth of the harmonics carries the pitch structure and is left alone.
        for (std::size_t l = 1; l <= count; ++l) {
            if (8 * l <= count) continue;
            const double q = r0 * r0 + r1 * r1 - 2.0 * r0 * r1 * std::cos(w0 * static_cast<double>(l));
            if (q <= 0.0) continue;
            const double m = amplitudes[l - 1];
            const double weight = std::sqrt(m) * std::pow(0.96 * q / d, 0.25);
            if (weight > 1.2) {
                enhanced[l - 1] = 1.2 * m;
            } else if (weight < 0.5) {
                enhanced[l - 1] = 0.5 * m;
            } else {
                enhanced[l - 1] = weight * m;
            }
        }
        double s2 = 0.0;
        for (std::size_t l = 0; l < count; ++l) s2 += enhanced[l] * enhanced[l];
        if (s2 > 1e-30) {
            const double scale = std::sqrt(r0 / s2);
            for (std::size_t l = 0; l < count; ++l) enhanced[l] *= scale;
        }
    }

    EnhancedAmplitudes out;
    for (std::size_t l = 0; l < count; ++l) out.amplitudes[l] = static_cast<float>(enhanced[l]);
    out.smoothed_energy = std::max(0.95 * smoothed_energy + 0.05 * r0, SMOOTHED_ENERGY_FLOOR);
    return out;
}

SmoothedSpectrum apply_smoothing(std::span<const float> amplitudes, std::span<const bool> voiced,
                                 std::uint8_t total_errors, std::uint8_t errors_e4, double smoothed_energy,
                                 double error_rate, double amplitude_threshold) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    OSTREL_CHECK(voiced.size() == amplitudes.size(), "voicing and amplitude slices have equal length");
    const std::size_t count = amplitudes.size();

    // Voicing threshold: on a clean channel nothing is forced voiced.
    double voicing_threshold = std::numeric_limits<double>::infinity();
    if (!(error_rate <= 0.005 && total_errors < 5)) {
        const double energy_term = std::pow(smoothed_energy, 0.375);
        if (error_rate <= 0.0125 && errors_e4 == 0) {
            voicing_threshold = energy_term * 45.255 * std::exp(-277.26 * error_rate);
        } else {
            voicing_threshold = 1.414 * energy_term;
        }
    }

    SmoothedSpectrum out;
    double amplitude_sum = 0.0;
    for (std::size_t l = 0; l < count; ++l) {
        const double m = amplitudes[l];
        out.voiced[l] = m > voicing_threshold || voiced[l];
        amplitude_sum += m;
    }

    double threshold = amplitude_threshold + 6000.0 - 300.0 * static_cast<double>(total_errors);
    if (total_errors < 7 && error_rate <= 0.005) threshold = AMPLITUDE_THRESHOLD_RESET;
    out.amplitude_threshold = threshold;

    // The threshold caps the total amplitude.  It keeps accumulating below zero through long error
    // bursts, but a negative cap means "no amplitude allowed", not a sign flip with gain above one,
    // so the scale factor is clamped to [0, 1].
    double scale = 1.0;
    if (amplitude_sum > 0.0 && threshold <= amplitude_sum) scale = std::max(threshold, 0.0) / amplitude_sum;
    for (std::size_t l = 0; l < count; ++l) {
        out.amplitudes[l] = static_cast<float>(static_cast<double>(amplitudes[l]) * scale);
    }
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
