// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/priority.h"

#include "common/check.h"
#include "imbe_wire/generated_tables.h"

namespace ostrel_mbe::imbe_wire::priority {
namespace {

const std::array<tables::PriorityEntry, 88>& row_for(std::uint8_t l) {
    OSTREL_CHECK(l >= L_MIN && l <= L_HAT_MAX, "prioritisation row exists for L = 9..56");
    return tables::PRIORITY[l - L_MIN];
}

}  // namespace

InfoVectors prioritize(const BValues& b, std::uint8_t l) {
    InfoVectors u{};
    for (const auto& e : row_for(l)) {
        const unsigned bit = (static_cast<unsigned>(b[e.value]) >> e.value_bit) & 1u;
        u[e.vector] = static_cast<std::uint16_t>(u[e.vector] | (bit << e.vector_bit));
    }
    return u;
}

BValues deprioritize(const InfoVectors& u, std::uint8_t l) {
    BValues b{};
    for (const auto& e : row_for(l)) {
        const unsigned bit = (static_cast<unsigned>(u[e.vector]) >> e.vector_bit) & 1u;
        b[e.value] = static_cast<std::uint16_t>(b[e.value] | (bit << e.value_bit));
    }
    return b;
}

std::uint8_t pitch_index(const InfoVectors& u) {
    const unsigned high = (static_cast<unsigned>(u[0]) >> 6) & 0x3Fu;
    const unsigned low = (static_cast<unsigned>(u[7]) >> 1) & 0x3u;
    return static_cast<std::uint8_t>((high << 2) | low);
}

}  // namespace ostrel_mbe::imbe_wire::priority
