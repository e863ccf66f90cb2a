// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/basis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/built_once.h"
#include "common/check.h"
#include "common/simd.h"

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
    // basis[i] = 1 + sum_j 2 wR(j) cos(2 pi i j / 16384) is the type-I cosine transform of
    // (1, wR(1), .., wR(110), 0, ..., 0) over 8193 points: one FFT instead of 900,000 cosines.
    const auto& w = spectral_window();
    std::array<double, BASIS_LENGTH> input{};
    input[0] = 1.0;
    for (std::size_t j = 1; j <= 110; ++j) input[j] = w[j + 110];
    std::array<double, BASIS_LENGTH> basis{};
    common::fft::cosine_transform_once(input, basis);
    return basis;
}

RowTransform build_row_window_transform() {
    const auto& basis = window_transform();
    RowTransform t{};
    for (long r = 0; r < 64; ++r) {
        for (long j = 0; j < 2 * ROW_CENTRE; ++j) {
            const long p = 64 * (j - ROW_CENTRE) + r;
            const auto index = static_cast<std::size_t>(p < 0 ? -p : p);
            t[static_cast<std::size_t>(r)][static_cast<std::size_t>(j)] = index < BASIS_LENGTH ? basis[index] : 0.0;
        }
    }
    return t;
}

}  // namespace

const std::array<double, 221>& spectral_window() { return common::built_once<build_spectral_window>(); }

const RowTransform& row_window_transform() { return common::built_once<build_row_window_transform>(); }

const std::array<double, BASIS_LENGTH>& window_transform() { return common::built_once<build_window_transform>(); }

OSTREL_AVX2_CLONES
Spectrum windowed_spectrum(History history) {
    const auto& w = spectral_window();
    common::fft::RealBuffer<SPECTRUM_BINS> buffer{};
    // n = 0..110 at the start of the buffer, n = -110..-1 at its end; the history starts at
    // n = -80, before which the samples read as 0 (each product as the window value times 0).
    for (std::size_t n = 0; n <= 110; ++n) buffer[n] = w[n + 110] * history[80 + n];
    for (std::size_t m = 0; m < 80; ++m) buffer[176 + m] = w[30 + m] * history[m];  // n = m - 80
    for (std::size_t m = 0; m < 30; ++m) buffer[146 + m] = w[m] * 0.0;             // n = m - 110
    // A real frame: bins 129..255 are the conjugates of bins 127..1.
    common::fft::HalfSpectrum<SPECTRUM_BINS> half;
    common::fft::forward_real_256(buffer, half);
    Spectrum spectrum;
    std::copy(half.begin(), half.end(), spectrum.begin());
    for (std::size_t k = 1; k < SPECTRUM_BINS / 2; ++k) spectrum[SPECTRUM_BINS - k] = std::conj(half[k]);
    return spectrum;
}

double harmonic_basis(std::span<const double, BASIS_LENGTH> basis, int k, double omega, int l) {
    constexpr double scale = 16384.0 / (2.0 * std::numbers::pi);
    const double position =
        common::floor_for_index(64.0 * static_cast<double>(k) - scale * static_cast<double>(l) * omega + 0.5);
    const double index = std::fabs(position);
    if (!(index <= 8192.0)) return 0.0;
    return basis[static_cast<std::size_t>(index)];
}


}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis
