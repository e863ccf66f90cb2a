// SPDX-License-Identifier: GPL-2.0-or-later
// Shared FFTW plans: unnormalised complex forward and inverse transforms of 256 points
// (synthesis, voicing analysis, tone detection) and 512 points (pitch autocorrelation),
// in 64-bit floating point.  The plans are built once per process behind a one-time guard
// (FFTW's planner is not thread-safe) and executed with the new-array interface, so any
// number of channels on any threads can share them.
#pragma once

#include <array>
#include <complex>
#include <cstddef>

namespace ostrel_mbe::common::fft {

template <std::size_t N>
using Buffer = std::array<std::complex<double>, N>;

// out = sum_n in[n] e^{-2 pi i k n / N}; in and out may alias.
void forward_256(const Buffer<256>& in, Buffer<256>& out);
// out = sum_k in[k] e^{+2 pi i k n / N} (no 1/N scaling); in and out may alias.
void inverse_256(const Buffer<256>& in, Buffer<256>& out);
void forward_512(const Buffer<512>& in, Buffer<512>& out);
void inverse_512(const Buffer<512>& in, Buffer<512>& out);

}  // namespace ostrel_mbe::common::fft
