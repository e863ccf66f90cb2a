// SPDX-License-Identifier: GPL-2.0-or-later
// One full-duplex codec channel for one wire rate: encode_pcm turns 160 PCM samples into a
// wire frame, decode_bits turns a wire frame into 160 samples.  A single fixed-size value that
// owns every piece of cross-frame state of both directions; dispatch only, no DSP here.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "inline_storage.h"
#include "pipeline_types.h"
#include "rate.h"
#include "settings.h"
#include "vocoder_error.h"

namespace ostrel_mbe {

class Vocoder {
public:
    explicit Vocoder(Rate rate);
    Vocoder(const Vocoder& other);
    Vocoder& operator=(const Vocoder& other);
    ~Vocoder();

    Rate rate() const;

    std::expected<WireFrame, VocoderError> encode_pcm(std::span<const std::int16_t> pcm);
    std::expected<PcmFrame, VocoderError> decode_bits(std::span<const std::uint8_t> bits);
    // The frame from soft decisions, one value per wire bit in the order of decode_bits' bytes
    // (byte 0 first, most significant bit first): positive means 1, the magnitude is the
    // confidence on any scale, 0 no idea.  Exactly wire_bytes * 8 finite values, else an error
    // and nothing changes.  Soft values of equal magnitude decode exactly as decode_bits of
    // their signs; at the rates without FEC the signs are sliced.
    std::expected<PcmFrame, VocoderError> decode_soft(std::span<const float> soft);
    // 160 samples for a frame that never arrived: the last frame repeated for up to
    // lost_frame_repeats() frames in a row, then comfort noise until a frame is received.
    PcmFrame decode_lost();
    void reset();

    std::optional<OutputKind> last_output_kind() const;
    std::optional<ToneReport> last_tone_detection() const;
    const DecodeReport& last_decode_report() const;
    // True until the first unvoiced synthesis after construction or reset: until then every
    // decode_bits reads "OSTREL_LCG_INIT" (where the noise generator's first window starts), so
    // a caller that guards the environment holds its guard for that call.
    bool decode_reads_environment() const;

    // Settings (plain reads and writes unless noted).
    bool tone_detection() const;
    void set_tone_detection(bool on);
    // With tone detection on: report a tone only when it dominates the frame's spectrum and has
    // persisted over three frames, so that voiced speech is not sent as tones (default off, the
    // standard's per-frame detector).  Kept by reset.
    bool strict_tone_detection() const;
    void set_strict_tone_detection(bool on);
    bool spectral_subtraction() const;
    void set_spectral_subtraction(bool on);
    bool silence_dispatch() const;
    void set_silence_dispatch(bool on);
    bool pitch_silence_override() const;
    void set_pitch_silence_override(bool on);
    bool default_pitch_on_silence() const;
    void set_default_pitch_on_silence(bool on);
    bool pyin_pitch() const;
    void set_pyin_pitch(bool on);
    // Half rates: pick the quantizer indices by the spectrum a decoder rebuilds (default off, the
    // plain nearest-entry quantizer).  Kept by reset.
    bool quantizer_search() const;
    void set_quantizer_search(bool on);
    bool chip_compat() const;
    void set_chip_compat(bool on);
    bool chip_compat_spectral_clamp() const;
    void set_chip_compat_spectral_clamp(bool on);
    // Lost frames repeated before decode_lost mutes (default 3).  Kept by reset.
    std::uint32_t lost_frame_repeats() const;
    void set_lost_frame_repeats(std::uint32_t n);
    std::optional<std::uint32_t> repeat_reset_after() const;
    void set_repeat_reset_after(std::optional<std::uint32_t> n);
    // Kept by reset, like the synthesis variant.
    codecs::mbe_baseline::FormantWeighting formant_weighting() const;
    void set_formant_weighting(codecs::mbe_baseline::FormantWeighting weighting);
    AmbePlus2Synth ambe_plus2_synth() const;
    void set_ambe_plus2_synth(AmbePlus2Synth synth);
    enhancement::EnhancementMode enhancement() const;
    // Replaces the whole chain configuration by the default for the mode and clears its memory;
    // the level control below is not part of it and stays as it is.
    void set_enhancement(enhancement::EnhancementMode mode);
    double amp_ema_alpha() const;
    // NaN or infinity stores 0; otherwise clamped to [0, 1].  Drops the smoothing memory.
    void set_amp_ema_alpha(double alpha);
    double ambe_plus2_unvoiced_scale() const;

    // Decoded-output settings, all off by default and all kept by reset and by set_enhancement.
    // Level control runs after the enhancement chain in either mode: automatic gain control
    // toward agc_level (dBFS RMS of active speech, -60..0, default -20) with at most
    // agc_max_gain dB (0..40, default 18), then output_gain dB (-60..40, default 0), then a peak
    // limiter at -1 dBFS; it is active when agc is on or output_gain is not 0.
    bool agc() const;
    void set_agc(bool on);
    double agc_level() const;
    void set_agc_level(double dbfs);
    double agc_max_gain() const;
    void set_agc_max_gain(double db);
    double output_gain() const;
    void set_output_gain(double db);
    // Half rates: decide a tone frame's index by all its copies, and conceal a tone frame whose
    // copies cannot be reconciled like a damaged voice frame.
    bool tone_copies() const;
    void set_tone_copies(bool on);
    // Half rates: play tone frames (not the silence tone) as silence.
    bool mute_tones() const;
    void set_mute_tones(bool on);
    // Mute what comes before the first clean frame after construction or reset, and fade that
    // frame in.
    bool cautious_start() const;
    void set_cautious_start(bool on);

    // Every piece of the channel's cross-frame state, defined in the library's private sources
    // (vocoder_state.h); reached by the library's own code and tests.
    struct State;
    // Defined where State is complete: clang instantiates the storage's accessor (and
    // std::launder, which needs a complete type) at an inline definition here.
    State& state() noexcept;
    const State& state() const noexcept;

private:
    // Room for State; the library checks at build time that State fits.
    InlineStorage<24576> storage_;
};

}  // namespace ostrel_mbe
