// SPDX-License-Identifier: GPL-2.0-or-later
#include "rate.h"

#include "common/check.h"

namespace ostrel_mbe {

std::string_view debug_name(Rate rate) {
    switch (rate) {
        case Rate::Imbe7200x4400: return "Imbe7200x4400";
        case Rate::Imbe4400x4400: return "Imbe4400x4400";
        case Rate::AmbePlus2_3600x2450: return "AmbePlus2_3600x2450";
        case Rate::AmbePlus2_2450x2450: return "AmbePlus2_2450x2450";
    }
    return "?";
}

namespace wire_bytes_layout {
namespace {

// Concatenates fields most significant bit first into bytes; the widths sum to at most
// 8 * bytes.size(), trailing bits stay zero.
template <std::size_t Fields, std::size_t Bytes>
std::array<std::uint8_t, Bytes> pack_fields(const std::array<std::uint16_t, Fields>& values,
                                            const std::array<unsigned, Fields>& widths) {
    std::array<std::uint8_t, Bytes> out{};
    std::size_t pos = 0;
    for (std::size_t f = 0; f < Fields; ++f) {
        for (unsigned b = widths[f]; b-- > 0;) {
            if ((values[f] >> b) & 1u) out[pos / 8] |= static_cast<std::uint8_t>(0x80u >> (pos % 8));
            ++pos;
        }
    }
    return out;
}

template <std::size_t Fields, std::size_t Bytes>
std::array<std::uint16_t, Fields> unpack_fields(std::span<const std::uint8_t, Bytes> bytes,
                                                const std::array<unsigned, Fields>& widths) {
    std::array<std::uint16_t, Fields> out{};
    std::size_t pos = 0;
    for (std::size_t f = 0; f < Fields; ++f) {
        unsigned v = 0;
        for (unsigned b = 0; b < widths[f]; ++b, ++pos) v = (v << 1) | ((bytes[pos / 8] >> (7 - pos % 8)) & 1u);
        out[f] = static_cast<std::uint16_t>(v);
    }
    return out;
}

constexpr std::array<unsigned, 8> FULL_WIDTHS = {12, 12, 12, 12, 11, 11, 11, 7};
constexpr std::array<unsigned, 4> HALF_WIDTHS = {12, 12, 11, 14};

}  // namespace

void pack_symbols(std::span<const std::uint8_t> symbols, std::span<std::uint8_t> bytes) {
    OSTREL_CHECK(bytes.size() * 4 == symbols.size(), "four symbols per byte");
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = 0;
    for (std::size_t k = 0; k < symbols.size(); ++k) {
        bytes[k / 4] |= static_cast<std::uint8_t>((symbols[k] & 3u) << (6 - 2 * (k % 4)));
    }
}

void unpack_symbols(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> symbols) {
    OSTREL_CHECK(bytes.size() * 4 == symbols.size(), "four symbols per byte");
    for (std::size_t k = 0; k < symbols.size(); ++k) {
        symbols[k] = static_cast<std::uint8_t>((bytes[k / 4] >> (6 - 2 * (k % 4))) & 3u);
    }
}

std::array<std::uint8_t, 11> pack_info_full(const std::array<std::uint16_t, 8>& u) {
    return pack_fields<8, 11>(u, FULL_WIDTHS);
}

std::array<std::uint16_t, 8> unpack_info_full(std::span<const std::uint8_t, 11> bytes) {
    return unpack_fields<8, 11>(bytes, FULL_WIDTHS);
}

std::array<std::uint8_t, 7> pack_info_half(const std::array<std::uint16_t, 4>& u) {
    return pack_fields<4, 7>(u, HALF_WIDTHS);
}

std::array<std::uint16_t, 4> unpack_info_half(std::span<const std::uint8_t, 7> bytes) {
    return unpack_fields<4, 7>(bytes, HALF_WIDTHS);
}

}  // namespace wire_bytes_layout
}  // namespace ostrel_mbe
