// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/steady_tone.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ambe_plus2_wire/ambe_plus2_tables.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

// The 160-sample Hann window zero-padded to 256 points has a main lobe of 2 * 256 / 160 * 2 =
// 6.4 bins: +-3 bins around a tone hold nearly all of its power.
constexpr std::size_t LOBE_BINS = 3;
constexpr double BIN_HZ = 8000.0 / 256.0;

double lobe_power(const PowerSpectrum& psd, double hz, std::array<bool, PSD_BINS>& counted) {
    const auto centre = static_cast<std::size_t>(std::lround(hz / BIN_HZ));
    double sum = 0.0;
    for (std::size_t k = centre > LOBE_BINS ? centre - LOBE_BINS : 1; k <= centre + LOBE_BINS && k < PSD_BINS; ++k) {
        if (!counted[k]) sum += psd.power[k];
        counted[k] = true;
    }
    return sum;
}

}  // namespace

double tone_share(const PowerSpectrum& psd, std::uint8_t id) {
    double total = 0.0;
    for (std::size_t k = 1; k < PSD_BINS; ++k) total += psd.power[k];
    if (!(total > 0.0)) return 0.0;
    const auto& entry = ambe_plus2_wire::tables::TONES[id];
    const double f0 = static_cast<double>(entry.f0_hz);
    std::array<bool, PSD_BINS> counted{};
    double lobes = lobe_power(psd, entry.l1 * f0, counted);
    if (entry.l2 != entry.l1) lobes += lobe_power(psd, entry.l2 * f0, counted);
    return lobes / total;
}

ToneDetection detect_steady_tone(std::span<const std::int16_t, TONE_FRAME_SAMPLES> samples, SteadyToneState& state) {
    const PowerSpectrum psd = compute_psd(samples);
    ToneDetection found = detect_dtmf(psd);
    if (!found.found) found = detect_single_tone(psd);
    if (!found.found || tone_share(psd, found.id) < MIN_TONE_SHARE) {
        state.run = 0;
        return {};
    }
    const bool steady = state.run > 0 && state.id == found.id &&
                        std::abs(int{found.amplitude} - int{state.amplitude}) <= MAX_LEVEL_STEP;
    state.run = steady ? static_cast<std::uint8_t>(std::min<int>(state.run + 1, 255)) : 1;
    state.id = found.id;
    state.amplitude = found.amplitude;
    return state.run >= STEADY_TONE_FRAMES ? found : ToneDetection{};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
