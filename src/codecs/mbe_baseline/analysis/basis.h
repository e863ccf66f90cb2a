// SPDX-License-Identifier: GPL-2.0-or-later
// Windowed spectrum of the analysed frame and the spectral window's transform: the 221-point
// Kaiser window wR (beta = 6, TIA-102.BABA Annex C, entries rounded to six decimals as the
// standard prints them), its transform sampled at 1/64 bin from 0 to pi (8193 values), and the
// 256-bin spectrum S(k) of the history's oldest frame, window centred on its middle sample.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <span>

#include "common/fft.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis {

inline constexpr std::size_t HISTORY_LENGTH = 480;
inline constexpr std::size_t SPECTRUM_BINS = 256;
inline constexpr std::size_t BASIS_LENGTH = 8193;

using Spectrum = common::fft::Buffer<SPECTRUM_BINS>;
using History = std::span<const double, HISTORY_LENGTH>;

// wR(n) at index n + 110, n = -110..110, held as 32-bit values widened to 64 bits.
const std::array<double, 221>& spectral_window();

// basis[i] = 1 + sum_{j=1}^{110} 2 wR(j) cos(2 pi i j / 16384), i = 0..8192.
const std::array<double, BASIS_LENGTH>& window_transform();

// S(k) = sum_n wR(n) history[80 + n] e^{-j 2 pi k n / 256}, n = -110..110, unscaled.
Spectrum windowed_spectrum(History history);

// W(k, l) = basis[|floor(64 k - (16384 / 2 pi) l omega + 0.5)|], 0 beyond index 8192.
double harmonic_basis(std::span<const double, BASIS_LENGTH> basis, int k, double omega, int l);

// Bins a_l <= k < b_l owned by harmonic l of fundamental omega.
struct BinRange {
    int first;  // a_l = ceil((256 / 2 pi)(l - 0.5) omega)
    int end;    // b_l = ceil((256 / 2 pi)(l + 0.5) omega)
};
BinRange harmonic_bins(double omega, int l);

// S(k) with k taken modulo 256.
inline const std::complex<double>& bin(const Spectrum& spectrum, int k) {
    const int m = ((k % 256) + 256) % 256;
    return spectrum[static_cast<std::size_t>(m)];
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis
