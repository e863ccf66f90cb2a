// SPDX-License-Identifier: GPL-2.0-or-later
// Shared FFTW plans, 64-bit floating point, unnormalised.  The per-frame paths use real-input
// transforms of 256 points (synthesis, analysis spectrum, tone detection) and 512 points (pitch
// autocorrelation) on 64-byte aligned buffers, so FFTW may take its SIMD code paths; complex
// transforms of the same sizes remain for callers that need them.  Every plan is built once per
// process behind a one-time guard and the FFTW planner only ever runs under one lock (it is not
// thread-safe); execution uses the new-array interface, so any number of channels on any
// threads share the plans.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <span>

namespace ostrel_mbe::common::fft {

template <std::size_t N>
using Buffer = std::array<std::complex<double>, N>;

// A std::array on a 64-byte boundary, as the aligned plans require.
template <class T, std::size_t N>
struct alignas(64) Aligned : std::array<T, N> {};

template <std::size_t N>
using RealBuffer = Aligned<double, N>;
// Bins 0..N/2 of the transform of N real samples (the others are their complex conjugates).
template <std::size_t N>
using HalfSpectrum = Aligned<std::complex<double>, N / 2 + 1>;

// out = sum_n in[n] e^{-2 pi i k n / N}; in and out may alias.
void forward_256(const Buffer<256>& in, Buffer<256>& out);
// out = sum_k in[k] e^{+2 pi i k n / N} (no 1/N scaling); in and out may alias.
void inverse_256(const Buffer<256>& in, Buffer<256>& out);
void forward_512(const Buffer<512>& in, Buffer<512>& out);
void inverse_512(const Buffer<512>& in, Buffer<512>& out);

// Real input: out[k] = sum_n in[n] e^{-2 pi i k n / N}, k = 0..N/2.
void forward_real_256(const RealBuffer<256>& in, HalfSpectrum<256>& out);
void forward_real_512(const RealBuffer<512>& in, HalfSpectrum<512>& out);
// Real output of a conjugate-symmetric spectrum given by bins 0..N/2 (the imaginary parts of
// bins 0 and N/2 are ignored): out[n] = sum_k in[k] e^{+2 pi i k n / N}.  Overwrites in.
void inverse_real_256(HalfSpectrum<256>& in, RealBuffer<256>& out);
void inverse_real_512(HalfSpectrum<512>& in, RealBuffer<512>& out);

// Type-I discrete cosine transform of n = in.size() = out.size() >= 2 points, for tables built
// once: out[k] = in[0] + (-1)^k in[n-1] + 2 sum_{j=1}^{n-2} in[j] cos(pi j k / (n - 1)).  Plans
// on the spot under the planner lock; not for per-frame use.
void cosine_transform_once(std::span<const double> in, std::span<double> out);

}  // namespace ostrel_mbe::common::fft
