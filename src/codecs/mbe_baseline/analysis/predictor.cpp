// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/analysis/predictor.h"

#include "common/check.h"
#include "imbe_wire/dequantize.h"

namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor {

AmplitudeSlice PredictorState::m_tilde_prev_slice() const {
    OSTREL_CHECK(count <= L_HAT_MAX, "encoder-side predictor count stays within L_HAT_MAX");
    AmplitudeSlice out;
    out.count = count;
    for (std::size_t l = 1; l <= count; ++l) out.values[l - 1] = static_cast<float>(amplitudes[l]);
    return out;
}

std::expected<void, AnalysisError> update_imbe_predictor(PredictorState& state, const MbeParams& params) {
    namespace dq = imbe_wire::dequantize;
    const AmplitudeSlice previous = state.m_tilde_prev_slice();
    const dq::DecoderState seeded = dq::DecoderState::from_amplitudes(previous.slice(), state.count);
    dq::DecoderState working = seeded;
    const auto b = dq::quantize(params, working);
    if (!b) return std::unexpected(AnalysisError::PitchOutOfRange);

    const std::uint8_t l_hat = params.harmonic_count();
    OSTREL_CHECK(l_hat <= L_HAT_MAX, "encoder-side predictor count stays within L_HAT_MAX");
    const std::array<float, L_HAT_MAX> reconstructed = dq::reconstruct_amplitudes_from_bits(*b, l_hat, seeded);
    state.amplitudes[0] = 1.0;
    for (std::size_t l = 1; l <= l_hat; ++l) state.amplitudes[l] = static_cast<double>(reconstructed[l - 1]);
    state.count = l_hat;
    return {};
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis::predictor
