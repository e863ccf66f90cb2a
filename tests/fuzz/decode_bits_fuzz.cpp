// SPDX-License-Identifier: GPL-2.0-or-later
// Vocoder::decode_bits at all four rates, with the decoder settings taken from the input.
//
// Input: two settings bytes (fuzz_support.h), a refusal mask byte, then wire frames of the
// rate.  Before frame i, when bit i % 8 of the mask is set, one channel is also handed a
// frame of a wrong length.  Invariants: a frame of the right length always decodes; a wrong
// length is refused with its expected and actual length; a refused call changes nothing, so
// the channel that saw the refusals stays sample for sample equal to one that did not.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "fuzz_support.h"

using namespace ostrel_mbe;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const Rate rate = fuzz::rate_of(data[0]);
    Vocoder refused(rate);
    fuzz::configure(refused, data[0], data[1]);
    Vocoder clean = refused;
    const std::uint8_t mask = data[2];
    const std::size_t frame = wire_bytes(rate);
    std::span<const std::uint8_t> rest(data + 3, size - 3);

    std::array<std::uint8_t, 64> junk{};
    for (std::size_t i = 0; rest.size() >= frame; ++i, rest = rest.subspan(frame)) {
        const std::span<const std::uint8_t> bits = rest.first(frame);
        if (mask & (1u << (i % 8))) {
            // Any other length, the other rates' frame lengths and the empty slice included.
            std::size_t wrong = bits[0] % 24;
            if (wrong == frame) wrong = 0;
            std::copy_n(bits.begin(), std::min(frame, junk.size()), junk.begin());
            const auto r = refused.decode_bits(std::span<const std::uint8_t>(junk.data(), wrong));
            FUZZ_CHECK(!r.has_value());
            const auto* e = std::get_if<VocoderError::WrongBitsLength>(&r.error().value);
            FUZZ_CHECK(e != nullptr && e->expected == frame && e->got == wrong);
        }
        const auto a = refused.decode_bits(bits);
        const auto b = clean.decode_bits(bits);
        FUZZ_CHECK(a.has_value() && b.has_value());
        FUZZ_CHECK(*a == *b);
        FUZZ_CHECK(refused.last_decode_report().disposition == clean.last_decode_report().disposition);
    }
    return 0;
}
