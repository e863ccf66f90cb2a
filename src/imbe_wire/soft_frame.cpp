// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/soft_frame.h"

#include "imbe_wire/fec.h"
#include "imbe_wire/imbe_tables.h"
#include "soft_fec.h"
#include "wire_common/soft_deinterleave.h"

namespace ostrel_mbe::imbe_wire::frame {

DecodedFrame decode_frame_soft(std::span<const float, SOFT_BITS> soft) {
    const auto c = wire_common::interleave::from_soft<8, 23>(soft, tables::INTERLEAVE);

    DecodedFrame out;
    std::array<soft_fec::SoftDecoded, 7> words{};
    const auto golay = [&](std::size_t v, std::uint32_t word) {
        words[v] = soft_fec::golay_23_12_decode_soft(word, std::span<const float, 23>(c.reliability[v].data(), 23));
        out.u[v] = words[v].data;
    };
    golay(0, c.hard[0]);
    // The masks follow from the soft-corrected u0; scrambling flips sliced bits, not reliabilities.
    const std::array<std::uint32_t, 8> m = fec::modulation_masks(out.u[0]);
    for (std::size_t v = 1; v < 4; ++v) golay(v, c.hard[v] ^ m[v]);
    for (std::size_t v = 4; v < 7; ++v) {
        words[v] = soft_fec::hamming_15_11_decode_soft(static_cast<std::uint16_t>(c.hard[v] ^ m[v]),
                                                       std::span<const float, 15>(c.reliability[v].data(), 15));
        out.u[v] = words[v].data;
    }
    out.u[7] = static_cast<std::uint16_t>(c.hard[7] & 0x7Fu);

    bool bad_frame = false;
    for (std::size_t v = 0; v < 4; ++v) bad_frame |= words[v].flips > 3;
    for (std::size_t v = 0; v < 4; ++v) out.errors[v] = soft_fec::golay_23_12_count(words[v], bad_frame);
    for (std::size_t v = 4; v < 7; ++v) out.errors[v] = soft_fec::hamming_15_11_count(words[v], bad_frame);
    return out;
}

}  // namespace ostrel_mbe::imbe_wire::frame
