// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/built_once.h"
#include "common/check.h"
#include "common/simd.h"

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

constexpr std::size_t FRAME = 160;

FrameDisposition classify(const FrameErrorCounts& errors, bool ambe_plus, double error_rate) {
    const bool erased = (errors.erasure & ERASURE_REPEAT) != 0;
    if ((errors.erasure & ERASURE_MUTE) != 0) return FrameDisposition::Mute;
    const double total = errors.total;
    if (ambe_plus) {
        if (error_rate > 0.096) return FrameDisposition::Mute;
        if (erased || errors.e0 >= 4 || (errors.e0 >= 2 && errors.total >= 6)) return FrameDisposition::Repeat;
        return FrameDisposition::Normal;
    }
    if (error_rate > 0.0875) return FrameDisposition::Mute;
    if (erased || (errors.e0 >= 2 && total >= 10.0 + 40.0 * error_rate)) return FrameDisposition::Repeat;
    return FrameDisposition::Normal;
}

MbeParams build_reset_frame() {
    std::array<bool, RESET_FRAME_HARMONICS> voiced{};
    std::array<float, RESET_FRAME_HARMONICS> amplitudes{};
    amplitudes.fill(1.0f);
    return MbeParams::from_valid(RESET_FRAME_OMEGA0, voiced, amplitudes);
}

}  // namespace

SynthState SynthState::with_lcg(LcgParams lcg, std::size_t noise_start) {
    SynthState state;
    state.noise.lcg = lcg;
    state.noise.start = noise_start;
    return state;
}

const MbeParams& reset_frame() { return common::built_once<build_reset_frame>(); }

namespace {
// The body of to_pcm_sample, inlined into the frame loop.
inline std::int16_t pcm_sample(double value) {
    if (std::isnan(value)) return 0;
    // std::round without the library call: within the 16-bit range the truncated value and the
    // remainder are exact, and a remainder of at least one half steps away from zero.
    const double v = std::clamp(value, -32768.0, 32767.0);
    const auto whole = static_cast<int>(v);
    const double rest = v - static_cast<double>(whole);
    return static_cast<std::int16_t>(whole + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0));
}

}  // namespace

std::int16_t to_pcm_sample(double value) { return pcm_sample(value); }

// Four samples at a time in the same steps as pcm_sample without branches: NaN is replaced by 0
// before the conversion (which NaN would make undefined).  Built twice, for AVX2 and for the
// baseline instruction set.
OSTREL_AVX2_CLONES
std::array<std::int16_t, 160> to_pcm_frame(const std::array<double, 160>& a, const std::array<double, 160>& b) {
    std::array<std::int16_t, FRAME> out;
    using common::simd::Quad;
    using common::simd::quad_at;
    using Int4 = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));
    using Short4 = std::int16_t __attribute__((vector_size(4 * sizeof(std::int16_t))));
    constexpr Quad LOW{-32768.0, -32768.0, -32768.0, -32768.0};
    constexpr Quad HIGH{32767.0, 32767.0, 32767.0, 32767.0};
    constexpr Quad HALF{0.5, 0.5, 0.5, 0.5};
    constexpr Quad ONE{1.0, 1.0, 1.0, 1.0};
    for (std::size_t n = 0; n < FRAME; n += 4) {
        Quad v = quad_at(a.data() + n) + quad_at(b.data() + n);
        v = v < LOW ? LOW : v;
        v = HIGH < v ? HIGH : v;
        v = v == v ? v : Quad{};
        const Quad whole = __builtin_convertvector(__builtin_convertvector(v, Int4), Quad);
        const Quad rest = v - whole;
        // Whole numbers within the 16-bit range: the sum and the conversion are exact.
        const Quad rounded = whole + (rest >= HALF ? ONE : Quad{}) - (rest <= -HALF ? ONE : Quad{});
        const Short4 sample = __builtin_convertvector(__builtin_convertvector(rounded, Int4), Short4);
        std::memcpy(out.data() + n, &sample, sizeof sample);
    }
    return out;
}

std::array<std::int16_t, 160> synthesize_frame_with_mode(const MbeParams& params, const FrameErrorCounts& errors,
                                                         bool ambe_plus, const SynthSettings& settings,
                                                         SynthState& state, double unvoiced_scale) {
    // Smoothed bit-error rate: eps_T over the 144 protected bits of a full-rate frame, or the
    // half-rate weight.
    const double total = errors.total;
    const double rate_term = ambe_plus ? 0.001064 * total : total / 144.0 * 0.05;
    const double new_error_rate = 0.95 * state.error_rate + rate_term;
    const FrameDisposition disposition = classify(errors, ambe_plus, new_error_rate);
    state.disposition = disposition;
    if (!(settings.chip_compat && disposition == FrameDisposition::Repeat)) state.error_rate = new_error_rate;

    const MbeParams* working = &params;
    if (disposition == FrameDisposition::Normal) {
        state.repeat_count = 0;
    } else if (settings.repeat_reset_after && state.repeat_count >= *settings.repeat_reset_after) {
        working = &reset_frame();
        state.repeat_count = 0;
    } else {
        // Saturates rather than wrapping back to a fresh count after 2^32 lost frames.
        if (state.repeat_count < std::numeric_limits<std::uint32_t>::max()) ++state.repeat_count;
        if (state.saved_params) working = &*state.saved_params;
    }
    // Not copied: nothing below changes the saved record until the end, where a repeat of it
    // is left as it is.
    const MbeParams& frame = *working;
    const bool repeats_saved = state.saved_params && working == &*state.saved_params;
    const float omega0 = frame.omega0();
    const std::size_t count = frame.harmonic_count();

    const EnhancedAmplitudes enhanced =
        enhance_spectral_amplitudes(frame.amplitudes(), omega0, state.smoothed_energy, settings.formant_weighting);
    state.smoothed_energy = enhanced.smoothed_energy;
    SmoothedSpectrum synth =
        apply_smoothing(std::span<const float>(enhanced.amplitudes.data(), count), frame.voiced(), errors.total,
                        errors.e4, state.smoothed_energy, state.error_rate, state.amplitude_threshold);
    state.amplitude_threshold = synth.amplitude_threshold;

    if (ambe_plus && (settings.chip_compat || settings.chip_compat_spectral_clamp)) {
        const int lc = state.clamp_harmonic_count;
        const int difference = static_cast<int>(count) - lc;
        if (count != 0 && (errors.e0 >= 2 || (lc != 0 && std::abs(difference) >= 26))) {
            for (std::size_t l = 0; l < count; ++l) {
                synth.amplitudes[l] = static_cast<float>(static_cast<double>(synth.amplitudes[l]) * 0.75);
            }
        }
    }
    state.clamp_harmonic_count = static_cast<std::uint8_t>(count);

    const std::span<const float> amplitudes(synth.amplitudes.data(), count);
    const std::span<const bool> voiced(synth.voiced.data(), count);
    const std::array<double, FRAME> unvoiced =
        synthesize_unvoiced(amplitudes, voiced, state.noise, omega0, unvoiced_scale);
    // u(1..56): noise-window entries for n = 1..56.
    const std::span<const double, L_HAT_MAX> harmonic_noise(state.noise.window.data() + NOISE_WINDOW_CENTER + 1,
                                                            L_HAT_MAX);
    const std::array<double, FRAME> voiced_part = synthesize_voiced_with_lcg_modulus(
        amplitudes, voiced, harmonic_noise, ambe_plus, state.noise.lcg.modulus, state.voiced, omega0);

    std::array<std::int16_t, FRAME> out;
    if (disposition == FrameDisposition::Mute) {
        // Comfort noise: u(n - 80) around the standard generator's mid level, attenuated.
        for (std::size_t n = 0; n < FRAME; ++n) {
            out[n] = pcm_sample((state.noise.window[n + NOISE_WINDOW_CENTER - 80] - 26562.0) * 0.0065);
        }
    } else {
        out = to_pcm_frame(unvoiced, voiced_part);
    }
    if (!repeats_saved) state.saved_params = frame;
    return out;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
