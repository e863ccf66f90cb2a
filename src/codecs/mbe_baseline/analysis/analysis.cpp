// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/analysis.h"

#include <algorithm>
#include <cmath>

#include "codecs/mbe_baseline/analysis/basis.h"
#include "common/check.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {
namespace {

std::uint8_t saturating_increment(std::uint8_t count) {
    return count == 255 ? count : static_cast<std::uint8_t>(count + 1);
}

// The silent flag has a hangover (five quiet frames to enter, three loud ones to leave), so that
// single quiet frames inside speech, or single loud ones inside silence, do not toggle it.
double condition_frame(std::span<const std::int16_t> samples, AnalysisState& state,
                       std::array<double, FRAME_SAMPLES>& conditioned) {
    // The filter's recursion and the energy's sum are two chains of dependent operations: in one
    // loop they run side by side (each in its own order).
    double x_prev = state.dc_input_memory;
    double y_prev = state.dc_output_memory;
    double e = 0.0;
    for (std::size_t n = 0; n < FRAME_SAMPLES; ++n) {
        const double x = static_cast<double>(samples[n]);
        const double y = 0.99 * y_prev + x - x_prev;
        conditioned[n] = y;
        e += y * y;
        x_prev = x;
        y_prev = y;
    }
    state.dc_input_memory = x_prev;
    state.dc_output_memory = y_prev;

    double& f = state.noise_floor;
    f = e < f ? 0.95 * f + 0.05 * e : 0.99 * f + 0.01 * e;

    if (e < 2.0 * f) {
        state.loud_count = 0;
        state.quiet_count = saturating_increment(state.quiet_count);
    } else if (e > 4.0 * f) {
        state.quiet_count = 0;
        state.loud_count = saturating_increment(state.loud_count);
    }
    if (state.silent && state.loud_count > 2) state.silent = false;
    if (!state.silent && state.quiet_count >= 5) state.silent = true;
    return e;
}

void push_history(AnalysisState& state, const std::array<double, FRAME_SAMPLES>& frame) {
    std::size_t slot = 2;
    if (state.history_count < 3) {
        slot = state.history_count;
        ++state.history_count;
    } else {
        std::copy(state.history.begin() + FRAME_SAMPLES, state.history.end(), state.history.begin());
    }
    std::copy(frame.begin(), frame.end(), state.history.begin() + static_cast<std::ptrdiff_t>(slot * FRAME_SAMPLES));
}

// The look-back and look-ahead candidates go into the trace as well as the decision.
void estimate_pitch(AnalysisState& state, const FrontEndOptions& options, AnalysisTrace& trace) {
    const bool use_pyin = state.settings.pyin_pitch;
    if (!use_pyin || options.pitch_tracking_with_pyin) {
        const auto lpf = pitch::compute_s_lpf_shared(state.history);
        const std::array<pitch::PitchSearch, 3> frames = pitch::PitchSearch::for_frames(lpf);
        const pitch::PitchSearch& current = frames[0];
        const pitch::PitchSearch& next = frames[1];
        const pitch::PitchSearch& after_next = frames[2];

        const pitch::PeriodError back =
            pitch::look_back(current, state.previous_period, state.previous_error, state.previous_error_2);
        const pitch::PeriodError ahead = pitch::look_ahead(current, next, after_next);
        trace.lookback_period = back.period;
        trace.lookback_error = back.error;
        trace.lookahead_period = ahead.period;
        trace.lookahead_error = ahead.error;
        trace.pitch_energy = current.energy;
        trace.window_power = current.window_power;
        trace.autocorrelation = current.autocorrelation;
        trace.error_function = current.error;
        trace.pitch_period = pitch::decide_period(back, ahead);
        trace.pitch_error = current.error_at(trace.pitch_period);
    }
    if (use_pyin) {
        const pyin::PyinPitch p = pyin::run_pyin_smoothed(state.history, state.pyin);
        trace.pitch_period = p.period;
        trace.pitch_error = p.difference;
    }
}

}  // namespace

void apply_amp_ema(AnalysisState& state, amplitude::Amplitudes& amplitudes, std::uint8_t harmonic_count,
                   const vuv::VuvDecision& decision, double omega0) {
    const double alpha = state.settings.amp_ema_alpha;
    const std::uint8_t k = decision.band_count;
    const std::uint8_t previous_k = state.previous_k;
    const bool smooth = alpha > 0.0 && alpha < 1.0 && state.previous_l != 0 && state.previous_omega0 > 0.0 &&
                        std::fabs(omega0 - state.previous_omega0) / state.previous_omega0 < 0.25 &&
                        harmonic_count != 0 && k != 0 && previous_k != 0;
    if (smooth) {
        const std::size_t shared = std::min(state.previous_l, harmonic_count);
        for (std::size_t l = 1; l <= shared; ++l) {
            // A harmonic whose band changed voicing keeps its new value.
            if (decision.voiced[vuv::band_of(l, k)] == state.previous_voiced[vuv::band_of(l, previous_k)]) {
                amplitudes[l] = alpha * amplitudes[l] + (1.0 - alpha) * state.previous_amplitudes[l];
            }
        }
    }
    state.previous_amplitudes = amplitudes;
    state.previous_voiced = decision.voiced;
    state.previous_k = k;
    state.previous_l = harmonic_count;
    state.previous_omega0 = omega0;
}

std::expected<std::optional<FrontEndResult>, AnalysisError> analyse_front_end(std::span<const std::int16_t> samples,
                                                                             AnalysisState& state,
                                                                             const FrontEndOptions& options) {
    if (samples.size() != FRAME_SAMPLES) return std::unexpected(AnalysisError::WrongFrameLength);

    std::array<double, FRAME_SAMPLES> conditioned{};
    const double e = condition_frame(samples, state, conditioned);
    push_history(state, conditioned);
    if (state.warm_up_count < 2) {
        ++state.warm_up_count;
        return std::optional<FrontEndResult>{};
    }

    std::optional<FrontEndResult> result{std::in_place};
    FrontEndResult& r = *result;
    r.trace.frame_energy = e;
    r.trace.noise_floor = state.noise_floor;
    r.trace.silent = state.silent;
    estimate_pitch(state, options, r.trace);
    const double period = r.trace.pitch_period;
    const double pitch_error = r.trace.pitch_error;

    // The tracker keeps a neutral period for long, poorly periodic frames inside silence, so a
    // noise burst does not drag the look-back search.
    const bool neutral = state.settings.default_pitch_on_silence && state.silent && period > 80.0 && pitch_error >= 0.4;
    r.tracker_period = neutral ? 25.0 : period;
    r.tracker_error = neutral ? 1.0 : pitch_error;

    const auto& table = basis::window_transform();
    basis::Spectrum spectrum = basis::windowed_spectrum(state.history);
    state.noise_spectrum.update(spectrum, state.silent, e, state.noise_floor);

    r.pitch = refine::refine_pitch(spectrum, table, period);
    if (options.fit_harmonic_count != nullptr) {
        const std::optional<std::uint8_t> fitted = options.fit_harmonic_count(r.pitch.omega0);
        if (!fitted) {
            r.fundamental_in_range = false;
            return result;
        }
        OSTREL_CHECK(*fitted >= L_MIN && *fitted <= L_HAT_MAX, "fitted harmonic count is a valid L");
        r.pitch.harmonic_count = *fitted;
    }
    r.trace.vuv = vuv::determine_vuv(spectrum, table, r.pitch, state.voicing, pitch_error);

    // The amplitudes alone read the spectrum after the noise is taken off it: in place.
    if (state.settings.spectral_subtraction) denoise::subtract_noise(spectrum, state.noise_spectrum);
    r.amplitudes = amplitude::estimate_spectral_amplitudes(spectrum, table, r.pitch, r.trace.vuv);
    apply_amp_ema(state, r.amplitudes, r.pitch.harmonic_count, r.trace.vuv, r.pitch.omega0);
    return result;
}

bool is_silence_frame(const AnalysisState& state, const FrontEndResult& frame) {
    if (!state.settings.silence_dispatch) return false;
    if (state.silent) return true;
    return state.settings.pitch_silence_override && frame.trace.pitch_error >= 0.4 &&
           frame.trace.frame_energy < 2.0 * state.noise_floor;
}

void update_pitch_tracker(AnalysisState& state, double period, double error) {
    state.previous_error_2 = state.previous_error;
    state.previous_error = error;
    state.previous_period = period;
}

void dispatch_silence(AnalysisState& state, const FrontEndResult& frame) {
    state.previous_l = 0;
    state.previous_omega0 = 0.0;
    state.previous_k = 0;
    update_pitch_tracker(state, frame.tracker_period, frame.tracker_error);
}

std::expected<MbeParams, AnalysisError> build_params(const FrontEndResult& frame) {
    const std::size_t count = frame.pitch.harmonic_count;
    OSTREL_CHECK(count <= L_HAT_MAX, "harmonic count fits MbeParams");
    std::array<bool, L_HAT_MAX> voiced{};
    std::array<float, L_HAT_MAX> amplitudes{};
    for (std::size_t l = 1; l <= count; ++l) {
        voiced[l - 1] = vuv::harmonic_voiced(frame.trace.vuv, l);
        amplitudes[l - 1] = static_cast<float>(frame.amplitudes[l]);
    }
    auto params = MbeParams::create(static_cast<float>(frame.pitch.omega0), std::span<const bool>(voiced.data(), count),
                                    std::span<const float>(amplitudes.data(), count));
    if (!params) return std::unexpected(AnalysisError::PitchOutOfRange);
    return *params;
}

std::expected<AnalysisOutput, AnalysisError> encode_with_trace(std::span<const std::int16_t> samples,
                                                               AnalysisState& state, PredictorCopy predictor) {
    auto front = analyse_front_end(samples, state, FrontEndOptions{});
    if (!front) return std::unexpected(front.error());
    if (!front->has_value()) return AnalysisOutput{};
    const FrontEndResult& frame = **front;

    if (is_silence_frame(state, frame)) {
        dispatch_silence(state, frame);
        return AnalysisOutput{std::nullopt, frame.trace};
    }
    auto params = build_params(frame);
    if (!params) return std::unexpected(params.error());
    if (predictor == PredictorCopy::Track) {
        if (auto updated = predictor::update_imbe_predictor(state.imbe_predictor, *params); !updated) {
            return std::unexpected(updated.error());
        }
    }
    update_pitch_tracker(state, frame.tracker_period, frame.tracker_error);
    return AnalysisOutput{*params, frame.trace};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
