// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_pipeline.h"

#include <algorithm>

#include "common/failure.h"
#include "imbe_wire/frame.h"
#include "imbe_wire/priority.h"

namespace ostrel_mbe::imbe_pipeline {

namespace analysis = codecs::mbe_baseline::analysis;
namespace dq = imbe_wire::dequantize;

namespace {

// The fundamental of pitch index 0, which the encoder's silence frame carries.
float silence_omega0() { return dq::decode_pitch(0)->omega0; }

}  // namespace

std::expected<EncodeResult, VocoderError> encode(std::span<const std::int16_t> pcm, const EncodeContext& ctx,
                                                 bool with_fec) {
    // Tone detection only annotates the report at the full rate; the frame is always voice.
    const std::optional<ToneReport> tone = ctx.tone_detection ? detect_tone_report(pcm, ctx.steady_tone) : std::nullopt;

    // The quantizer below runs against the encode direction's own closed-loop predictor, so the
    // analysis need not keep its copy (which would quantize every frame a second time).
    auto analysed = analysis::encode_with_trace(pcm, ctx.analysis, analysis::PredictorCopy::Skip);
    if (!analysed) return common::failure<EncodeResult, VocoderError>(VocoderError::Analysis{analysed.error()});

    const bool silence = !analysed->params.has_value();
    const MbeParams params = silence ? MbeParams::imbe_silence() : *analysed->params;

    const dq::DecoderState before = ctx.predictor;
    auto b = dq::quantize(params, ctx.predictor);
    if (!b) return common::failure<EncodeResult, VocoderError>(VocoderError::Quantize{std::string(dq::debug_name(b.error()))});
    const dq::InfoVectors u = imbe_wire::priority::prioritize(*b, params.harmonic_count());

    // Closed loop: the encode direction holds exactly what a decoder of this frame will hold
    // (unchanged when the decoder would refuse the frame).  The quantizer has already moved the
    // predictor as such a decoder does; the frame is decoded again only when that is in doubt.
    if (!dq::decodes_as_quantized(u, *b, params.harmonic_count(), ctx.predictor)) {
        dq::DecoderState closed = before;
        (void)dq::dequantize(u, closed);
        ctx.predictor = closed;
    }

    EncodeResult result{with_fec ? WireFrame::of(imbe_wire::frame::encode_frame_bytes(u))
                                 : WireFrame::of(wire_bytes_layout::pack_info_full(u)),
                        EncodeReport{silence ? OutputKind::Silence : OutputKind::Voice, tone}};
    return result;
}

namespace {

// The steps after the frame decoder, for corrected vectors (errors set) or the bare rate's
// vectors (errors all zero, no per-vector counts).
DecodeResult decode_vectors(const dq::InfoVectors& u, const codecs::mbe_baseline::FrameErrorCounts& errors,
                            DecodeResult result, const DecodeContext& ctx);

}  // namespace

DecodeResult decode_corrected(const imbe_wire::frame::DecodedFrame& decoded, const DecodeContext& ctx) {
    DecodeResult result;
    codecs::mbe_baseline::FrameErrorCounts errors{};
    unsigned total = 0;
    for (std::uint8_t e : decoded.errors) total += e;
    errors.e0 = decoded.errors[0];
    errors.e4 = decoded.errors[4];
    errors.total = static_cast<std::uint8_t>(std::min(total, 255u));
    std::copy(decoded.errors.begin(), decoded.errors.end(), result.report.errors.begin());
    result.report.code_vectors = static_cast<std::uint8_t>(decoded.errors.size());
    return decode_vectors(decoded.u, errors, result, ctx);
}

DecodeResult decode(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, bool with_fec) {
    if (with_fec) return decode_corrected(imbe_wire::frame::decode_frame_bytes(bytes.first<18>()), ctx);
    return decode_vectors(unpack_info_full(bytes.first<11>()), {}, DecodeResult{}, ctx);
}

namespace {

DecodeResult decode_vectors(const dq::InfoVectors& u, const codecs::mbe_baseline::FrameErrorCounts& errors,
                            DecodeResult result, const DecodeContext& ctx) {
    DecodeReport& report = result.report;
    auto params = dq::dequantize(u, ctx.predictor);
    if (params) {
        result.pcm = codecs::mbe_baseline::synthesize_frame_with_mode(*params, errors, false, ctx.synth_settings,
                                                                      ctx.synth, codecs::mbe_baseline::UNVOICED_SCALE_STANDARD);
        report.kind = is_silence_frame(*params, silence_omega0()) ? FrameKind::Silence : FrameKind::Voice;
    } else {
        report.kind = FrameKind::Invalid;
    }
    report.disposition = ctx.synth.last_disposition();
    report.e0 = errors.e0;
    report.total = errors.total;
    return result;
}

}  // namespace
}  // namespace ostrel_mbe::imbe_pipeline
