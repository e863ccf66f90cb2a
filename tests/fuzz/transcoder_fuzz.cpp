// SPDX-License-Identifier: GPL-2.0-or-later
// Transcoder in all six directions.
//
// Input: a direction byte, then frames of the source rate.  Invariants: every frame of the
// right length gives a frame of the destination's length (or, across codecs only, a quantizer
// error); a wrong length is refused; for the four same-codec directions no-FEC -> FEC -> no-FEC
// is the identity on any frame (the 7 pad bits of the 2450 bit/s frame read as zeros), and
// FEC -> no-FEC always succeeds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "fuzz_support.h"
#include "transcoder.h"

using namespace ostrel_mbe;

namespace {

using ostrel_mbe::TRANSCODE_DIRECTIONS;

Transcoder make(Rate from, Rate to) {
    auto t = Transcoder::create(from, to);
    FUZZ_CHECK(t.has_value());
    return std::move(*t);
}

// no-FEC -> FEC -> no-FEC of the codec of `bare` (a no-FEC rate) on the first bytes of `bits`.
void check_identity(Rate bare, Rate fec, std::span<const std::uint8_t> bits) {
    const std::size_t n = wire_bytes(bare);
    if (bits.size() < n) return;
    const auto in = bits.first(n);
    auto up = make(bare, fec).transcode(in);
    FUZZ_CHECK(up.has_value() && up->length == wire_bytes(fec));
    auto down = make(fec, bare).transcode(up->span());
    FUZZ_CHECK(down.has_value() && down->length == n);
    for (std::size_t i = 0; i < n; ++i) {
        // Byte 6 of a 2450 bit/s frame carries one bit; its 7 pad bits are written as zeros.
        const std::uint8_t keep = (bare == Rate::AmbePlus2_2450x2450 && i == 6) ? 0x80 : 0xFF;
        FUZZ_CHECK(down->bytes[i] == (in[i] & keep));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const ostrel_mbe::TranscodeDirection d = TRANSCODE_DIRECTIONS[data[0] % TRANSCODE_DIRECTIONS.size()];
    const bool same_codec = is_imbe(d.from) == is_imbe(d.to);
    Transcoder t = make(d.from, d.to);
    const std::size_t frame = wire_bytes(d.from);
    std::span<const std::uint8_t> rest(data + 1, size - 1);

    for (; !rest.empty(); rest = rest.subspan(std::min(frame, rest.size()))) {
        if (rest.size() < frame) {
            const auto r = t.transcode(rest);
            FUZZ_CHECK(!r.has_value());
            const auto* e = std::get_if<VocoderError::WrongBitsLength>(&r.error().value);
            FUZZ_CHECK(e != nullptr && e->expected == frame && e->got == rest.size());
            break;
        }
        const auto bits = rest.first(frame);
        const auto out = t.transcode(bits);
        if (out) {
            FUZZ_CHECK(out->length == wire_bytes(d.to));
        } else {
            FUZZ_CHECK(!same_codec && std::holds_alternative<VocoderError::Quantize>(out.error().value));
        }
        if (is_imbe(d.from) && is_imbe(d.to)) check_identity(Rate::Imbe4400x4400, Rate::Imbe7200x4400, bits);
        if (!is_imbe(d.from) && !is_imbe(d.to)) check_identity(Rate::AmbePlus2_2450x2450, Rate::AmbePlus2_3600x2450, bits);
    }
    return 0;
}
