// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_pipeline.h"

#include <algorithm>
#include <variant>

#include "ambe_plus2_wire/frame.h"
#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize/reconstruction_search.h"
#include "ambe_plus2_wire/dequantize/tone.h"
#include "ambe_plus2_wire/dequantize/tone_copies.h"
#include "codecs/mbe_baseline/analysis/ambe_plus2_encode.h"
#include "common/failure.h"

namespace ostrel_mbe::ambe_plus2_pipeline {

namespace analysis = codecs::mbe_baseline::analysis;
namespace dq = ambe_plus2_wire::dequantize;

namespace {

// The tone index of the half-rate tone table's silence entry.
constexpr std::uint8_t SILENCE_TONE = 255;

}  // namespace

WireFrame pack_info_or_fec(const std::array<std::uint16_t, 4>& u, bool with_fec) {
    return with_fec ? WireFrame::of(ambe_plus2_wire::frame::encode_frame_bytes(u))
                    : WireFrame::of(wire_bytes_layout::pack_info_half(u));
}

std::expected<EncodeResult, VocoderError> encode(std::span<const std::int16_t> pcm, const EncodeContext& ctx,
                                                 bool with_fec) {
    if (const std::optional<ToneReport> tone = ctx.tone_detection ? detect_tone_report(pcm, ctx.steady_tone) : std::nullopt) {
        // A tone frame replaces analysis and quantization: no analysis or quantizer state moves.
        return EncodeResult{pack_info_or_fec(dq::tone_frame_vectors(tone->id, tone->amplitude), with_fec),
                            EncodeReport{OutputKind::Tone, tone}};
    }

    // The quantizer below runs against the encode direction's own closed-loop predictor, so the
    // analysis need not keep its copy (which would quantize every frame a second time).
    auto analysed = analysis::encode_ambe_plus2(pcm, ctx.analysis, analysis::PredictorCopy::Skip);
    if (!analysed) return common::failure<EncodeResult, VocoderError>(VocoderError::Analysis{analysed.error()});
    const bool silence = !analysed->has_value();
    const MbeParams params = silence ? MbeParams::ambe_plus2_silence() : **analysed;

    // Closed loop: every later frame is predicted from what the receiving decoder holds.
    auto u = ctx.quantizer_search ? dq::quantize_by_reconstruction(params, ctx.predictor)
                                  : dq::quantize_closed_loop(params, ctx.predictor);
    if (!u) return common::failure<EncodeResult, VocoderError>(VocoderError::Quantize{u.error().debug()});
    return EncodeResult{pack_info_or_fec(*u, with_fec),
                        EncodeReport{silence ? OutputKind::Silence : OutputKind::Voice, std::nullopt}};
}

namespace {

// The steps after the frame decoder, for corrected vectors or the bare rate's vectors.
DecodeResult decode_vectors(const std::array<std::uint16_t, 4>& u,
                            const codecs::mbe_baseline::FrameErrorCounts& errors, DecodeResult result,
                            const DecodeContext& ctx);

}  // namespace

DecodeResult decode_corrected(const ambe_plus2_wire::frame::DecodedFrame& decoded, const DecodeContext& ctx) {
    DecodeResult result;
    codecs::mbe_baseline::FrameErrorCounts errors{};
    // A detected-uncorrectable first code word counts as 4 errors, not 255.
    const unsigned e0 = decoded.errors[0] == 255 ? 4u : decoded.errors[0];
    errors.e0 = static_cast<std::uint8_t>(e0);
    errors.e4 = decoded.errors[3];
    errors.total = static_cast<std::uint8_t>(std::min(e0 + decoded.errors[1], 255u));
    std::copy(decoded.errors.begin(), decoded.errors.end(), result.report.errors.begin());
    result.report.code_vectors = static_cast<std::uint8_t>(decoded.errors.size());
    return decode_vectors(decoded.u, errors, result, ctx);
}

DecodeResult decode(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, bool with_fec) {
    if (with_fec) return decode_corrected(ambe_plus2_wire::frame::decode_frame_bytes(bytes.first<9>()), ctx);
    return decode_vectors(wire_bytes_layout::unpack_info_half(bytes.first<7>()), {}, DecodeResult{}, ctx);
}

namespace {

DecodeResult decode_vectors(const std::array<std::uint16_t, 4>& u,
                            const codecs::mbe_baseline::FrameErrorCounts& errors, DecodeResult result,
                            const DecodeContext& ctx) {
    DecodeReport& report = result.report;
    const dq::ToneVerdict verdict = ctx.tone_copies ? dq::read_tone_frame_by_copies(u, report.errors[1], report.code_vectors != 0)
                                                    : dq::ToneVerdict{};
    if (verdict.kind == dq::ToneVerdict::Kind::Irreconcilable) {
        // Concealed like a damaged voice frame: repeated (or muted) by the synthesizer.
        codecs::mbe_baseline::FrameErrorCounts erased = errors;
        erased.erasure = codecs::mbe_baseline::ERASURE_REPEAT;
        result.pcm = codecs::mbe_baseline::synthesize_frame_with_mode(MbeParams::ambe_plus2_silence(), erased,
                                                                      ctx.ambe_plus, ctx.synth_settings, ctx.synth,
                                                                      ctx.unvoiced_scale);
        report.kind = FrameKind::Invalid;
        report.disposition = ctx.synth.last_disposition();
        report.e0 = errors.e0;
        report.total = errors.total;
        return result;
    }
    dq::DecodedFrame frame = dq::decode_to_params(u, ctx.predictor);
    if (verdict.kind == dq::ToneVerdict::Kind::Tone) {
        // The marked frame was read from u0 and u3 alone; the copies' index replaces it.
        const dq::ToneCode code = verdict.code;
        if (auto params = dq::tone_to_mbe_params(code.index, code.amplitude)) {
            frame = {dq::DecodedFrame::Tone{code.index, code.amplitude, *params}};
        }
    }
    // Voice and tone frames carry parameters; erasures and errors become silence without
    // synthesis (and so without frame repetition).
    if (const MbeParams* params = frame.params()) {
        const auto* tone = std::get_if<dq::DecodedFrame::Tone>(&frame.kind);
        std::optional<MbeParams> muted;
        if (ctx.mute_tones && tone != nullptr && tone->index != SILENCE_TONE) {
            muted = dq::tone_to_mbe_params(SILENCE_TONE, tone->amplitude);
        }
        result.pcm = codecs::mbe_baseline::synthesize_frame_with_mode(muted ? *muted : *params, errors, ctx.ambe_plus,
                                                                      ctx.synth_settings, ctx.synth, ctx.unvoiced_scale);
    }
    if (const auto* voice = std::get_if<dq::DecodedFrame::Voice>(&frame.kind)) {
        // The encoder's silence frame carries the top of the pitch table, every band unvoiced.
        const float silence_omega0 = ambe_plus2_wire::tables::PITCH[0].omega0;
        report.kind = is_silence_frame(voice->params, silence_omega0) ? FrameKind::Silence : FrameKind::Voice;
    } else if (const auto* tone = std::get_if<dq::DecodedFrame::Tone>(&frame.kind)) {
        report.kind = tone->index == SILENCE_TONE ? FrameKind::Silence : FrameKind::Tone;
        report.tone = ToneReport{tone->index, tone->amplitude};
    } else {
        report.kind = std::holds_alternative<dq::DecodedFrame::Erasure>(frame.kind) ? FrameKind::Erasure
                                                                                    : FrameKind::Invalid;
    }
    report.disposition = ctx.synth.last_disposition();
    report.e0 = errors.e0;
    report.total = errors.total;
    return result;
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_pipeline
