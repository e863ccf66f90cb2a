// SPDX-License-Identifier: GPL-2.0-or-later
// Soft-decision decoding of the frames' block codes: the Golay (23,12) and extended (24,12)
// words by Chase decoding around the hard decision (the hard decoder run on the received word
// with its least reliable bits flipped in every combination, the candidate closest in
// reliability-weighted distance kept), the Hamming (15,11) words exactly, by a Viterbi search
// over the code's 16-state syndrome trellis.  Inputs are the sliced word (bit j of a right-aligned
// word) and the reliability of each bit position (|soft value|, any scale, 0 = no idea).
// Equal reliabilities decode exactly as the hard decoders of fec.h.
#pragma once

#include <cstdint>
#include <span>

#include "fec.h"

namespace ostrel_mbe::soft_fec {

// A soft-decided word: its data and the number of positions where the chosen code word differs
// from the sliced bits (not capped).  `counted` is the chosen word's reliability-weighted distance
// from the sliced bits in units of the word's average bit, rounded: a doubtful bit that turns out
// wrong counts for little, and with equal reliabilities it is the flip count.  `confident` is false when
// the distance is beyond the hard decoder's reach and the flipped bits were not markedly less
// reliable than the word's average: a choice too close to call.
struct SoftDecoded {
    std::uint16_t data = 0;
    std::uint8_t flips = 0;
    std::uint8_t counted = 0;
    bool confident = true;
};

SoftDecoded golay_23_12_decode_soft(std::uint32_t hard, std::span<const float, 23> reliability);
// The half rate's first word: bits 23..1 the Golay word, bit 0 its parity.
SoftDecoded golay_24_12_decode_soft(std::uint32_t hard, std::span<const float, 24> reliability);
SoftDecoded hamming_15_11_decode_soft(std::uint16_t hard, std::span<const float, 15> reliability);

// Error counts in the hard decoders' ranges, so that concealment keeps its tuning.  Within the
// hard decoder's reach (3 flips per Golay word, 1 per Hamming word) the counted distance, so that
// doubtful bits that turn out wrong do not set off concealment; beyond it the most the hard
// decoder reports.  In a bad frame (one with a Golay word beyond reach) every word counts its
// flips as the hard decoder would, so that a channel that bad is still repeated and muted.  The
// extended word reports fec::GOLAY_24_12_UNCORRECTABLE where its hard decoder would (four or more
// flips) unless the soft choice was confident.
std::uint8_t golay_23_12_count(const SoftDecoded& decoded, bool bad_frame);
std::uint8_t golay_24_12_count(const SoftDecoded& decoded, bool bad_frame);
std::uint8_t hamming_15_11_count(const SoftDecoded& decoded, bool bad_frame);

}  // namespace ostrel_mbe::soft_fec
