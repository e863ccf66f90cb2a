// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/soft_frame.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "soft_fec.h"
#include "wire_common/soft_deinterleave.h"

namespace ostrel_mbe::ambe_plus2_wire::frame {

DecodedFrame decode_frame_soft(std::span<const float, SOFT_BITS> soft) {
    const auto c = wire_common::interleave::from_soft<4, 24>(soft, tables::INTERLEAVE);

    DecodedFrame out;
    const soft_fec::SoftDecoded d0 =
        soft_fec::golay_24_12_decode_soft(c.hard[0], std::span<const float, 24>(c.reliability[0]));
    out.u[0] = d0.data;
    // The mask follows from the soft-corrected u0.
    const soft_fec::SoftDecoded d1 = soft_fec::golay_23_12_decode_soft(
        c.hard[1] ^ modulation_masks(out.u[0])[1], std::span<const float, 23>(c.reliability[1].data(), 23));
    out.u[1] = d1.data;
    const bool bad_frame = d0.flips > 3 || d1.flips > 3;
    out.errors[0] = soft_fec::golay_24_12_count(d0, bad_frame);
    out.errors[1] = soft_fec::golay_23_12_count(d1, bad_frame);
    out.u[2] = static_cast<std::uint16_t>(c.hard[2] & 0x7FFu);
    out.u[3] = static_cast<std::uint16_t>(c.hard[3] & 0x3FFFu);
    return out;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::frame
