// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/refine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine {
namespace {

// The candidate offsets from the initial period, closest first and, of two equally close, the
// shorter period first: the order in which ties are decided.
constexpr std::array<double, 10> OFFSETS = {-0.125, 0.125, -0.375, 0.375, -0.625,
                                            0.625,  -0.875, 0.875, -1.125, 1.125};

// Fit error of the harmonic comb at omega over bins 50..u, u the upper bin for this omega; or,
// once the running sum exceeds bound, that partial sum: every term is a square, so the sum only
// grows and such a candidate can no longer win.
// Built for AVX2 and for the baseline instruction set (the same operations in the same order).
OSTREL_AVX2_CLONES
double comb_error(const basis::Spectrum& spectrum, const basis::BasisRows& rows, double omega, double bound) {
    const double upper = std::floor(118.4512 - (64.0 / std::numbers::pi) * omega);
    if (upper < 50.0) return 0.0;
    const int u = static_cast<int>(upper);
    double total = 0.0;
    // Harmonics whose bins all lie below bin 50 add nothing: start a little below the first one
    // that reaches it (the test below still decides), and take each harmonic's first bin from the
    // previous one's end (the same expression).
    constexpr double bins_per_radian = 256.0 / (2.0 * std::numbers::pi);
    const int skip = static_cast<int>(std::clamp(50.0 / (bins_per_radian * omega) - 2.0, 0.0, 58.0));
    basis::BinRange bins = basis::harmonic_bins(omega, skip);
    for (int l = skip; l <= 58; ++l) {
        if (l > skip) bins = {bins.end, basis::harmonic_bins(omega, l).end};
        if (bins.first > u) break;
        if (bins.end <= 50) continue;
        std::array<double, basis::MAX_HARMONIC_BINS> scratch;
        const basis::HarmonicFit fit{spectrum, bins, rows.row(bins, omega, l, scratch)};
        fit.add_error(fit.amplitude(), std::max(bins.first, 50), std::min(bins.end, u + 1), total);
        if (total > bound) break;
    }
    return total;
}

}  // namespace

std::uint8_t harmonic_count_for(double omega0) {
    const double l = std::floor(0.9254 * std::floor(std::numbers::pi / omega0 + 0.25));
    if (!(l >= 9.0)) return 9;  // also a NaN fundamental
    return static_cast<std::uint8_t>(std::min(l, 56.0));
}

RefinedPitch refine_pitch(const basis::Spectrum& spectrum, std::span<const double, basis::BASIS_LENGTH> table,
                          double period) {
    OSTREL_CHECK(std::isfinite(period) && period > 1.125, "refined period stays positive and finite");
    const basis::BasisRows rows(table);
    std::size_t best = 0;
    double best_error = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < OFFSETS.size(); ++i) {
        const double omega = 2.0 * std::numbers::pi / (period + OFFSETS[i]);
        // Only a strictly smaller error replaces the best: ties stay with the offset tried first.
        const double error = comb_error(spectrum, rows, omega, best_error);
        if (i == 0 || error < best_error) {
            best = i;
            best_error = error;
        }
    }
    const double omega0 = 2.0 * std::numbers::pi / (period + OFFSETS[best]);
    return {omega0, best_error, harmonic_count_for(omega0)};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::refine
