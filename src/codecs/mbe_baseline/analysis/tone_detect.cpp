// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/tone_detect.h"

#include "ambe_plus2_wire/generated_tables.h"
#include "common/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

using ambe_plus2_wire::tables::TONES;

constexpr std::size_t FFT_SIZE = 256;
constexpr double SAMPLE_RATE_HZ = 8000.0;
// The noise floor is the 33rd smallest of the 128 bins 1..128.
constexpr std::size_t FLOOR_RANK = 32;
// A tone peak must stand 20 dB over the noise floor.
constexpr double MIN_PEAK_TO_FLOOR = 100.0;
constexpr double MAX_DUAL_ERROR_HZ = 40.0;
constexpr double MAX_SINGLE_ERROR_HZ = 20.0;
// Bins closer than this to the first peak belong to its main lobe.
constexpr std::size_t MIN_PEAK_SEPARATION = 2;

// Bins 1..128: the first index of the largest power.
std::size_t strongest_bin(const PowerSpectrum& psd) {
    std::size_t best = 1;
    for (std::size_t k = 2; k < PSD_BINS; ++k) {
        if (psd.power[k] > psd.power[best]) best = k;
    }
    return best;
}

bool stands_out(const PowerSpectrum& psd, std::size_t k) {
    return psd.noise_floor > 0.0 && psd.power[k] / psd.noise_floor >= MIN_PEAK_TO_FLOOR;
}

}  // namespace

std::uint32_t pack(const ToneDetection& detection) {
    return (detection.found ? 1u : 0u) | (std::uint32_t{detection.id} << 8) |
           (std::uint32_t{detection.amplitude} << 16);
}

namespace hann_window {
const std::array<double, 256>& LazyWindow::operator*() const {
    // A function-local static is initialised exactly once, thread-safely.
    static const std::array<double, 256> window = [] {
        std::array<double, 256> w{};
        for (std::size_t n = 0; n < TONE_FRAME_SAMPLES; ++n) {
            w[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                        static_cast<double>(TONE_FRAME_SAMPLES));
        }
        return w;
    }();
    return window;
}
}  // namespace hann_window

PowerSpectrum compute_psd(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples) {
    const auto& window = *hann_window::WINDOW;
    common::fft::RealBuffer<FFT_SIZE> frame{};
    for (std::size_t n = 0; n < TONE_FRAME_SAMPLES; ++n) frame[n] = static_cast<double>(samples[n]) * window[n];
    common::fft::HalfSpectrum<FFT_SIZE> x;
    common::fft::forward_real_256(frame, x);

    PowerSpectrum psd;
    for (std::size_t k = 0; k < PSD_BINS; ++k) psd.power[k] = std::norm(x[k]);
    std::array<double, PSD_BINS - 1> rest{};
    std::copy(psd.power.begin() + 1, psd.power.end(), rest.begin());
    std::nth_element(rest.begin(), rest.begin() + FLOOR_RANK, rest.end());
    psd.noise_floor = rest[FLOOR_RANK];
    return psd;
}

double refine_peak_hz(const PowerSpectrum& psd, std::size_t k) {
    double bin = static_cast<double>(k);
    if (k >= 1 && k + 1 < PSD_BINS) {
        const double a = std::sqrt(psd.power[k - 1]);
        const double b = std::sqrt(psd.power[k]);
        const double c = std::sqrt(psd.power[k + 1]);
        const double d = a - 2.0 * b + c;
        if (std::abs(d) > 1e-12) bin += 0.5 * (a - c) / d;
    }
    return bin * SAMPLE_RATE_HZ / static_cast<double>(FFT_SIZE);
}

std::uint8_t amplitude_index(double magnitude) {
    const double index = std::round(20.0 * std::log10(magnitude / 1310000.0) / 0.7115 + 127.0);
    // Written so that a NaN or -inf (silent peak) lands on 0 instead of an undefined cast.
    if (!(index > 0.0)) return 0;
    if (index >= 127.0) return 127;
    return static_cast<std::uint8_t>(index);
}

ToneDetection detect_dtmf(std::span<const std::int16_t> samples) {
    if (samples.size() != TONE_FRAME_SAMPLES) return {};
    return detect_dtmf(compute_psd(samples.first<TONE_FRAME_SAMPLES>()));
}

ToneDetection detect_dtmf(const PowerSpectrum& psd) {
    const std::size_t k1 = strongest_bin(psd);
    if (!stands_out(psd, k1)) return {};

    std::size_t k2 = 0;
    for (std::size_t k = 1; k < PSD_BINS; ++k) {
        const std::size_t distance = k > k1 ? k - k1 : k1 - k;
        if (distance <= MIN_PEAK_SEPARATION || !(psd.power[k] > psd.noise_floor)) continue;
        if (k2 == 0 || psd.power[k] > psd.power[k2]) k2 = k;
    }
    if (k2 == 0 || !stands_out(psd, k2)) return {};

    const double f1 = refine_peak_hz(psd, k1);
    const double f2 = refine_peak_hz(psd, k2);
    const double lo = std::min(f1, f2);
    const double hi = std::max(f1, f2);

    bool matched = false;
    std::size_t best = 0;
    double best_error = MAX_DUAL_ERROR_HZ;
    for (std::size_t i = 0; i < TONES.size(); ++i) {
        const auto& entry = TONES[i];
        if (!entry.present || entry.l1 == entry.l2) continue;
        const double f0 = static_cast<double>(entry.f0_hz);
        const double error = std::abs(std::min(entry.l1, entry.l2) * f0 - lo) +
                             std::abs(std::max(entry.l1, entry.l2) * f0 - hi);
        if (error < best_error) {
            matched = true;
            best = i;
            best_error = error;
        }
    }
    if (!matched) return {};
    const double magnitude = std::max(std::sqrt(psd.power[k1]), std::sqrt(psd.power[k2]));
    return {true, static_cast<std::uint8_t>(best), amplitude_index(magnitude)};
}

ToneDetection detect_single_tone(std::span<const std::int16_t> samples) {
    if (samples.size() != TONE_FRAME_SAMPLES) return {};
    return detect_single_tone(compute_psd(samples.first<TONE_FRAME_SAMPLES>()));
}

ToneDetection detect_single_tone(const PowerSpectrum& psd) {
    const std::size_t k1 = strongest_bin(psd);
    if (!stands_out(psd, k1)) return {};
    const double f = refine_peak_hz(psd, k1);

    bool matched = false;
    std::size_t best = 0;
    double best_error = MAX_SINGLE_ERROR_HZ;
    for (std::size_t i = 0; i < TONES.size(); ++i) {
        const auto& entry = TONES[i];
        // The silence entry (no harmonics) names no frequency: a 0 Hz "tone" would turn a
        // DC offset into a detected tone.
        if (!entry.present || entry.l1 != entry.l2 || entry.l1 == 0) continue;
        const double error = std::abs(f - entry.l1 * static_cast<double>(entry.f0_hz));
        if (error < best_error) {
            matched = true;
            best = i;
            best_error = error;
        }
    }
    if (!matched) return {};
    return {true, static_cast<std::uint8_t>(best), amplitude_index(std::sqrt(psd.power[k1]))};
}

ToneDetection detect_tone(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples) {
    const PowerSpectrum psd = compute_psd(samples);
    const ToneDetection dual = detect_dtmf(psd);
    return dual.found ? dual : detect_single_tone(psd);
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
