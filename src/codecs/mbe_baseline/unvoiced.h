// SPDX-License-Identifier: GPL-2.0-or-later
// Unvoiced synthesis: LCG noise (TIA-102.BABA generator or the m = 65536 one), windowed, shaped in
// a 256-point spectrum band by band (RMS scale * M_l per unvoiced band, voiced bands zeroed) and
// overlap-added with the previous frame.  Linear amplitudes in, 160 samples at 8000 samples/s out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/fft.h"
#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline {

// x <- (multiplier * x + increment) mod modulus in unsigned 32-bit arithmetic; state is x.
struct LcgParams {
    std::uint32_t multiplier;
    std::uint32_t increment;
    std::uint32_t modulus;
    std::uint32_t state;
    friend bool operator==(const LcgParams&, const LcgParams&) = default;
};
inline constexpr LcgParams LCG_STANDARD{171, 11213, 53125, 3147};
inline constexpr LcgParams LCG_DEFAULT{173, 13849, 65536, 60584};

// The gain from amplitude to noise level of TIA-102.BABA: the full rate's always, the half
// rate's until the channel is told otherwise.
inline constexpr double UNVOICED_SCALE_STANDARD = 146.643269;

inline constexpr std::size_t NOISE_WINDOW_LEN = 209;  // u(n) for n = -104..104
inline constexpr std::size_t NOISE_WINDOW_CENTER = 104;
inline constexpr std::size_t UNVOICED_FFT_LEN = 256;

struct NoiseState {
    std::array<double, NOISE_WINDOW_LEN> window{};  // index i holds u(i - 104)
    std::array<double, UNVOICED_FFT_LEN> previous_idft{};  // index k holds n = k - 128
    LcgParams lcg = LCG_STANDARD;
    // The first window index the first frame fills (noise_start_index); the entries below it
    // stay 0.  Chosen by the channel just before the first frame after construction or reset.
    std::size_t start = 0;
    bool initialised = false;  // the window has been filled once
};

// One generator step; returns the new state widened to 64 bits (not centred).  A modulus of 0
// means the full 32-bit range.
double next_noise_sample(LcgParams& lcg);

// NoiseState::start for a value of "OSTREL_LCG_INIT" (nullptr when unset), which the channel
// reads before the first unvoiced synthesis after construction or reset: "burn_160" 49, "burn_128" 81, "burn_96" 113, "burn_64" 145,
// "burn_49" 160, "zero"/"Zero" 209 (nothing generated), otherwise 0.
std::size_t noise_start_index(const char* value);

// Places u(n) wS(n), n = -104..104, at index n mod 256 and returns its unnormalised forward
// 256-point transform (bin k holds frequency k mod 256).
void dft_256_windowed(std::span<const double, NOISE_WINDOW_LEN> noise, common::fft::Buffer<256>& spectrum);
// Unnormalised inverse 256-point transform.
void idft_256(const common::fft::Buffer<256>& spectrum, common::fft::Buffer<256>& signal);

// amplitudes and voiced: the L synthesis amplitudes and flags; omega0 in radians per sample;
// unvoiced_scale: gain from amplitude to noise level.  Advances the noise state by one frame;
// a function of its arguments and the state alone.
std::array<double, 160> synthesize_unvoiced(std::span<const float> amplitudes, std::span<const bool> voiced,
                                            NoiseState& state, float omega0, double unvoiced_scale);

}  // namespace ostrel_mbe::codecs::mbe_baseline
