// SPDX-License-Identifier: GPL-2.0-or-later
// The frame decoders of both wire formats, the no-FEC byte layouts, and MbeParams built from
// arbitrary floats (NaN, infinities, denormals) and handed on to the stages that take any
// valid record: both quantizers and synthesis.
//
// Input: read several ways at once.  Its first 72 (IMBE) and 36 (AMBE+2) bytes are symbols,
// high bits included; its first 11 and 7 bytes no-FEC frames; from byte 0 on, a float
// fundamental, a harmonic count byte, a voicing byte and float amplitudes (little-endian,
// zeros past the end).  Invariants: decoded vectors fit their widths, error counts their
// ranges, only the low two bits of a symbol matter, a frame decoded without corrections
// re-encodes to its own symbols, and re-encoding the decoded vectors decodes cleanly; the
// no-FEC layouts round-trip; MbeParams::create accepts exactly the valid records and the
// first broken rule names the error.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <span>

#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/frame.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "fuzz_support.h"
#include "imbe_wire/dequantize.h"
#include "imbe_wire/frame.h"
#include "mbe_params.h"

using namespace ostrel_mbe;

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> prefix(std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, N> out{};
    std::memcpy(out.data(), data.data(), std::min(N, data.size()));
    return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> low_bits(std::array<std::uint8_t, N> symbols) {
    for (auto& s : symbols) s &= 3u;
    return symbols;
}

template <class Decoded, std::size_t N>
void check_widths(const Decoded& d, const std::array<unsigned, N>& widths) {
    for (std::size_t i = 0; i < N; ++i) FUZZ_CHECK(d.u[i] < (1u << widths[i]));
}

void imbe_frame(std::span<const std::uint8_t> data) {
    namespace frame = imbe_wire::frame;
    const auto symbols = prefix<frame::SYMBOLS>(data);
    const auto d = frame::decode_frame(symbols);
    FUZZ_CHECK(d == frame::decode_frame(low_bits(symbols)));
    check_widths(d, frame::INFO_WIDTHS);
    for (std::size_t i = 0; i < 4; ++i) FUZZ_CHECK(d.errors[i] <= 3);
    for (std::size_t i = 4; i < 7; ++i) FUZZ_CHECK(d.errors[i] <= 1);
    FUZZ_CHECK(d.errors[7] == 0);
    const auto again = frame::encode_frame(d.u);
    if (d.errors == decltype(d.errors){}) FUZZ_CHECK(again == low_bits(symbols));
    FUZZ_CHECK(frame::decode_frame(again) == (frame::DecodedFrame{d.u, {}}));
}

void ambe_frame(std::span<const std::uint8_t> data) {
    namespace frame = ambe_plus2_wire::frame;
    const auto symbols = prefix<frame::SYMBOLS>(data);
    const auto d = frame::decode_frame(symbols);
    FUZZ_CHECK(d == frame::decode_frame(low_bits(symbols)));
    check_widths(d, frame::INFO_WIDTHS);
    FUZZ_CHECK(d.errors[0] <= 4 || d.errors[0] == 255);
    FUZZ_CHECK(d.errors[1] <= 3 && d.errors[2] == 0 && d.errors[3] == 0);
    const auto again = frame::encode_frame(d.u);
    if (d.errors == decltype(d.errors){}) FUZZ_CHECK(again == low_bits(symbols));
    FUZZ_CHECK(frame::decode_frame(again) == (frame::DecodedFrame{d.u, {}}));
}

void bare_layouts(std::span<const std::uint8_t> data) {
    namespace layout = wire_bytes_layout;
    const auto full = prefix<11>(data);
    FUZZ_CHECK(layout::pack_info_full(layout::unpack_info_full(full)) == full);
    auto half = prefix<7>(data);
    const auto packed = layout::pack_info_half(layout::unpack_info_half(half));
    half[6] &= 0x80u;  // the 7 pad bits are written as zeros and never read
    FUZZ_CHECK(packed == half);
}

float float_at(std::span<const std::uint8_t> data, std::size_t at) {
    const auto bytes = prefix<4>(data.subspan(std::min(at, data.size())));
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void params(std::span<const std::uint8_t> data) {
    const float omega0 = float_at(data, 0);
    const std::size_t count = data.size() > 4 ? data[4] % 64 : 0;
    const std::uint8_t voicing = data.size() > 5 ? data[5] : 0;
    std::array<bool, 64> voiced{};
    std::array<float, 64> amplitudes{};
    for (std::size_t l = 0; l < count; ++l) {
        voiced[l] = (voicing >> (l % 8)) & 1u;
        amplitudes[l] = float_at(data, 6 + 4 * l);
    }
    const auto p = MbeParams::create(omega0, std::span<const bool>(voiced.data(), count),
                                     std::span<const float>(amplitudes.data(), count));

    // The rules in order; the first one broken is the error.
    std::optional<MbeParamsError> expected;
    if (!(omega0 > 0.0f && omega0 < std::numbers::pi_v<float>)) {
        expected = MbeParamsError::OmegaOutOfRange;
    } else if (count < L_MIN || count > L_HAT_MAX) {
        expected = MbeParamsError::HarmonicCountOutOfRange;
    } else {
        for (std::size_t l = 0; l < count && !expected; ++l) {
            if (!std::isfinite(amplitudes[l]) || amplitudes[l] < 0.0f) {
                expected = MbeParamsError::InvalidAmplitude;
            }
        }
    }
    FUZZ_CHECK(p.has_value() == !expected);
    if (!p) {
        FUZZ_CHECK(p.error() == *expected);
        return;
    }
    FUZZ_CHECK(p->harmonic_count() == count && p->omega0() == omega0);
    for (std::size_t l = 0; l < L_HAT_MAX; ++l) {
        FUZZ_CHECK(p->voiced_array()[l] == (l < count && voiced[l]));
        const float a = p->amplitude_array()[l];
        FUZZ_CHECK(l < count ? std::memcmp(&a, &amplitudes[l], sizeof a) == 0 : a == 0.0f && !std::signbit(a));
    }

    // Any valid record goes through both quantizers and synthesis without undefined behaviour.
    imbe_wire::dequantize::DecoderState imbe{};
    (void)imbe_wire::dequantize::quantize(*p, imbe);
    ambe_plus2_wire::dequantize::DecoderState ambe{};
    (void)ambe_plus2_wire::dequantize::quantize(*p, ambe);
    namespace mbe = codecs::mbe_baseline;
    for (const bool ambe_plus : {false, true}) {
        mbe::SynthState state = mbe::SynthState::with_lcg(mbe::LCG_DEFAULT);
        (void)mbe::synthesize_frame_with_mode(*p, {}, ambe_plus, {}, state, 146.643269);
        (void)mbe::synthesize_frame_with_mode(*p, {}, ambe_plus, {}, state, 146.643269);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    imbe_frame(input);
    ambe_frame(input);
    bare_layouts(input);
    params(input);
    return 0;
}
