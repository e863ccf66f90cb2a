// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/frame.h"

#include "../fec.h"  // the Golay codes
#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "rate.h"
#include "wire_common/frame_bytes.h"
#include "wire_common/interleave.h"
#include "wire_common/scrambler.h"

namespace ostrel_mbe::ambe_plus2_wire::frame {

namespace codes = ::ostrel_mbe::fec;

static_assert(SYMBOLS == wire_bytes_layout::AMBE_PLUS2_SYMBOLS);
static_assert(tables::INTERLEAVE.size() == SYMBOLS);

std::array<std::uint32_t, 4> modulation_masks(std::uint16_t u0) {
    // The first 23 values of the sequence, the full rate's m1.
    return {0, wire_common::Scrambler(u0).next_mask(CODE_WIDTHS[1]), 0, 0};
}

std::array<std::uint32_t, 4> code_vectors(const std::array<std::uint16_t, 4>& u) {
    const std::array<std::uint32_t, 4> m = modulation_masks(u[0]);
    return {codes::golay_24_12_encode(u[0] & 0xFFFu),
            codes::golay_23_12_encode(u[1] & 0xFFFu) ^ m[1],
            u[2] & 0x7FFu,
            u[3] & 0x3FFFu};
}

std::array<std::uint8_t, SYMBOLS> encode_frame(const std::array<std::uint16_t, 4>& u) {
    const std::array<std::uint32_t, 4> c = code_vectors(u);
    return wire_common::interleave::to_symbols(c, tables::INTERLEAVE);
}

namespace {

constexpr auto WIRE_GATHER = wire_common::interleave::nibble_gather<WIRE_BYTES>(
    wire_common::interleave::wire_bits_of<4>(tables::INTERLEAVE), CODE_WIDTHS);

DecodedFrame decode_code_vectors(const std::array<std::uint32_t, 4>& c) {
    DecodedFrame out;
    const codes::Decoded d0 = codes::golay_24_12_decode(c[0]);
    out.u[0] = d0.data;
    out.errors[0] = d0.errors;
    // The mask follows from the corrected u0.
    const codes::Decoded d1 = codes::golay_23_12_decode(c[1] ^ modulation_masks(out.u[0])[1]);
    out.u[1] = d1.data;
    out.errors[1] = d1.errors;
    out.u[2] = static_cast<std::uint16_t>(c[2] & 0x7FFu);
    out.u[3] = static_cast<std::uint16_t>(c[3] & 0x3FFFu);
    return out;
}

}  // namespace

DecodedFrame decode_frame(std::span<const std::uint8_t, SYMBOLS> symbols) {
    return decode_code_vectors(wire_common::interleave::from_symbols<4>(symbols, tables::INTERLEAVE));
}

std::array<std::uint8_t, WIRE_BYTES> encode_frame_bytes(const std::array<std::uint16_t, 4>& u) {
    return wire_common::interleave::to_bytes(code_vectors(u), tables::INTERLEAVE);
}

DecodedFrame decode_frame_bytes(std::span<const std::uint8_t, WIRE_BYTES> bytes) {
    return decode_code_vectors(wire_common::interleave::from_bytes(bytes, WIRE_GATHER));
}

}  // namespace ostrel_mbe::ambe_plus2_wire::frame
