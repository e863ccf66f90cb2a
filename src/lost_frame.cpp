// SPDX-License-Identifier: GPL-2.0-or-later
// Vocoder::decode_lost: concealment of a frame that never arrived.  The decoder's own rules
// cannot serve (a repeat without errors never mutes, and its error-rate rule mutes at once), so
// the channel counts lost frames itself: the last synthesized frame is repeated for up to
// lost_frame_repeats frames in a row, then the output is comfort noise as the decoder mutes it.
// The dequantizer's predictor is left as the last received frame set it.
#include <limits>

#include "channel_decode.h"
#include "vocoder.h"

namespace ostrel_mbe {

namespace mbe = codecs::mbe_baseline;

std::uint32_t Vocoder::lost_frame_repeats() const { return state().lost_frame_repeats; }
void Vocoder::set_lost_frame_repeats(std::uint32_t n) { state().lost_frame_repeats = n; }

PcmFrame Vocoder::decode_lost() {
    State& s = state();
    if (s.lost_run < std::numeric_limits<std::uint32_t>::max()) ++s.lost_run;
    // Nothing to repeat before the first synthesized frame.
    const bool repeat = s.synth.saved_params.has_value() && s.lost_run <= s.lost_frame_repeats;
    mbe::FrameErrorCounts errors{};
    errors.erasure = repeat ? mbe::ERASURE_REPEAT : mbe::ERASURE_MUTE;
    // The frame synthesis repeats is its saved one; the reset frame only stands in before it.
    const MbeParams& params = s.synth.saved_params ? *s.synth.saved_params : mbe::reset_frame();
    const bool ambe_plus = !is_imbe(s.rate) && s.ambe_plus2_synth == AmbePlus2Synth::AmbePlus;
    const double unvoiced_scale = is_imbe(s.rate) ? mbe::UNVOICED_SCALE_STANDARD : s.unvoiced_scale;
    const MbeParams frame = params;  // synthesis overwrites the saved record it may point at
    PcmFrame pcm = mbe::synthesize_frame_with_mode(frame, errors, ambe_plus, s.synth_settings, s.synth, unvoiced_scale);

    // The gain holds through lost frames, and a lost frame breaks a cautious start's run.
    channel_decode::output_chain(s, pcm, false);
    if (s.cautious_start && s.heard_run < call_start::FRAMES_TO_START) s.heard_run = 0;
    DecodeReport report;
    report.kind = FrameKind::Lost;
    report.disposition = s.synth.last_disposition();
    s.last_decode = report;
    return pcm;
}

}  // namespace ostrel_mbe
