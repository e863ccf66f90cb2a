// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/frame.h"

#include "../fec.h"        // the Golay and Hamming codes
#include "imbe_wire/fec.h"  // the scrambler
#include "imbe_wire/imbe_tables.h"
#include "rate.h"
#include "wire_common/frame_bytes.h"
#include "wire_common/interleave.h"

namespace ostrel_mbe::imbe_wire::frame {

namespace codes = ::ostrel_mbe::fec;

static_assert(SYMBOLS == wire_bytes_layout::IMBE_SYMBOLS);
static_assert(tables::INTERLEAVE.size() == SYMBOLS);

std::array<std::uint32_t, 8> code_vectors(const std::array<std::uint16_t, 8>& u) {
    const std::array<std::uint32_t, 8> m = fec::modulation_masks(u[0]);
    std::array<std::uint32_t, 8> c{};
    for (std::size_t v = 0; v < 4; ++v) c[v] = codes::golay_23_12_encode(u[v] & 0xFFFu) ^ m[v];
    for (std::size_t v = 4; v < 7; ++v) c[v] = codes::hamming_15_11_encode(u[v] & 0x7FFu) ^ m[v];
    c[7] = u[7] & 0x7Fu;
    return c;
}

std::array<std::uint8_t, SYMBOLS> encode_frame(const std::array<std::uint16_t, 8>& u) {
    const std::array<std::uint32_t, 8> c = code_vectors(u);
    return wire_common::interleave::to_symbols(c, tables::INTERLEAVE);
}

namespace {

constexpr auto WIRE_GATHER = wire_common::interleave::nibble_gather<WIRE_BYTES>(
    wire_common::interleave::wire_bits_of<8>(tables::INTERLEAVE), CODE_WIDTHS);

DecodedFrame decode_code_vectors(const std::array<std::uint32_t, 8>& c) {
    DecodedFrame out;
    const codes::Decoded d0 = codes::golay_23_12_decode(c[0]);
    out.u[0] = d0.data;
    out.errors[0] = d0.errors;
    // The masks follow from the corrected u0, so errors in c0 do not spread to c1..c6.
    const std::array<std::uint32_t, 8> m = fec::modulation_masks(out.u[0]);
    for (std::size_t v = 1; v < 4; ++v) {
        const codes::Decoded d = codes::golay_23_12_decode(c[v] ^ m[v]);
        out.u[v] = d.data;
        out.errors[v] = d.errors;
    }
    for (std::size_t v = 4; v < 7; ++v) {
        const codes::Decoded d = codes::hamming_15_11_decode(static_cast<std::uint16_t>(c[v] ^ m[v]));
        out.u[v] = d.data;
        out.errors[v] = d.errors;
    }
    out.u[7] = static_cast<std::uint16_t>(c[7] & 0x7Fu);
    return out;
}

}  // namespace

DecodedFrame decode_frame(std::span<const std::uint8_t, SYMBOLS> symbols) {
    return decode_code_vectors(wire_common::interleave::from_symbols<8>(symbols, tables::INTERLEAVE));
}

std::array<std::uint8_t, WIRE_BYTES> encode_frame_bytes(const std::array<std::uint16_t, 8>& u) {
    return wire_common::interleave::to_bytes(code_vectors(u), tables::INTERLEAVE);
}

DecodedFrame decode_frame_bytes(std::span<const std::uint8_t, WIRE_BYTES> bytes) {
    return decode_code_vectors(wire_common::interleave::from_bytes(bytes, WIRE_GATHER));
}

}  // namespace ostrel_mbe::imbe_wire::frame
