// SPDX-License-Identifier: GPL-2.0-or-later
// The loss budget's codec (bench/loss_budget.py): analyses 8 kHz speech with the channel's own
// encoder front end, sends the chosen parameter groups alone through the quantizer (the others
// pass unquantized), and synthesizes the result with the channel's own decoder stages.  Not part
// of the library: it reaches the private stages the public channel keeps together.
//
//     loss_budget_driver imbe|ambe GROUPS [OPTION...] -- IN OUT [IN OUT ...]
//
// IN and OUT are headerless 16-bit little-endian mono files at 8000 samples/s; OUT gets one
// decoded frame per whole input frame (the two-frame encoder delay included, as the channel's).
// GROUPS is a comma list, or "none" for the analysed parameters straight into synthesis:
//   pitch    the fundamental becomes its pitch-table value (the count L is the table's already)
//   voicing  the per-harmonic flags become the voicing code's, and a harmonic whose flag flips
//            gets the decoder's level for its new class from the amplitude coded for the old
//   amps     (full rate) the amplitudes as the channel's closed-loop quantizer rebuilds them
//   gain     (half rate) the frame gain through its differential scalar quantizer
//   prba     (half rate) the eight block averages through the two PRBA codebooks
//   hoc      (half rate) the higher-order coefficients through their codebooks (those above the
//            sixth of each block dropped, as the decoder does)
//   hoctrunc (half rate) only the dropping of the coefficients above the sixth of each block
//   memory   (half rate) the predictor remembers the unquantized previous frame rather than the
//            decoder's rebuild: with gain, prba and hoc this isolates what prediction adds to them
//   wire     the channel itself: Vocoder encode_pcm and decode_bits
//   bits     (half rate) the channel's encoder, the frames decoded here so that the decoder
//            experiments below apply; bits7200: the full-rate channel's 7200 bit/s frames
//            transcoded to 3600 bit/s, decoded here
// OPTIONS: pyin (encoder pitch tracker), search (half-rate quantizer search, wire only),
// baseline (half-rate synthesis without phase regeneration), noenh (post-filter off),
// standard (standard formant weighting), uv=F (the half-rate decoder's unvoiced level times F).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/frame.h"
#include "codecs/mbe_baseline/analysis/ambe_plus2_encode.h"
#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "enhancement.h"
#include "imbe_wire/dequantize.h"
#include "imbe_wire/priority.h"
#include "rate.h"
#include "transcoder.h"
#include "vocoder.h"
#include "vocoder_state.h"

namespace {

using namespace ostrel_mbe;
namespace analysis = codecs::mbe_baseline::analysis;
namespace mbe = codecs::mbe_baseline;
namespace hq = ambe_plus2_wire::dequantize;
namespace fq = imbe_wire::dequantize;

constexpr double SILENT_LOG2 = -1000.0;

struct Options {
    bool half = true;
    std::set<std::string> groups;
    bool pyin = false;
    bool search = false;
    bool baseline = false;
    bool noenh = false;
    bool standard = false;
    double unvoiced = 1.0;
    bool has(const char* g) const { return groups.contains(g); }
};

// The decoder's level of harmonic class `voiced` relative to the coded log2 value.
double class_scale(bool voiced, double omega0) { return voiced ? 1.0 : hq::UNVOICED_SCALE / std::sqrt(omega0); }

// The half-rate groups on one analysed frame; `state` is the budget's own predictor memory.
MbeParams half_rate_groups(const Options& o, const MbeParams& p, hq::DecoderState& state) {
    const double omega_a = p.omega0();
    const std::uint8_t l = p.harmonic_count();
    const std::uint16_t b0 = hq::pitch_index(omega_a);
    const float omega_out = o.has("pitch") ? ambe_plus2_wire::tables::PITCH[b0].omega0 : p.omega0();

    std::array<bool, L_HAT_MAX> voiced{};
    const std::uint16_t b1 = hq::encode_vuv(p.voiced(), omega_a);
    for (std::size_t i = 1; i <= l; ++i) {
        voiced[i - 1] = o.has("voicing") ? ambe_plus2_wire::tables::VUV_CODEBOOK[b1][hq::band_of(i, omega_out)]
                                         : p.voiced()[i - 1];
    }

    hq::Residuals lambda{};
    for (std::size_t i = 0; i < l; ++i) {
        const double m = p.amplitudes()[i];
        lambda[i] = m > 0.0 ? std::log2(m / class_scale(p.voiced()[i], omega_a)) : SILENT_LOG2;
    }
    hq::Residuals rebuilt = lambda;
    if (o.has("gain") || o.has("prba") || o.has("hoc") || o.has("hoctrunc") || o.has("memory")) {
        const hq::BlockLengths j = hq::block_lengths(l);
        const hq::ForwardPrediction f =
            hq::forward_log_prediction(lambda, l, state.previous_lambda, state.previous_l);
        const double half_previous = 0.5 * state.previous_gamma;
        const double gamma = o.has("gain")
                                 ? half_previous + static_cast<double>(
                                                       ambe_plus2_wire::tables::GAIN_LEVELS[hq::gain_index(f.gamma - half_previous)])
                                 : f.gamma;
        const hq::CoefficientMatrix c = hq::forward_block_dct(f.residuals, j);
        hq::CoefficientMatrix cq = c;
        if (o.has("prba")) {
            hq::Prba g = hq::forward_prba_dct(hq::prba_from_coefficients(c));
            const auto e24 = hq::nearest_entry<3>(ambe_plus2_wire::tables::PRBA24, {g[1], g[2], g[3]});
            const auto e58 = hq::nearest_entry<4>(ambe_plus2_wire::tables::PRBA58, {g[4], g[5], g[6], g[7]});
            for (std::size_t m = 0; m < 3; ++m) g[1 + m] = static_cast<double>(ambe_plus2_wire::tables::PRBA24[e24][m]);
            for (std::size_t m = 0; m < 4; ++m) g[4 + m] = static_cast<double>(ambe_plus2_wire::tables::PRBA58[e58][m]);
            const hq::Prba r = hq::inverse_prba_dct(g);
            for (std::size_t i = 0; i < hq::BLOCK_COUNT; ++i) {
                cq[i][0] = 0.5 * (r[2 * i] + r[2 * i + 1]);
                cq[i][1] = std::sqrt(2.0) / 4.0 * (r[2 * i] - r[2 * i + 1]);
            }
        }
        if (o.has("hoctrunc")) {
            for (std::size_t i = 0; i < hq::BLOCK_COUNT; ++i) {
                for (std::size_t k = 6; k < j[i]; ++k) cq[i][k] = 0.0;
            }
        }
        if (o.has("hoc")) {
            const hq::HocIndices hoc = hq::quantize_hoc_all(c, j);
            for (std::size_t i = 0; i < hq::BLOCK_COUNT; ++i) {
                const auto entry = hq::hoc_codebook(i)[hoc[i]];
                for (std::size_t k = 2; k < j[i]; ++k) cq[i][k] = k < 6 ? static_cast<double>(entry[k - 2]) : 0.0;
            }
        }
        rebuilt = hq::apply_log_prediction(hq::inverse_block_dct(cq, j), l, gamma, state.previous_lambda,
                                           state.previous_l);
        // The memory of the next frame: the decoder's rebuild, or the analysed values.
        const bool exact = o.has("memory");
        const hq::Residuals& kept = exact ? lambda : rebuilt;
        for (std::size_t i = 1; i <= l; ++i) state.previous_lambda[i] = kept[i - 1];
        for (std::size_t i = std::size_t{l} + 1; i < state.previous_lambda.size(); ++i) {
            state.previous_lambda[i] = kept[l - 1];
        }
        state.previous_l = l;
        state.previous_gamma = exact ? f.gamma : gamma;
    }

    std::array<float, L_HAT_MAX> amplitudes{};
    for (std::size_t i = 0; i < l; ++i) {
        if (rebuilt[i] <= SILENT_LOG2 / 2) continue;
        amplitudes[i] = static_cast<float>(std::exp2(rebuilt[i]) * class_scale(voiced[i], omega_out));
    }
    return MbeParams::from_valid(omega_out, std::span<const bool>(voiced.data(), l),
                                 std::span<const float>(amplitudes.data(), l));
}

// The full-rate groups: the channel's closed-loop quantizer runs on every frame, and each group
// takes the decoder's values or keeps the analysed ones.
MbeParams full_rate_groups(const Options& o, const MbeParams& p, fq::DecoderState& state) {
    const fq::DecoderState before = state;
    const auto b = fq::quantize(p, state);
    if (!b) return p;
    fq::DecoderState decoder = before;
    const auto q = fq::dequantize(imbe_wire::priority::prioritize(*b, p.harmonic_count()), decoder);
    if (!q || q->harmonic_count() != p.harmonic_count()) return p;
    const MbeParams& voiced_from = o.has("voicing") ? *q : p;
    const MbeParams& amps_from = o.has("amps") ? *q : p;
    return MbeParams::from_valid(o.has("pitch") ? q->omega0() : p.omega0(), voiced_from.voiced(),
                                 amps_from.amplitudes());
}

std::vector<std::int16_t> run_clip(const Options& o, const std::vector<std::int16_t>& pcm) {
    const Rate rate = o.half ? Rate::AmbePlus2_2450x2450 : Rate::Imbe4400x4400;
    Vocoder enc(rate);
    Vocoder dec(rate);
    enc.set_pyin_pitch(o.pyin);
    if (o.search) enc.set_quantizer_search(true);
    if (o.baseline) dec.set_ambe_plus2_synth(AmbePlus2Synth::Baseline);
    if (o.noenh) dec.set_enhancement(enhancement::EnhancementMode::None);
    if (o.standard) dec.set_formant_weighting(mbe::FormantWeighting::Standard);

    Vocoder full_enc(Rate::Imbe7200x4400);
    full_enc.set_pyin_pitch(o.pyin);
    auto bridge = Transcoder::create(Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450);
    std::vector<std::int16_t> out;
    hq::DecoderState half_state{};
    hq::DecoderState received{};
    fq::DecoderState full_state{};
    for (std::size_t start = 0; start + FRAME_SAMPLES <= pcm.size(); start += FRAME_SAMPLES) {
        const std::span<const std::int16_t> frame(pcm.data() + start, FRAME_SAMPLES);
        if (o.has("wire")) {
            const auto bits = enc.encode_pcm(frame);
            const auto decoded = dec.decode_bits(bits->span());
            out.insert(out.end(), decoded->begin(), decoded->end());
            continue;
        }
        Vocoder::State& e = enc.state();
        std::optional<MbeParams> analysed;
        std::optional<MbeParams> decoded;
        if (o.has("bits")) {
            const auto bits = enc.encode_pcm(frame);
            const auto span = bits->span();
            const auto u = wire_bytes_layout::unpack_info_half(span.first<7>());
            const hq::DecodedFrame f = hq::decode_to_params(u, received);
            if (f.params()) decoded = *f.params();
        } else if (o.has("bits7200")) {
            const auto full = full_enc.encode_pcm(frame);
            const auto half = bridge->transcode(full->span());
            const auto f = hq::decode_to_params(ambe_plus2_wire::frame::decode_frame_bytes(half->span().first<9>()).u,
                                                received);
            if (f.params()) decoded = *f.params();
        } else if (o.half) {
            auto r = analysis::encode_ambe_plus2(frame, e.analysis, analysis::PredictorCopy::Skip);
            if (r && r->has_value()) analysed = **r;
        } else {
            auto r = analysis::encode_with_trace(frame, e.analysis, analysis::PredictorCopy::Skip);
            if (r && r->params) analysed = *r->params;
        }
        const MbeParams p = analysed ? *analysed : (o.half ? MbeParams::ambe_plus2_silence() : MbeParams::imbe_silence());
        const MbeParams sent = decoded ? *decoded
                         : o.half ? half_rate_groups(o, p, half_state) : full_rate_groups(o, p, full_state);

        Vocoder::State& d = dec.state();
        auto samples = mbe::synthesize_frame_with_mode(sent, {}, o.half && !o.baseline, d.synth_settings, d.synth,
                                                       d.unvoiced_scale * o.unvoiced);
        const bool continuous = d.last_decode.disposition == mbe::FrameDisposition::Normal;
        enhancement::apply(d.enhancement_config, d.enhancement_state, samples, continuous, 8000.0f);
        d.last_decode.disposition = d.synth.last_disposition();
        out.insert(out.end(), samples.begin(), samples.end());
    }
    return out;
}

std::vector<std::int16_t> read_raw(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: loss_budget_driver imbe|ambe GROUPS [OPTION...] -- IN OUT [IN OUT ...]\n");
        return 2;
    }
    Options o;
    o.half = std::strcmp(argv[1], "ambe") == 0;
    std::string groups = argv[2];
    for (std::size_t pos = 0; pos <= groups.size();) {
        const std::size_t comma = std::min(groups.find(',', pos), groups.size());
        if (const std::string g = groups.substr(pos, comma - pos); g != "none" && !g.empty()) o.groups.insert(g);
        pos = comma + 1;
    }
    int i = 3;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string opt = argv[i];
        if (opt == "pyin") o.pyin = true;
        else if (opt == "search") o.search = true;
        else if (opt == "baseline") o.baseline = true;
        else if (opt == "noenh") o.noenh = true;
        else if (opt == "standard") o.standard = true;
        else if (opt.starts_with("uv=")) o.unvoiced = std::stod(opt.substr(3));

        else {
            std::fprintf(stderr, "unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    for (++i; i + 1 < argc; i += 2) {
        const auto out = run_clip(o, read_raw(argv[i]));
        std::ofstream(argv[i + 1], std::ios::binary)
            .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size() * 2));
    }
    return 0;
}
