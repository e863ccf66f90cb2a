// SPDX-License-Identifier: GPL-2.0-or-later
// What the per-codec pipelines hand back to the channel for one frame, and the steps both
// pipelines take alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/analysis/steady_tone.h"
#include "codecs/mbe_baseline/analysis/tone_detect.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "mbe_params.h"
#include "pipeline_types.h"

namespace ostrel_mbe {

// What one encode call works on, for either codec: the settings, the analysis state and the encode
// direction's own predictor state of the codec's quantizer.
template <class PredictorState>
struct EncodeContext {
    bool tone_detection;
    codecs::mbe_baseline::analysis::AnalysisState& analysis;
    PredictorState& predictor;
    // Half rate only: quantizer indices chosen by the reconstructed spectrum.
    bool quantizer_search = false;
    // With tone detection on: the steady-tone detector's memory, or null for the standard
    // per-frame detector.
    codecs::mbe_baseline::analysis::SteadyToneState* steady_tone = nullptr;
};

struct EncodeResult {
    WireFrame frame;
    EncodeReport report;
};

struct DecodeResult {
    PcmFrame pcm{};
    DecodeReport report;
};

// The tone of a PCM frame of 160 samples (checked by the channel), when there is one: at the
// full rate it only annotates the encode report, at the half rate it is sent as a tone frame.
// With `steady` the tone must also dominate the frame and persist (steady_tone.h).
inline std::optional<ToneReport> detect_tone_report(std::span<const std::int16_t> pcm,
                                                    codecs::mbe_baseline::analysis::SteadyToneState* steady) {
    namespace analysis = codecs::mbe_baseline::analysis;
    const auto detection = steady ? analysis::detect_steady_tone(pcm.first<FRAME_SAMPLES>(), *steady)
                                  : analysis::detect_tone(pcm.first<FRAME_SAMPLES>());
    if (!detection.found) return std::nullopt;
    return ToneReport{detection.id, detection.amplitude};
}

// The encoder's silence frame as a decoder receives it: the fundamental of pitch index 0
// (silence_omega0) with every harmonic unvoiced.
inline bool is_silence_frame(const MbeParams& params, float silence_omega0) {
    if (params.omega0() != silence_omega0) return false;
    for (bool voiced : params.voiced())
        if (voiced) return false;
    return true;
}

}  // namespace ostrel_mbe
