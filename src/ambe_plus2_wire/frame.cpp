// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/frame.h"

#include "ambe_plus2_wire/generated_tables.h"
#include "common/interleave.h"
#include "fec.h"
#include "imbe_wire/fec.h"
#include "rate.h"

namespace ostrel_mbe::ambe_plus2_wire::frame {

namespace codes = ::ostrel_mbe::fec;

static_assert(SYMBOLS == wire_bytes_layout::AMBE_PLUS2_SYMBOLS);
static_assert(tables::INTERLEAVE.size() == SYMBOLS);

std::array<std::uint32_t, 4> modulation_masks(std::uint16_t u0) {
    // The half-rate mask is the full-rate generator cut to its first 23 values, which is
    // exactly the full-rate m1.
    return {0, imbe_wire::fec::modulation_masks(u0)[1], 0, 0};
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
    return common::interleave::to_symbols(c, tables::INTERLEAVE);
}

DecodedFrame decode_frame(std::span<const std::uint8_t, SYMBOLS> symbols) {
    std::array<std::uint32_t, 4> c = common::interleave::from_symbols<4>(symbols, tables::INTERLEAVE);

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

std::array<std::uint8_t, WIRE_BYTES> encode_frame_bytes(const std::array<std::uint16_t, 4>& u) {
    const std::array<std::uint8_t, SYMBOLS> symbols = encode_frame(u);
    std::array<std::uint8_t, WIRE_BYTES> bytes{};
    wire_bytes_layout::pack_symbols(symbols, bytes);
    return bytes;
}

DecodedFrame decode_frame_bytes(std::span<const std::uint8_t, WIRE_BYTES> bytes) {
    std::array<std::uint8_t, SYMBOLS> symbols{};
    wire_bytes_layout::unpack_symbols(bytes, symbols);
    return decode_frame(symbols);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::frame
