// SPDX-License-Identifier: GPL-2.0-or-later
// Vocoder::decode_soft at all four rates, with the decoder settings taken from the input.
//
// Input: two settings bytes (fuzz_support.h), a refusal mask byte, then frames of soft values,
// each a 32-bit little-endian float of any bit pattern (NaN and infinity included), wire_bytes
// * 8 of them per frame.  Before frame i, when bit i % 8 of the mask is set, one channel is also
// handed the frame one value short.  Invariants: a frame of finite values always decodes; one
// with a non-finite value is refused naming the first such value, and so is a short one; a
// refused call changes nothing, so the channel that saw the refusals stays sample for sample
// equal to one that saw only the frames it decoded; and the frame's signs at equal confidence
// decode exactly as decode_bits of the bits they slice to.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
    Vocoder signs = refused;
    Vocoder hard = refused;
    const std::uint8_t mask = data[2];
    const std::size_t bits = 8 * wire_bytes(rate);
    std::span<const std::uint8_t> rest(data + 3, size - 3);

    std::array<float, 8 * 18> soft{};
    std::array<float, 8 * 18> unit{};
    std::array<std::uint8_t, 18> sliced{};
    for (std::size_t i = 0; rest.size() >= 4 * bits; ++i, rest = rest.subspan(4 * bits)) {
        std::memcpy(soft.data(), rest.data(), 4 * bits);
        const std::span<const float> frame(soft.data(), bits);
        if (mask & (1u << (i % 8))) {
            const auto r = refused.decode_soft(frame.first(bits - 1));
            FUZZ_CHECK(!r.has_value());
            const auto* e = std::get_if<VocoderError::WrongSoftLength>(&r.error().value);
            FUZZ_CHECK(e != nullptr && e->expected == bits && e->got == bits - 1);
        }
        std::size_t first_bad = bits;
        for (std::size_t k = 0; k < bits && first_bad == bits; ++k) {
            if (!std::isfinite(frame[k])) first_bad = k;
        }
        const auto a = refused.decode_soft(frame);
        if (first_bad < bits) {
            FUZZ_CHECK(!a.has_value());
            const auto* e = std::get_if<VocoderError::NonFiniteSoft>(&a.error().value);
            FUZZ_CHECK(e != nullptr && e->index == first_bad);
            continue;
        }
        const auto b = clean.decode_soft(frame);
        FUZZ_CHECK(a.has_value() && b.has_value());
        FUZZ_CHECK(*a == *b);
        FUZZ_CHECK(refused.last_decode_report().disposition == clean.last_decode_report().disposition);

        // Positive means 1; zero, no idea, slices to 0 like any value that is not positive.
        sliced.fill(0);
        for (std::size_t k = 0; k < bits; ++k) {
            const bool one = frame[k] > 0.0f;
            unit[k] = one ? 1.0f : -1.0f;
            if (one) sliced[k / 8] = static_cast<std::uint8_t>(sliced[k / 8] | (0x80u >> (k % 8)));
        }
        const auto c = signs.decode_soft(std::span<const float>(unit.data(), bits));
        const auto d = hard.decode_bits(std::span<const std::uint8_t>(sliced.data(), bits / 8));
        FUZZ_CHECK(c.has_value() && d.has_value());
        FUZZ_CHECK(*c == *d);
        FUZZ_CHECK(signs.last_decode_report().disposition == hard.last_decode_report().disposition);
    }
    return 0;
}
