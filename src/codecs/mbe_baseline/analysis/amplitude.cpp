// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/amplitude.h"

#include <cmath>
#include <complex>

#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude {

OSTREL_AVX2_CLONES
Amplitudes estimate_spectral_amplitudes(const basis::Spectrum& spectrum,
                                        std::span<const double, basis::BASIS_LENGTH> table,
                                        const refine::RefinedPitch& pitch, const vuv::VuvDecision& decision) {
    OSTREL_CHECK(pitch.harmonic_count <= 56, "harmonic count fits the amplitude array");
    Amplitudes amplitudes{};
    const basis::BasisRows rows(table);
    const double w0 = table[0];
    for (int l = 1; l <= pitch.harmonic_count; ++l) {
        const basis::BinRange bins = basis::harmonic_bins(pitch.omega0, l);
        if (bins.first >= bins.end) continue;
        double power = 0.0;
        for (int k = bins.first; k < bins.end; ++k) power += std::norm(basis::bin(spectrum, k));
        const std::size_t band = vuv::band_of(static_cast<std::size_t>(l), decision.band_count);
        double value = 0.0;
        if (band >= 1 && decision.voiced[band]) {
            std::array<double, basis::MAX_HARMONIC_BINS> scratch;
            const double* w = rows.row(bins, pitch.omega0, l, scratch);
            double weight = 0.0;
            for (int k = bins.first; k < bins.end; ++k) {
                const double wk = w[static_cast<std::size_t>(k - bins.first)];
                weight += wk * wk;
            }
            value = weight != 0.0 ? std::sqrt(power / weight) : 0.0;
        } else {
            value = w0 != 0.0 ? std::sqrt(power / static_cast<double>(bins.end - bins.first)) / w0 : 0.0;
        }
        amplitudes[static_cast<std::size_t>(l)] = value;
    }
    return amplitudes;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude
