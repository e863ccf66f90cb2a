// SPDX-License-Identifier: GPL-2.0-or-later
// Half-rate quantizer index search by reconstruction: rather than the nearest entry of each
// codebook in its own domain, keep the few nearest gain levels, PRBA entries and higher-order
// entries (TIA-102.BABA Annexes O-R) and the voicing entries (Annex M) that disagree least with
// the analysed voicing, rebuild the log2 amplitudes that a decoder holding the channel's
// prediction state produces from each combination, and send the combination with the least
// level-weighted squared log2 error against the analysed amplitudes, a wrongly voiced harmonic
// counting as a large error.  The pitch index is the plain quantizer's.  Any decoder reads the
// result: only the choice of indices changes.
#pragma once

#include <expected>

#include "ambe_plus2_wire/dequantize.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

// quantize_closed_loop with the indices chosen as above: on success the state holds exactly
// what a decoder of the returned vectors holds.  Errors as quantize's, the state then unchanged.
std::expected<InfoVectors, DecodeError> quantize_by_reconstruction(const MbeParams& params, DecoderState& state);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
