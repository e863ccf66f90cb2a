// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/amplitude.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "test_signals.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude {
namespace {

namespace ts = test_signals;

vuv::VuvDecision all_bands(std::uint8_t harmonic_count, bool voiced) {
    vuv::VuvDecision d;
    d.band_count = vuv::band_count(harmonic_count);
    for (std::size_t k = 1; k <= d.band_count; ++k) d.voiced[k] = voiced;
    return d;
}

// A harmonic of amplitude A in the signal has spectral amplitude A/2 (one side of the cosine).
// Where harmonics are several bins apart the estimates follow a sloped spectrum harmonic by
// harmonic; at long periods neighbours leak into each other but the total energy is kept.
TEST(EstimateSpectralAmplitudes, VoicedEstimatesTrackHarmonicLevels) {
    for (double period : {30.0, 45.0, 60.0, 72.0, 100.0}) {
        const auto level = [](int l) { return 2000.0 * std::pow(0.9, l); };
        const auto history = ts::history_from([&](long n) { return ts::harmonic_sample(period, n, level); });
        const double omega = 2.0 * std::numbers::pi / period;
        const refine::RefinedPitch pitch{omega, 0.0, refine::harmonic_count_for(omega)};
        const Amplitudes a = estimate_spectral_amplitudes(basis::windowed_spectrum(history), basis::window_transform(),
                                                          pitch, all_bands(pitch.harmonic_count, true));
        EXPECT_EQ(a[0], 0.0);
        double estimated = 0.0;
        double expected = 0.0;
        for (int l = 1; l <= pitch.harmonic_count; ++l) {
            const bool in_signal = static_cast<double>(l) * 8000.0 / period < 3600.0;
            const double half = in_signal ? level(l) / 2.0 : 0.0;
            estimated += a[static_cast<std::size_t>(l)] * a[static_cast<std::size_t>(l)];
            expected += half * half;
            if (in_signal && period <= 72.0) {
                EXPECT_NEAR(a[static_cast<std::size_t>(l)] / half, 1.0, 0.15) << "period " << period << " l " << l;
            }
        }
        EXPECT_NEAR(estimated / expected, 1.0, 0.1) << "period " << period;
        for (std::size_t l = pitch.harmonic_count + 1u; l < a.size(); ++l) EXPECT_EQ(a[l], 0.0);
    }
}

TEST(EstimateSpectralAmplitudes, UnvoicedFlatSpectrumGivesRootEnergyOverW0) {
    basis::Spectrum flat{};
    const double energy = 49.0;
    for (auto& bin : flat) bin = {std::sqrt(energy), 0.0};
    const double omega = 2.0 * std::numbers::pi / 60.0;
    const refine::RefinedPitch pitch{omega, 0.0, refine::harmonic_count_for(omega)};
    const Amplitudes a =
        estimate_spectral_amplitudes(flat, basis::window_transform(), pitch, all_bands(pitch.harmonic_count, false));
    for (int l = 1; l <= pitch.harmonic_count; ++l) {
        EXPECT_NEAR(a[static_cast<std::size_t>(l)], 7.0 / basis::window_transform()[0], 1e-12);
    }
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::amplitude
