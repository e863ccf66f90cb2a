#include "vocoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ambe_plus2_pipeline.h"
#include "common/failure.h"
#include "imbe_pipeline.h"

namespace ostrel_mbe {

namespace mbe = codecs::mbe_baseline;

namespace {

constexpr double UNVOICED_SCALE_RESET = 146.643269;

// "OSTREL_LCG" selects the noise generator at every reset: exactly "spec" or "Spec" picks the
// TIA-102.BABA generator, anything else (or nothing) the modulus-65536 one, whatever the rate.
mbe::LcgParams lcg_from_environment() {
    const char* value = std::getenv("OSTREL_LCG");
    if (value != nullptr && (std::strcmp(value, "spec") == 0 || std::strcmp(value, "Spec") == 0)) {
        return mbe::LCG_STANDARD;
    }
    return mbe::LCG_DEFAULT;
}

}  // namespace

std::string_view output_kind_text(OutputKind kind) {
    switch (kind) {
        case OutputKind::Voice: return "voice";
        case OutputKind::Silence: return "silence";
        case OutputKind::Tone: return "tone";
    }
    return "voice";
}

Vocoder::Vocoder(Rate rate)
    : rate_(rate),
      lcg_(is_imbe(rate) ? mbe::LCG_STANDARD : mbe::LCG_DEFAULT),
      synth_(mbe::SynthState::with_lcg(lcg_)) {}

void Vocoder::clear_states() {
    analysis_ = {};
    imbe_encode_state_ = {};
    imbe_decode_state_ = {};
    ambe_encode_state_ = {};
    ambe_decode_state_ = {};
    synth_ = mbe::SynthState::with_lcg(lcg_);
    enhancement_state_ = {};
    last_encode_.reset();
    previous_decode_ = mbe::FrameDisposition::None;
    last_decode_ = {};
}

void Vocoder::reset() {
    // Kept: rate, tone detection, AMBE+2 synthesis variant, formant weighting and the enhancement
    // configuration: they choose how the channel sounds, not how it follows one stream.  Every
    // other setting returns to its default (the analysis settings live in its state).
    const mbe::FormantWeighting weighting = synth_settings_.formant_weighting;
    synth_settings_ = {};
    synth_settings_.formant_weighting = weighting;
    unvoiced_scale_ = UNVOICED_SCALE_RESET;
    lcg_ = lcg_from_environment();
    clear_states();
}

void Vocoder::set_enhancement(enhancement::EnhancementMode mode) {
    enhancement_config_ = enhancement::EnhancementConfig::with_mode(mode);
    enhancement_state_ = {};
}

void Vocoder::set_amp_ema_alpha(double alpha) {
    analysis_.settings.amp_ema_alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 0.0;
    // The next voice frame is not smoothed against frames analysed under the old weight.
    analysis_.previous_omega0 = 0.0;
    analysis_.previous_l = 0;
}

std::optional<OutputKind> Vocoder::last_output_kind() const {
    if (!last_encode_) return std::nullopt;
    return last_encode_->kind;
}

std::optional<ToneReport> Vocoder::last_tone_detection() const {
    if (!last_encode_) return std::nullopt;
    return last_encode_->tone;
}

std::expected<WireFrame, VocoderError> Vocoder::encode_pcm(std::span<const std::int16_t> pcm) {
    if (pcm.size() != FRAME_SAMPLES) {
        return common::failure<WireFrame, VocoderError>(VocoderError::WrongPcmLength{FRAME_SAMPLES, pcm.size()});
    }
    const bool with_fec = has_fec(rate_);
    auto result = is_imbe(rate_)
                      ? imbe_pipeline::encode(pcm, {tone_detection_, analysis_, imbe_encode_state_}, with_fec)
                      : ambe_plus2_pipeline::encode(pcm, {tone_detection_, analysis_, ambe_encode_state_}, with_fec);
    if (!result) return std::unexpected(std::move(result.error()));
    last_encode_ = result->report;
    return result->frame;
}

std::expected<PcmFrame, VocoderError> Vocoder::decode_bits(std::span<const std::uint8_t> bits) {
    // The length check comes first: a rejected call reads no bit and changes nothing.
    if (bits.size() != wire_bytes(rate_)) {
        return common::failure<PcmFrame, VocoderError>(VocoderError::WrongBitsLength{wire_bytes(rate_), bits.size()});
    }
    const bool with_fec = has_fec(rate_);
    DecodeResult result =
        is_imbe(rate_)
            ? imbe_pipeline::decode(bits, {imbe_decode_state_, synth_settings_, synth_}, with_fec)
            : ambe_plus2_pipeline::decode(bits,
                                          {ambe_decode_state_, ambe_plus2_synth_ == AmbePlus2Synth::AmbePlus,
                                           unvoiced_scale_, synth_settings_, synth_},
                                          with_fec);
    const bool continuous = previous_decode_ == mbe::FrameDisposition::Normal;
    enhancement::apply(enhancement_config_, enhancement_state_, result.pcm, continuous, 8000.0f);
    previous_decode_ = result.disposition;
    last_decode_ = {result.disposition, result.e0, result.total};
    return result.pcm;
}

}  // namespace ostrel_mbe
