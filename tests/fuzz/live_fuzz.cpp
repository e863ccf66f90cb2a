// SPDX-License-Identifier: GPL-2.0-or-later
// LiveEncoder and LiveDecoder with chunk boundaries taken from the input.
//
// Input: two settings bytes (fuzz_support.h; bit 7 of the second byte, otherwise the
// OSTREL_LCG choice, picks the encoder instead), eight chunk-length bytes used in turn, then the
// payload: wire bytes for the decoder, 16-bit little-endian samples for the encoder (at most
// MAX_ENCODE_FRAMES frames, analysis is slow).  Invariants: the results equal one Vocoder
// called frame by frame, in order; what stays pending is the remainder; the encoder's flush
// equals encoding the zero-padded remainder.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "live.h"

using namespace ostrel_mbe;

namespace {

constexpr std::size_t MAX_ENCODE_FRAMES = 12;

bool operator==(const WireFrame& a, const WireFrame& b) {
    return std::ranges::equal(a.span(), b.span());
}

template <class T>
bool same(const std::expected<T, VocoderError>& a, const std::expected<T, VocoderError>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (a) return *a == *b;
    return a.error().debug() == b.error().debug();
}

// A zero chunk length pushes nothing (which must complete nothing) and then one item.
template <class Live>
std::size_t chunk_length(Live& live, std::uint8_t length) {
    if (length != 0) return length;
    FUZZ_CHECK(live.push({}).empty());
    return 1;
}

void run_decoder(std::uint8_t a, std::uint8_t b, std::span<const std::uint8_t, 8> chunks,
                 std::span<const std::uint8_t> payload) {
    LiveDecoder live(fuzz::rate_of(a));
    fuzz::configure(live.channel(), a, b);
    Vocoder reference = live.channel();
    const std::size_t frame = wire_bytes(live.rate());
    std::size_t fed = 0;
    std::size_t checked = 0;  // bytes of whole frames compared so far
    for (std::size_t i = 0; fed < payload.size(); ++i) {
        const std::size_t n = std::min<std::size_t>(chunk_length(live, chunks[i % 8]), payload.size() - fed);
        const auto out = live.push(payload.subspan(fed, n));
        fed += n;
        FUZZ_CHECK(out.size() == (fed - checked) / frame);
        for (const auto& r : out) {
            FUZZ_CHECK(same(r, reference.decode_bits(payload.subspan(checked, frame))));
            checked += frame;
        }
        FUZZ_CHECK(live.pending_bytes() == fed - checked && live.pending_bytes() < frame);
    }
}

void run_encoder(std::uint8_t a, std::uint8_t b, std::span<const std::uint8_t, 8> chunks,
                 std::span<const std::uint8_t> payload) {
    LiveEncoder live(fuzz::rate_of(a));
    fuzz::configure(live.channel(), a, b & 0x7Fu);
    Vocoder reference = live.channel();
    std::vector<std::int16_t> pcm(std::min(payload.size() / 2, MAX_ENCODE_FRAMES * FRAME_SAMPLES));
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(payload[2 * i] | (payload[2 * i + 1] << 8));
    }
    const std::span<const std::int16_t> samples(pcm);
    std::size_t fed = 0;
    std::size_t checked = 0;
    for (std::size_t i = 0; fed < samples.size(); ++i) {
        const std::size_t n = std::min<std::size_t>(3u * chunk_length(live, chunks[i % 8]), samples.size() - fed);
        const auto out = live.push(samples.subspan(fed, n));
        fed += n;
        FUZZ_CHECK(out.size() == (fed - checked) / FRAME_SAMPLES);
        for (const auto& r : out) {
            FUZZ_CHECK(same(r, reference.encode_pcm(samples.subspan(checked, FRAME_SAMPLES))));
            checked += FRAME_SAMPLES;
        }
        FUZZ_CHECK(live.pending_samples() == fed - checked && live.pending_samples() < FRAME_SAMPLES);
    }
    const auto last = live.flush();
    FUZZ_CHECK(last.has_value() == (fed > checked));
    if (last) {
        std::array<std::int16_t, FRAME_SAMPLES> padded{};
        std::copy(samples.begin() + static_cast<std::ptrdiff_t>(checked), samples.end(), padded.begin());
        FUZZ_CHECK(same(*last, reference.encode_pcm(padded)));
        FUZZ_CHECK(live.pending_samples() == (last->has_value() ? 0 : FRAME_SAMPLES));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 10) return 0;
    const std::span<const std::uint8_t, 8> chunks(data + 2, 8);
    const std::span<const std::uint8_t> payload(data + 10, size - 10);
    if (data[1] & 0x80u) {
        run_encoder(data[0], data[1], chunks, payload);
    } else {
        run_decoder(data[0], data[1], chunks, payload);
    }
    return 0;
}
