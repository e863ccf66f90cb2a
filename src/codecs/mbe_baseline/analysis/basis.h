// SPDX-License-Identifier: GPL-2.0-or-later
// Windowed spectrum of the analysed frame and the spectral window's transform: the 221-point
// Kaiser window wR (beta = 6, TIA-102.BABA Annex C, entries rounded to six decimals as the
// standard prints them), its transform sampled at 1/64 bin from 0 to pi (8193 values), and the
// 256-bin spectrum S(k) of the history's oldest frame, window centred on its middle sample.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>

#include "common/check.h"
#include "common/fft.h"
#include "common/rounding.h"
#include "common/simd.h"

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

// More than any harmonic of a fundamental up to 2 pi / 19 owns (about 13.5).
inline constexpr int MAX_HARMONIC_BINS = 32;

// Bins a_l <= k < b_l owned by harmonic l of fundamental omega.
struct BinRange {
    int first;  // a_l = ceil((256 / 2 pi)(l - 0.5) omega)
    int end;    // b_l = ceil((256 / 2 pi)(l + 0.5) omega)
};
inline BinRange harmonic_bins(double omega, int l) {
    constexpr double scale = 256.0 / (2.0 * std::numbers::pi);
    const double lo = common::ceil_for_index(scale * (static_cast<double>(l) - 0.5) * omega);
    const double hi = common::ceil_for_index(scale * (static_cast<double>(l) + 0.5) * omega);
    return {static_cast<int>(lo), static_cast<int>(hi)};
}

// The window transform laid out so that every row is one contiguous run: entry [r][j] holds
// W at table position p = 64 (j - ROW_CENTRE) + r, that is basis[|p|] (0 past 8192).  The bins
// of one harmonic read positions 64 apart that run through 0 near the harmonic's centre, so they
// are neighbours in one entry here and a row is read in place, without an index per bin.
// Built once, with the window transform.
inline constexpr long ROW_CENTRE = 130;  // 64 * 130 > 8192: both ends of every entry hold zeros
using RowTransform = std::array<std::array<double, 2 * ROW_CENTRE>, 64>;
const RowTransform& row_window_transform();

// Rows of W(k, l) from one basis table, for the stages that evaluate many of them per frame.
class BasisRows {
public:
    explicit BasisRows(std::span<const double, BASIS_LENGTH> basis)
        : basis_(basis), rows_(basis.data() == window_transform().data() ? &row_window_transform() : nullptr) {}

    // W(k, l) for k = range.first .. range.end - 1, equal to harmonic_basis for each k: 64 k - c
    // + 0.5 (c = (16384 / 2 pi) l omega) is exact for the bins near harmonic l, so the table
    // position moves by exactly 64 per bin.  Points into the row table, or into scratch when it
    // had to be filled bin by bin.  Fewer than MAX_HARMONIC_BINS bins.
    const double* row(BinRange range, double omega, int l, std::array<double, MAX_HARMONIC_BINS>& scratch) const;

private:
    std::span<const double, BASIS_LENGTH> basis_;
    const RowTransform* rows_;
};

// S(k) with k taken modulo 256.
inline const std::complex<double>& bin(const Spectrum& spectrum, int k) {
    const int m = ((k % 256) + 256) % 256;
    return spectrum[static_cast<std::size_t>(m)];
}

// The fit of one harmonic to the spectrum over its bins, shared by pitch refinement and the
// voicing decision.  Complex values as register pairs (real, imaginary): the same products,
// sums and quotients as std::complex, both parts of the amplitude divided by one instruction.
// w holds W(k, l) for the bins from bins.first on (BasisRows::row).
struct HarmonicFit {
    const Spectrum& spectrum;
    BinRange bins;
    const double* w;

    common::simd::Pair at(int k) const {
        const std::complex<double>& v = k >= 0 && k < 256 ? spectrum[static_cast<std::size_t>(k)] : bin(spectrum, k);
        return common::simd::Pair(common::simd::pair_at(reinterpret_cast<const double*>(&v)));
    }

    // A = sum S(k) W(k) / sum W(k)^2, the amplitude of the window transform nearest to S over
    // the bins; 0 when the weights vanish.
    common::simd::Pair amplitude() const {
        common::simd::Pair numerator{};
        double denominator = 0.0;
        if (inside(bins.first, bins.end)) {
            // The usual case, read in place without a check per bin, two bins per step (their
            // products in one four-lane vector, still added one bin after the other).
            using common::simd::Quad;
            const double* s = values(bins.first);
            const auto count = static_cast<std::size_t>(bins.end - bins.first);
            std::size_t i = 0;
            for (; i + 2 <= count; i += 2) {
                const Quad wk = {w[i], w[i], w[i + 1], w[i + 1]};
                const Quad product = Quad(common::simd::quad_at(s + 2 * i)) * wk;
                numerator += common::simd::low_half(product);
                numerator += common::simd::high_half(product);
                const common::simd::Pair wk2 = common::simd::pair_at(w + i);
                const common::simd::Pair squares = wk2 * wk2;
                denominator += squares[0];
                denominator += squares[1];
            }
            if (i < count) {
                const double wk = w[i];
                numerator += common::simd::Pair(common::simd::pair_at(s + 2 * i)) * wk;
                denominator += wk * wk;
            }
        } else {
            for (int k = bins.first; k < bins.end; ++k) {
                const double wk = w[static_cast<std::size_t>(k - bins.first)];
                numerator += at(k) * wk;
                denominator += wk * wk;
            }
        }
        return denominator != 0.0 ? numerator / denominator : common::simd::Pair{};
    }

    // Adds |S(k) - A W(k)|^2 for k = first..end - 1 (bins of this harmonic) to total, in order.
    void add_error(common::simd::Pair amplitude, int first, int end, double& total) const {
        if (end <= first) return;
        if (inside(first, end)) {
            // Two bins per step, as in amplitude().
            using common::simd::Quad;
            const double* s = values(first);
            const double* wk = w + (first - bins.first);
            const auto count = static_cast<std::size_t>(end - first);
            const Quad a = {amplitude[0], amplitude[1], amplitude[0], amplitude[1]};
            std::size_t i = 0;
            for (; i + 2 <= count; i += 2) {
                const Quad d = Quad(common::simd::quad_at(s + 2 * i)) - a * Quad{wk[i], wk[i], wk[i + 1], wk[i + 1]};
                const Quad squares = d * d;
                total += squares[0] + squares[1];
                total += squares[2] + squares[3];
            }
            if (i < count) {
                const common::simd::Pair d = common::simd::Pair(common::simd::pair_at(s + 2 * i)) - amplitude * wk[i];
                total += d[0] * d[0] + d[1] * d[1];
            }
            return;
        }
        for (int k = first; k < end; ++k) {
            const common::simd::Pair d = at(k) - amplitude * w[static_cast<std::size_t>(k - bins.first)];
            total += d[0] * d[0] + d[1] * d[1];
        }
    }

    // A non-empty run of bins inside the spectrum.
    static bool inside(int first, int end) { return first >= 0 && end <= 256 && first < end; }

private:
    // S(k) onwards as (real, imaginary) doubles.
    const double* values(int k) const {
        return reinterpret_cast<const double*>(spectrum.data()) + 2 * static_cast<std::size_t>(k);
    }
};

inline const double* BasisRows::row(BinRange range, double omega, int l,
                                   std::array<double, MAX_HARMONIC_BINS>& scratch) const {
    OSTREL_CHECK(range.end - range.first <= MAX_HARMONIC_BINS, "a harmonic owns fewer than 32 bins");
    if (range.end <= range.first) return scratch.data();
    constexpr double scale = 16384.0 / (2.0 * std::numbers::pi);
    const double start =
        common::floor_for_index(64.0 * static_cast<double>(range.first) - scale * static_cast<double>(l) * omega + 0.5);
    const long count = range.end - range.first;
    if (rows_ != nullptr && std::fabs(start) <= 1e6) {
        const auto position = static_cast<long>(start);
        const long residue = position & 63;  // position modulo 64, negative positions included
        const long column = (position - residue) / 64 + ROW_CENTRE;
        if (column >= 0 && column + count <= 2 * ROW_CENTRE) {
            return (*rows_)[static_cast<std::size_t>(residue)].data() + column;
        }
    }
    for (long i = 0; i < count; ++i) {
        scratch[static_cast<std::size_t>(i)] = harmonic_basis(basis_, range.first + static_cast<int>(i), omega, l);
    }
    return scratch.data();
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::basis
