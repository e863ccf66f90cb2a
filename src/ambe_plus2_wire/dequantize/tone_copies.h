// SPDX-License-Identifier: GPL-2.0-or-later
// A half-rate tone frame read by every copy of its tone index: u1 (Golay-protected) carries the
// index and its top nibble again, u2 and u3 (unprotected) carry it twice more, so each index bit
// has four copies.  The index is the filled tone-table entry whose copies lie nearest to the
// received bits, the Golay-protected copy deciding between equally near ones; a frame whose
// copies fit no entry well enough, or two entries alike, cannot be read.
#pragma once

#include <cstdint>

#include "ambe_plus2_wire/dequantize/tone.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

struct ToneVerdict {
    enum class Kind : std::uint8_t {
        NotTone,         // no tone-frame mark: the frame is read as usual
        Tone,            // code holds the decided index and the amplitude
        Irreconcilable,  // a tone frame whose copies cannot be reconciled
    };
    Kind kind = Kind::NotTone;
    ToneCode code{};
};

// The most distant copies a decided tone may show, counting the errors the Golay decoder
// corrected in u1 as distance too (random bits that pass the mark carry about three).  Without
// FEC nothing vouches for u1, so the bound is tighter.
inline constexpr unsigned TONE_COPY_DISTANCE_FEC = 5;
inline constexpr unsigned TONE_COPY_DISTANCE_BARE = 2;

// u1_errors: the errors the Golay decoder corrected in u1 (0 without FEC).  A frame is a tone
// frame by the same mark as read_tone_frame; the amplitude is read as there.
ToneVerdict read_tone_frame_by_copies(const InfoVectors& u, unsigned u1_errors, bool with_fec);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
