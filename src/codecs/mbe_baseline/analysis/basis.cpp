// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/basis.h"

#include <cmath>
#include <numbers>

namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis {
namespace {

// Zeroth-order modified Bessel function of the first kind by its power series; the terms
// fall off fast for the arguments up to 6 used here.
double bessel_i0(double x) {
    const double q = 0.25 * x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= q / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
        if (term < sum * 1e-18) break;
    }
    return sum;
}

std::array<double, 221> build_spectral_window() {
    std::array<double, 221> w{};
    const double norm = bessel_i0(6.0);
    for (int n = -110; n <= 110; ++n) {
        const double r = static_cast<double>(n) / 110.0;
        const double value = bessel_i0(6.0 * std::sqrt(1.0 - r * r)) / norm;
        // The standard prints the window to six decimals and the table is kept in 32 bits.
        const double printed = std::round(value * 1e6) / 1e6;
        w[static_cast<std::size_t>(n + 110)] = static_cast<double>(static_cast<float>(printed));
    }
    return w;
}

std::array<double, BASIS_LENGTH> build_window_transform() {
    const auto& w = spectral_window();
    std::array<double, BASIS_LENGTH> basis{};
    for (std::size_t i = 0; i < BASIS_LENGTH; ++i) {
        double sum = 1.0;
        for (std::size_t j = 1; j <= 110; ++j) {
            // i * j stays below 2^20, so the phase is exact before the division.
            const double phase = 2.0 * std::numbers::pi * static_cast<double>(i * j) / 16384.0;
            sum += 2.0 * w[j + 110] * std::cos(phase);
        }
        basis[i] = sum;
    }
    return basis;
}

}  // namespace

const std::array<double, 221>& spectral_window() {
    static const std::array<double, 221> window = build_spectral_window();
    return window;
}

const std::array<double, BASIS_LENGTH>& window_transform() {
    static const std::array<double, BASIS_LENGTH> basis = build_window_transform();
    return basis;
}

Spectrum windowed_spectrum(History history) {
    const auto& w = spectral_window();
    Spectrum buffer{};
    for (int n = -110; n <= 110; ++n) {
        const int position = 80 + n;
        const double x = position >= 0 ? history[static_cast<std::size_t>(position)] : 0.0;
        const std::size_t index = static_cast<std::size_t>(n >= 0 ? n : 256 + n);
        buffer[index] = {w[static_cast<std::size_t>(n + 110)] * x, 0.0};
    }
    Spectrum spectrum{};
    common::fft::forward_256(buffer, spectrum);
    return spectrum;
}

double harmonic_basis(std::span<const double, BASIS_LENGTH> basis, int k, double omega, int l) {
    constexpr double scale = 16384.0 / (2.0 * std::numbers::pi);
    const double position = std::floor(64.0 * static_cast<double>(k) - scale * static_cast<double>(l) * omega + 0.5);
    const double index = std::fabs(position);
    if (!(index <= 8192.0)) return 0.0;
    return basis[static_cast<std::size_t>(index)];
}

BinRange harmonic_bins(double omega, int l) {
    constexpr double scale = 256.0 / (2.0 * std::numbers::pi);
    const double lo = std::ceil(scale * (static_cast<double>(l) - 0.5) * omega);
    const double hi = std::ceil(scale * (static_cast<double>(l) + 0.5) * omega);
    return {static_cast<int>(lo), static_cast<int>(hi)};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis
