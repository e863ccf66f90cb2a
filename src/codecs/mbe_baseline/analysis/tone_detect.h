// SPDX-License-Identifier: GPL-2.0-or-later
// Tone detection: recognises a steady single tone or a dual tone (DTMF and the other dual
// tones of the half-rate tone table, TIA-102.BABA Annex T) in one 160-sample frame from a
// Hann-windowed 256-point power spectrum, and names it by tone index and 7-bit amplitude
// index (0.7115 dB steps, 127 about full scale).  Samples at 16-bit integer scale; 64-bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

inline constexpr std::size_t TONE_FRAME_SAMPLES = 160;
inline constexpr std::size_t PSD_BINS = 129;  // 0..128 of the 256-point transform

struct ToneDetection {
    bool found = false;
    std::uint8_t id = 0;         // half-rate tone index; meaningless when not found
    std::uint8_t amplitude = 0;  // 0..127; meaningless when not found
    friend bool operator==(const ToneDetection&, const ToneDetection&) = default;
};

// The packed form: bit 0 found, bits 8..15 tone index, bits 16..23 amplitude index.
std::uint32_t pack(const ToneDetection& detection);

namespace hann_window {
// w(n) = 0.5 - 0.5 cos(2 pi n / 160) for n = 0..159, 0 for n = 160..255; built on first use.
struct LazyWindow {
    const std::array<double, 256>& operator*() const;
    double operator[](std::size_t n) const { return (**this)[n]; }
};
inline constexpr LazyWindow WINDOW{};
}  // namespace hann_window

struct PowerSpectrum {
    std::array<double, PSD_BINS> power{};  // |X(k)|^2 of the windowed, zero-padded frame
    double noise_floor = 0.0;              // the lower quartile (rank 32 of bins 1..128)
};

PowerSpectrum compute_psd(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples);

// The frequency in Hz of the peak at bin k, refined by a parabola through the magnitudes of
// bins k - 1, k, k + 1 (1 <= k <= 127); bin 128 is not refined.
double refine_peak_hz(const PowerSpectrum& psd, std::size_t k);

// round(20 log10(magnitude / 1310000) / 0.7115 + 127), halves away from zero, in 0..127.
std::uint8_t amplitude_index(double magnitude);

// Dual tones: the two strongest separated peaks, each at least 20 dB over the noise floor,
// matched to the table's dual-tone entries within 40 Hz in total.  Not found unless the
// slice holds exactly 160 samples.
ToneDetection detect_dtmf(std::span<const std::int16_t> samples);
ToneDetection detect_dtmf(const PowerSpectrum& psd);

// Single tones: the strongest peak, at least 20 dB over the noise floor, within 20 Hz of a
// single-tone entry of the table.  Not found unless the slice holds exactly 160 samples.
ToneDetection detect_single_tone(std::span<const std::int16_t> samples);
ToneDetection detect_single_tone(const PowerSpectrum& psd);

// Dual tones first, then single tones, on one power spectrum of the frame (exactly 160 samples).
ToneDetection detect_tone(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
