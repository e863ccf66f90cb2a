// SPDX-License-Identifier: GPL-2.0-or-later
// The MBE analysis encoder for the full rate: one 160-sample PCM frame (8000 samples/s) in, the
// MbeParams of the frame received two calls earlier out, with a trace of the analysis.  Owns the
// order of the stages (conditioning, silence tracking, pitch, spectrum, noise estimate,
// refinement, voicing, amplitudes, smoothing, silence dispatch, closed-loop predictor update).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "codecs/mbe_baseline/analysis/amplitude.h"
#include "analysis_error.h"
#include "codecs/mbe_baseline/analysis/denoise.h"
#include "codecs/mbe_baseline/analysis/pitch.h"
#include "codecs/mbe_baseline/analysis/predictor.h"
#include "codecs/mbe_baseline/analysis/pyin.h"
#include "codecs/mbe_baseline/analysis/refine.h"
#include "codecs/mbe_baseline/analysis/vuv.h"
#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

inline constexpr std::size_t FRAME_SAMPLES = 160;

// The channel's analysis options; the channel clamps amp_ema_alpha before storing it.
struct AnalysisSettings {
    double amp_ema_alpha = 0.0;
    bool silence_dispatch = false;
    bool pitch_silence_override = false;
    bool default_pitch_on_silence = false;
    bool pyin_pitch = false;
    bool spectral_subtraction = true;

    friend bool operator==(const AnalysisSettings&, const AnalysisSettings&) = default;
};

// Cross-frame memory of one channel's encoder; a default-constructed value is the reset state.
struct AnalysisState {
    std::array<double, 3 * FRAME_SAMPLES> history{};  // oldest frame first
    double dc_input_memory = 0.0;
    double dc_output_memory = 0.0;
    predictor::PredictorState imbe_predictor{};
    double previous_period = 100.0;   // P-1
    double previous_error = 0.0;      // E-1
    double previous_error_2 = 0.0;    // E-2
    vuv::VoicingState voicing{};
    predictor::AmbePlus2PredictorState ambe_plus2_predictor{};
    AnalysisSettings settings{};
    amplitude::Amplitudes previous_amplitudes{};  // smoothed amplitudes of the last voice frame
    double previous_omega0 = 0.0;
    pyin::PyinState pyin{};
    double noise_floor = 20000.0;
    std::uint8_t quiet_count = 0;
    std::uint8_t loud_count = 0;
    bool silent = false;
    denoise::NoiseSpectrum noise_spectrum{};
    std::uint8_t history_count = 0;
    std::uint8_t warm_up_count = 0;
    std::uint8_t previous_l = 0;  // 0: no smoothing memory
    std::array<bool, vuv::BAND_SLOTS> previous_voiced{};
    std::uint8_t previous_k = 0;

    friend bool operator==(const AnalysisState&, const AnalysisState&) = default;
};

struct AnalysisTrace {
    vuv::VuvDecision vuv{};
    double lookback_period = 0.0;   // P_B
    double lookback_error = 0.0;    // CE_B
    double lookahead_period = 0.0;  // P_F
    double lookahead_error = 0.0;   // CE_F
    double pitch_period = 0.0;      // P^
    double pitch_error = 0.0;       // E(P^)
    double pitch_energy = 0.0;      // current frame's pitch-window energy
    double window_power = 0.0;
    std::array<double, pitch::LAG_COUNT> autocorrelation{};
    std::array<double, pitch::GRID_SIZE> error_function{};
    double frame_energy = 0.0;  // e of the frame just received
    double noise_floor = 0.0;
    bool silent = false;
};

struct AnalysisOutput {
    std::optional<MbeParams> params;
    std::optional<AnalysisTrace> trace;
};

// Whether the analysis keeps its own copy of the decoder's amplitude predictor up to date.  A
// caller that quantizes the frames itself against its own closed-loop predictor state (the
// channel does) has no use for the copy: nothing else reads it, and keeping it costs a second
// quantization of every frame.
enum class PredictorCopy : bool { Track, Skip };

// (none, none) during warm-up, (none, trace) for a silence frame, (params, trace) for voice.
// WrongFrameLength unless samples holds 160 values; the state is then untouched.
std::expected<AnalysisOutput, AnalysisError> encode_with_trace(std::span<const std::int16_t> samples,
                                                               AnalysisState& state,
                                                               PredictorCopy predictor = PredictorCopy::Track);

// Blends amplitudes 1..L with the previous voice frame's where the band voicing is unchanged and
// the fundamental moved by less than 25 %, when 0 < amp_ema_alpha < 1; always stores the memory.
void apply_amp_ema(AnalysisState& state, amplitude::Amplitudes& amplitudes, std::uint8_t harmonic_count,
                   const vuv::VuvDecision& decision, double omega0);

// ---- Front end shared with the half-rate encoding path ----

// Maps a refined fundamental to the harmonic count of the caller's wire format, or none when the
// fundamental lies outside its range (the frame then becomes silence).
using HarmonicCountFit = std::optional<std::uint8_t> (*)(double omega0);

struct FrontEndOptions {
    // Run look-back and look-ahead even when PYIN supplies the pitch (they feed only the trace).
    bool pitch_tracking_with_pyin = true;
    // None: the harmonic count of pitch refinement.
    HarmonicCountFit fit_harmonic_count = nullptr;
};

struct FrontEndResult {
    AnalysisTrace trace;
    refine::RefinedPitch pitch;        // harmonic count as fitted
    amplitude::Amplitudes amplitudes{};  // smoothed
    double tracker_period = 0.0;       // V, stored as P-1
    double tracker_error = 0.0;        // U, stored as E-1
    // False when the fit refused the fundamental; voicing, amplitudes and smoothing did not run.
    bool fundamental_in_range = true;
};

// Length check, conditioning, silence tracking, history, warm-up, pitch, spectrum, noise estimate,
// refinement, voicing, optional spectral subtraction, amplitudes and smoothing.  None during
// warm-up.
std::expected<std::optional<FrontEndResult>, AnalysisError> analyse_front_end(std::span<const std::int16_t> samples,
                                                                             AnalysisState& state,
                                                                             const FrontEndOptions& options);

// The dispatch rule: silence_dispatch on and either the silent flag, or pitch_silence_override
// with a poor pitch fit on a quiet frame.
bool is_silence_frame(const AnalysisState& state, const FrontEndResult& frame);

// A silence frame drops the smoothing memory and still moves the pitch tracker.
void dispatch_silence(AnalysisState& state, const FrontEndResult& frame);

// E-2 <- E-1, E-1 <- U, P-1 <- V.
void update_pitch_tracker(AnalysisState& state, double period, double error);

// MbeParams of an analysed frame; PitchOutOfRange when they fail validation.
std::expected<MbeParams, AnalysisError> build_params(const FrontEndResult& frame);

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
