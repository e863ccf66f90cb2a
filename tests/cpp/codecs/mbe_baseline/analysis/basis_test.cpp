// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/basis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "generated_reference_tables.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis {
namespace {

TEST(SpectralWindow, KaiserFormulaMatchesStandardTable) {
    const auto& w = spectral_window();
    for (std::size_t i = 0; i < w.size(); ++i) {
        const auto expected = static_cast<float>(reference_tables::SPECTRAL_WINDOW_WR[i]);
        EXPECT_EQ(static_cast<float>(w[i]), expected) << "n = " << static_cast<int>(i) - 110;
    }
}

TEST(WindowTransform, IsTheWindowsCosineSeries) {
    const auto& w = spectral_window();
    const auto& basis = window_transform();
    double sum = 0.0;
    for (double v : w) sum += v;
    EXPECT_NEAR(basis[0], sum, 1e-9);  // W(0) is the window's sum
    // At pi (i = 8192) the transform is the alternating sum.
    double alternating = 0.0;
    for (int n = -110; n <= 110; ++n) alternating += (n % 2 == 0 ? 1.0 : -1.0) * w[static_cast<std::size_t>(n + 110)];
    EXPECT_NEAR(basis[8192], alternating, 1e-9);
    // The main lobe of a Kaiser window falls monotonically over its first bin.
    for (std::size_t i = 1; i <= 64; ++i) EXPECT_LT(basis[i], basis[i - 1]);
}

TEST(HarmonicBasis, SymmetricAroundTheHarmonicAndZeroBeyondTable) {
    const auto& basis = window_transform();
    const double omega = 2.0 * std::numbers::pi / 64.0;  // harmonic l sits exactly on bin 4 l
    for (int l = 1; l <= 5; ++l) {
        EXPECT_DOUBLE_EQ(harmonic_basis(basis, 4 * l, omega, l), basis[0]);
        EXPECT_DOUBLE_EQ(harmonic_basis(basis, 4 * l - 1, omega, l), harmonic_basis(basis, 4 * l + 1, omega, l));
    }
    EXPECT_EQ(harmonic_basis(basis, 200, omega, 1), 0.0);  // 64 * 196 > 8192
}

TEST(WindowedSpectrum, EqualsDirectTransformOfCentredWindow) {
    const std::uint32_t seed = 20240611;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1000.0, 1000.0);
    std::array<double, HISTORY_LENGTH> history{};
    for (double& v : history) v = dist(rng);
    const Spectrum s = windowed_spectrum(history);
    const auto& w = spectral_window();
    for (int k : {0, 1, 17, 64, 128, 200, 255}) {
        std::complex<double> direct{};
        for (int n = -110; n <= 110; ++n) {
            const int pos = 80 + n;
            const double x = pos >= 0 ? history[static_cast<std::size_t>(pos)] : 0.0;
            direct += w[static_cast<std::size_t>(n + 110)] * x *
                      std::polar(1.0, -2.0 * std::numbers::pi * k * n / 256.0);
        }
        EXPECT_NEAR(std::abs(s[static_cast<std::size_t>(k)] - direct), 0.0, 1e-6) << "bin " << k;
    }
}

TEST(HarmonicBins, TileTheAxisWithoutGaps) {
    for (double omega : {0.0515, 0.1, 0.2, 0.2991}) {
        for (int l = 1; l < 40; ++l) EXPECT_EQ(harmonic_bins(omega, l).end, harmonic_bins(omega, l + 1).first);
    }
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis
