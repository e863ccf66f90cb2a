// One full-duplex codec channel for one wire rate: encode_pcm turns 160 PCM samples into a
// wire frame, decode_bits turns a wire frame into 160 samples.  A single fixed-size value that
// owns every piece of cross-frame state of both directions; dispatch only, no DSP here.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "ambe_plus2_wire/dequantize.h"
#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "enhancement.h"
#include "imbe_wire/dequantize.h"
#include "pipeline_types.h"
#include "rate.h"
#include "vocoder_error.h"

namespace ostrel_mbe {

class Vocoder {
public:
    explicit Vocoder(Rate rate);

    Rate rate() const { return rate_; }

    std::expected<WireFrame, VocoderError> encode_pcm(std::span<const std::int16_t> pcm);
    std::expected<PcmFrame, VocoderError> decode_bits(std::span<const std::uint8_t> bits);
    void reset();

    std::optional<OutputKind> last_output_kind() const;
    std::optional<ToneReport> last_tone_detection() const;
    const DecodeReport& last_decode_report() const { return last_decode_; }
    // True until the first frame synthesized since construction or reset, the call that reads
    // the environment (OSTREL_LCG_INIT) for the noise generator's start.
    bool reads_environment_on_decode() const { return !synth_.noise.initialised; }

    // Settings (plain reads and writes unless noted).
    bool tone_detection() const { return tone_detection_; }
    void set_tone_detection(bool on) { tone_detection_ = on; }
    bool spectral_subtraction() const { return analysis_.settings.spectral_subtraction; }
    void set_spectral_subtraction(bool on) { analysis_.settings.spectral_subtraction = on; }
    bool silence_dispatch() const { return analysis_.settings.silence_dispatch; }
    void set_silence_dispatch(bool on) { analysis_.settings.silence_dispatch = on; }
    bool pitch_silence_override() const { return analysis_.settings.pitch_silence_override; }
    void set_pitch_silence_override(bool on) { analysis_.settings.pitch_silence_override = on; }
    bool default_pitch_on_silence() const { return analysis_.settings.default_pitch_on_silence; }
    void set_default_pitch_on_silence(bool on) { analysis_.settings.default_pitch_on_silence = on; }
    bool pyin_pitch() const { return analysis_.settings.pyin_pitch; }
    void set_pyin_pitch(bool on) { analysis_.settings.pyin_pitch = on; }
    bool chip_compat() const { return synth_settings_.chip_compat; }
    void set_chip_compat(bool on) { synth_settings_.chip_compat = on; }
    bool chip_compat_spectral_clamp() const { return synth_settings_.chip_compat_spectral_clamp; }
    void set_chip_compat_spectral_clamp(bool on) { synth_settings_.chip_compat_spectral_clamp = on; }
    std::optional<std::uint32_t> repeat_reset_after() const { return synth_settings_.repeat_reset_after; }
    void set_repeat_reset_after(std::optional<std::uint32_t> n) { synth_settings_.repeat_reset_after = n; }
    AmbePlus2Synth ambe_plus2_synth() const { return ambe_plus2_synth_; }
    void set_ambe_plus2_synth(AmbePlus2Synth synth) { ambe_plus2_synth_ = synth; }
    enhancement::EnhancementMode enhancement() const { return enhancement_config_.mode(); }
    // Replaces the whole chain configuration by the default for the mode and clears its memory.
    void set_enhancement(enhancement::EnhancementMode mode);
    double amp_ema_alpha() const { return analysis_.settings.amp_ema_alpha; }
    // NaN or infinity stores 0; otherwise clamped to [0, 1].  Drops the smoothing memory.
    void set_amp_ema_alpha(double alpha);
    double ambe_plus2_unvoiced_scale() const { return unvoiced_scale_; }
    const codecs::mbe_baseline::LcgParams& lcg() const { return lcg_; }

private:
    void clear_states();

    Rate rate_;
    bool tone_detection_ = false;
    AmbePlus2Synth ambe_plus2_synth_ = AmbePlus2Synth::AmbePlus;
    codecs::mbe_baseline::SynthSettings synth_settings_{};
    double unvoiced_scale_ = 146.643269;
    codecs::mbe_baseline::LcgParams lcg_{};
    enhancement::EnhancementConfig enhancement_config_ =
        enhancement::EnhancementConfig::with_mode(enhancement::EnhancementMode::Classical);
    enhancement::EnhancementState enhancement_state_{};

    codecs::mbe_baseline::analysis::AnalysisState analysis_{};
    // One predictor state per direction and wire format: a full-duplex channel must not let
    // decoding the far end move the predictor that the local encoder's closed loop relies on.
    imbe_wire::dequantize::DecoderState imbe_encode_state_{};
    imbe_wire::dequantize::DecoderState imbe_decode_state_{};
    ambe_plus2_wire::dequantize::DecoderState ambe_encode_state_{};
    ambe_plus2_wire::dequantize::DecoderState ambe_decode_state_{};
    codecs::mbe_baseline::SynthState synth_;

    std::optional<EncodeReport> last_encode_;
    codecs::mbe_baseline::FrameDisposition previous_decode_ = codecs::mbe_baseline::FrameDisposition::None;
    DecodeReport last_decode_{};
};

}  // namespace ostrel_mbe
