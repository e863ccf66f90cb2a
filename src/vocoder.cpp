// SPDX-License-Identifier: GPL-2.0-or-later
#include "vocoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ambe_plus2_pipeline.h"
#include "channel_decode.h"
#include "common/failure.h"
#include "imbe_pipeline.h"
#include "vocoder_state.h"

namespace ostrel_mbe {

Vocoder::State& Vocoder::state() noexcept { return storage_.get<State>(); }
const Vocoder::State& Vocoder::state() const noexcept { return storage_.get<State>(); }

namespace mbe = codecs::mbe_baseline;

namespace {

// The two environment variables of unvoiced synthesis are the library's only reads of the
// process environment, both made by the channel ("OSTREL_LCG_INIT" in channel_decode.h).
// "OSTREL_LCG" selects the noise generator at every reset: exactly "spec" or "Spec" picks the TIA-102.BABA generator, anything else (or
// nothing) the modulus-65536 one, whatever the rate.
mbe::LcgParams lcg_from_environment() {
    const char* value = std::getenv("OSTREL_LCG");
    if (value != nullptr && (std::strcmp(value, "spec") == 0 || std::strcmp(value, "Spec") == 0)) {
        return mbe::LCG_STANDARD;
    }
    return mbe::LCG_DEFAULT;
}

void clear_states(Vocoder::State& s) {
    s.analysis = {};
    s.steady_tone = {};
    s.imbe_encode_state = {};
    s.imbe_decode_state = {};
    s.ambe_encode_state = {};
    s.ambe_decode_state = {};
    s.synth = mbe::SynthState::with_lcg(s.lcg);
    s.enhancement_state = {};
    s.level_state = {};
    s.heard_run = 0;
    s.last_encode.reset();
    s.last_decode = {};
    s.lost_run = 0;
}

// Every table and FFT plan the channels share is built when the library is loaded rather than
// inside some channel's first call (FFTW's planner alone takes milliseconds): a throwaway
// channel per frame format runs the whole encode and decode path, tone detection and the
// quantizer search included, a few times.  Each table stays behind its own one-time guard, so
// nothing depends on this order.
bool build_shared_tables() {
    for (const Rate rate : {Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450}) {
        Vocoder channel(rate);
        channel.set_tone_detection(true);
        channel.set_quantizer_search(true);  // the half rate's search has tables of its own
        std::array<std::int16_t, FRAME_SAMPLES> pcm{};
        for (std::size_t n = 0; n < pcm.size(); ++n) pcm[n] = static_cast<std::int16_t>((n * 2654435761u) >> 20);
        for (int i = 0; i < 3; ++i) {
            if (const auto frame = channel.encode_pcm(pcm)) (void)channel.decode_bits(frame->span());
        }
    }
    return true;
}
[[maybe_unused]] const bool shared_tables_built = build_shared_tables();

}  // namespace

std::string_view output_kind_text(OutputKind kind) {
    switch (kind) {
        case OutputKind::Voice: return "voice";
        case OutputKind::Silence: return "silence";
        case OutputKind::Tone: return "tone";
    }
    return "voice";
}

std::string_view frame_kind_text(FrameKind kind) {
    switch (kind) {
        case FrameKind::Voice: return "voice";
        case FrameKind::Silence: return "silence";
        case FrameKind::Tone: return "tone";
        case FrameKind::Erasure: return "erasure";
        case FrameKind::Invalid: return "invalid";
        case FrameKind::Lost: return "lost";
    }
    return "invalid";
}

Vocoder::Vocoder(Rate rate) { storage_.emplace<State>(rate); }
Vocoder::Vocoder(const Vocoder& other) { storage_.emplace<State>(other.state()); }
Vocoder& Vocoder::operator=(const Vocoder& other) {
    state() = other.state();
    return *this;
}
Vocoder::~Vocoder() { storage_.destroy<State>(); }

Rate Vocoder::rate() const { return state().rate; }

void Vocoder::reset() {
    // Kept: rate, tone detection and its detector, the quantizer search, AMBE+2 synthesis variant, formant weighting and the enhancement
    // configuration: they choose how the channel sounds, not how it follows one stream.  Every
    // other setting returns to its default (the analysis settings live in its state).
    State& s = state();
    const mbe::FormantWeighting weighting = s.synth_settings.formant_weighting;
    s.synth_settings = {};
    s.synth_settings.formant_weighting = weighting;
    s.unvoiced_scale = mbe::UNVOICED_SCALE_STANDARD;
    s.lcg = lcg_from_environment();
    clear_states(s);
}

bool Vocoder::tone_detection() const { return state().tone_detection; }
void Vocoder::set_tone_detection(bool on) { state().tone_detection = on; }
bool Vocoder::strict_tone_detection() const { return state().strict_tone_detection; }
void Vocoder::set_strict_tone_detection(bool on) { state().strict_tone_detection = on; }
bool Vocoder::quantizer_search() const { return state().quantizer_search; }
void Vocoder::set_quantizer_search(bool on) { state().quantizer_search = on; }
bool Vocoder::spectral_subtraction() const { return state().analysis.settings.spectral_subtraction; }
void Vocoder::set_spectral_subtraction(bool on) { state().analysis.settings.spectral_subtraction = on; }
bool Vocoder::silence_dispatch() const { return state().analysis.settings.silence_dispatch; }
void Vocoder::set_silence_dispatch(bool on) { state().analysis.settings.silence_dispatch = on; }
bool Vocoder::pitch_silence_override() const { return state().analysis.settings.pitch_silence_override; }
void Vocoder::set_pitch_silence_override(bool on) { state().analysis.settings.pitch_silence_override = on; }
bool Vocoder::default_pitch_on_silence() const { return state().analysis.settings.default_pitch_on_silence; }
void Vocoder::set_default_pitch_on_silence(bool on) { state().analysis.settings.default_pitch_on_silence = on; }
bool Vocoder::pyin_pitch() const { return state().analysis.settings.pyin_pitch; }
void Vocoder::set_pyin_pitch(bool on) { state().analysis.settings.pyin_pitch = on; }
bool Vocoder::chip_compat() const { return state().synth_settings.chip_compat; }
void Vocoder::set_chip_compat(bool on) { state().synth_settings.chip_compat = on; }
bool Vocoder::chip_compat_spectral_clamp() const { return state().synth_settings.chip_compat_spectral_clamp; }
void Vocoder::set_chip_compat_spectral_clamp(bool on) { state().synth_settings.chip_compat_spectral_clamp = on; }
std::optional<std::uint32_t> Vocoder::repeat_reset_after() const { return state().synth_settings.repeat_reset_after; }
void Vocoder::set_repeat_reset_after(std::optional<std::uint32_t> n) { state().synth_settings.repeat_reset_after = n; }
mbe::FormantWeighting Vocoder::formant_weighting() const { return state().synth_settings.formant_weighting; }
void Vocoder::set_formant_weighting(mbe::FormantWeighting weighting) { state().synth_settings.formant_weighting = weighting; }
AmbePlus2Synth Vocoder::ambe_plus2_synth() const { return state().ambe_plus2_synth; }
void Vocoder::set_ambe_plus2_synth(AmbePlus2Synth synth) { state().ambe_plus2_synth = synth; }
enhancement::EnhancementMode Vocoder::enhancement() const { return state().enhancement_config.mode(); }
double Vocoder::amp_ema_alpha() const { return state().analysis.settings.amp_ema_alpha; }
double Vocoder::ambe_plus2_unvoiced_scale() const { return state().unvoiced_scale; }

void Vocoder::set_enhancement(enhancement::EnhancementMode mode) {
    state().enhancement_config = enhancement::EnhancementConfig::with_mode(mode);
    state().enhancement_state = {};
}

void Vocoder::set_amp_ema_alpha(double alpha) {
    mbe::analysis::AnalysisState& analysis = state().analysis;
    analysis.settings.amp_ema_alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 0.0;
    // The next voice frame is not smoothed against frames analysed under the old weight.
    analysis.previous_omega0 = 0.0;
    analysis.previous_l = 0;
}

std::optional<OutputKind> Vocoder::last_output_kind() const {
    if (!state().last_encode) return std::nullopt;
    return state().last_encode->kind;
}

std::optional<ToneReport> Vocoder::last_tone_detection() const {
    if (!state().last_encode) return std::nullopt;
    return state().last_encode->tone;
}

const DecodeReport& Vocoder::last_decode_report() const { return state().last_decode; }

bool Vocoder::decode_reads_environment() const { return !state().synth.noise.initialised; }

std::expected<WireFrame, VocoderError> Vocoder::encode_pcm(std::span<const std::int16_t> pcm) {
    if (pcm.size() != FRAME_SAMPLES) {
        return common::failure<WireFrame, VocoderError>(VocoderError::WrongPcmLength{FRAME_SAMPLES, pcm.size()});
    }
    State& s = state();
    const bool with_fec = has_fec(s.rate);
    auto* steady = s.strict_tone_detection ? &s.steady_tone : nullptr;
    auto result = is_imbe(s.rate) ? imbe_pipeline::encode(
                                        pcm, {s.tone_detection, s.analysis, s.imbe_encode_state, false, steady}, with_fec)
                                  : ambe_plus2_pipeline::encode(pcm,
                                                                {s.tone_detection, s.analysis, s.ambe_encode_state,
                                                                 s.quantizer_search, steady},
                                                                with_fec);
    if (!result) return std::unexpected(std::move(result.error()));
    s.last_encode = result->report;
    return result->frame;
}

std::expected<PcmFrame, VocoderError> Vocoder::decode_bits(std::span<const std::uint8_t> bits) {
    State& s = state();
    // The length check comes first: a rejected call reads no bit and changes nothing.
    if (bits.size() != wire_bytes(s.rate)) {
        return common::failure<PcmFrame, VocoderError>(VocoderError::WrongBitsLength{wire_bytes(s.rate), bits.size()});
    }
    const bool with_fec = has_fec(s.rate);
    const bool cautious = channel_decode::begin_received(s);
    DecodeResult result = is_imbe(s.rate)
                              ? imbe_pipeline::decode(bits, channel_decode::imbe_context(s), with_fec)
                              : ambe_plus2_pipeline::decode(bits, channel_decode::ambe_plus2_context(s), with_fec);
    return channel_decode::finish_received(s, result, cautious);
}

}  // namespace ostrel_mbe
