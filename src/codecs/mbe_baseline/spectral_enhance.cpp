// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/spectral_enhance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "codecs/mbe_baseline/harmonic_cosines.h"
#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline {

namespace {

double clamp_weighted(double weight, double m) {
    if (weight > 1.2) return 1.2 * m;
    if (weight < 0.5) return 0.5 * m;
    return weight * m;
}

// Both forms weigh harmonic l, above the lowest eighth, by
//     enhanced[l - 1] = clamp_weighted(sqrt(m / level) (k q / den)^(1/4), m),  q = a - b cos(w0 l),
// where q > 0 and m != 0 (the others keep their amplitude).  pow is called only where the clamp
// does not decide: two square roots are within a few ulps of pow's fourth root, so a weight
// they put clearly outside [0.5, 1.2] is clamped to the same value whatever pow returns (most
// of the harmonics above the first formant), and the result is the same bit for bit.  The
// square roots of all harmonics come first, in a branch-free loop the compiler vectorises.
OSTREL_AVX2_CLONES
void weigh(std::span<const float> amplitudes, const std::array<double, L_HAT_MAX>& cosines, double a, double b,
           double k, double den, double level, std::array<double, L_HAT_MAX>& enhanced) {
    const std::size_t count = amplitudes.size();
    const std::size_t first = count / 8;  // 8 l <= count
    std::array<double, L_HAT_MAX> q, x, scale, estimate;
    for (std::size_t i = first; i < count; ++i) {
        q[i] = a - b * cosines[i];
        x[i] = k * q[i] / den;
        scale[i] = std::sqrt(static_cast<double>(amplitudes[i]) / level);
        estimate[i] = scale[i] * std::sqrt(std::sqrt(x[i]));
    }
    constexpr double MARGIN = 1e-9;
    for (std::size_t i = first; i < count; ++i) {
        const double m = amplitudes[i];
        if (q[i] <= 0.0 || m == 0.0) continue;
        if (estimate[i] > 1.2 * (1.0 + MARGIN)) {
            enhanced[i] = 1.2 * m;
        } else if (estimate[i] < 0.5 * (1.0 - MARGIN)) {
            enhanced[i] = 0.5 * m;
        } else {
            enhanced[i] = clamp_weighted(scale[i] * std::pow(x[i], 0.25), m);
        }
    }
}

// The long-standing form; some frames pass unchanged.
// cosines[l - 1] holds cos(w0 l).
void weigh_compat(std::span<const float> amplitudes, const std::array<double, L_HAT_MAX>& cosines, double w0,
                  double r0, double r1, std::array<double, L_HAT_MAX>& enhanced) {
    const std::size_t count = amplitudes.size();
    const double d = r0 * w0 * (r0 - r1);
    if (!(r0 > 0.0 && std::abs(d) >= 1e-30)) return;
    // The lowest eighth of the harmonics carries the pitch structure and is left alone.  A zero
    // amplitude would stay zero.
    weigh(amplitudes, cosines, r0 * r0 + r1 * r1, 2.0 * r0 * r1, 0.96, d, 1.0, enhanced);
    double s2 = 0.0;
    for (std::size_t l = 0; l < count; ++l) s2 += enhanced[l] * enhanced[l];
    if (s2 > 1e-30) {
        const double scale = std::sqrt(r0 / s2);
        for (std::size_t l = 0; l < count; ++l) enhanced[l] *= scale;
    }
}

// The standard's form, evaluated on the spectrum normalised to unit energy: with rho = R1/R0,
// Q/R0^2 = 1 + rho^2 - 2 rho cos(w0 l) and R0 w0 (R0^2 - R1^2)/R0^3 = w0 (1 - rho^2), so
// W_l = sqrt(M_l / sqrt(R0)) (0.96 pi (1 + rho^2 - 2 rho cos(w0 l)) / (w0 (1 - rho^2)))^(1/4).
// Algebraically the same weight, but no power of R0 can overflow or underflow, and no guard
// depends on the level.  |rho| <= 1 holds in floating point too (rounded sums are monotone).
void weigh_standard(std::span<const float> amplitudes, const std::array<double, L_HAT_MAX>& cosines, double w0,
                    double r0, double r1, std::array<double, L_HAT_MAX>& enhanced) {
    const std::size_t count = amplitudes.size();
    if (!(r0 > 0.0) || !std::isfinite(r0)) return;
    const double rho = r1 / r0;
    const double denominator = w0 * (1.0 - rho * rho);
    // R0 = |R1|: all energy in harmonics whose w0 l is a multiple of pi; no formant to sharpen.
    if (!(denominator > 0.0)) return;
    const double level = std::sqrt(r0);
    // An infinite ratio (denominator near the smallest double) is an infinite weight: 1.2.
    weigh(amplitudes, cosines, 1.0 + rho * rho, 2.0 * rho, 0.96 * std::numbers::pi, denominator, level, enhanced);
    double s2 = 0.0;
    for (std::size_t l = 0; l < count; ++l) s2 += enhanced[l] * enhanced[l];
    // s2 > 0 because R0 > 0 and no nonzero amplitude is weighted below half.
    const double scale = std::sqrt(r0 / s2);
    for (std::size_t l = 0; l < count; ++l) enhanced[l] *= scale;
}

}  // namespace

EnhancedAmplitudes enhance_spectral_amplitudes(std::span<const float> amplitudes, float omega0,
                                               double smoothed_energy, FormantWeighting weighting) {
    OSTREL_CHECK(amplitudes.size() <= L_HAT_MAX, "harmonic count is at most L_HAT_MAX");
    const std::size_t count = amplitudes.size();
    const double w0 = omega0;

    // cos(w0 l), for R1 here and again for the weights: the fundamental's row of the table, or
    // computed here by the same expression.
    std::array<double, L_HAT_MAX> computed;
    const std::array<double, L_HAT_MAX>* kept = harmonic_cosines(omega0);
    if (kept == nullptr) {
        for (std::size_t l = 1; l <= count; ++l) computed[l - 1] = std::cos(w0 * static_cast<double>(l));
    }
    const std::array<double, L_HAT_MAX>& cosines = kept != nullptr ? *kept : computed;
    double r0 = 0.0;
    double r1 = 0.0;
    for (std::size_t l = 1; l <= count; ++l) {
        const double m = amplitudes[l - 1];
        r0 += m * m;
        r1 += m * m * cosines[l - 1];
    }

    std::array<double, L_HAT_MAX> enhanced{};
    for (std::size_t l = 1; l <= count; ++l) enhanced[l - 1] = amplitudes[l - 1];
    if (weighting == FormantWeighting::Standard) {
        weigh_standard(amplitudes, cosines, w0, r0, r1, enhanced);
    } else {
        weigh_compat(amplitudes, cosines, w0, r0, r1, enhanced);
    }

    EnhancedAmplitudes out;
    // Weights above one can lift an amplitude near the top of the float range past it; it
    // saturates rather than become infinite.  No other output changes.
    constexpr double FLOAT_MAX = std::numeric_limits<float>::max();
    for (std::size_t l = 0; l < count; ++l) out.amplitudes[l] = static_cast<float>(std::min(enhanced[l], FLOAT_MAX));
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
