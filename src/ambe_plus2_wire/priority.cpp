// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/priority.h"

#include "ambe_plus2_wire/generated_tables.h"

namespace ostrel_mbe::ambe_plus2_wire::priority {

std::array<std::uint16_t, 4> prioritize(const std::array<std::uint16_t, 9>& b) {
    std::array<std::uint16_t, 4> u{};
    for (const auto& e : tables::PRIORITY) {
        const unsigned bit = (b[e.value] >> e.value_bit) & 1u;
        u[e.vector] = static_cast<std::uint16_t>(u[e.vector] | (bit << e.vector_bit));
    }
    return u;
}

std::array<std::uint16_t, 9> deprioritize(const std::array<std::uint16_t, 4>& u) {
    std::array<std::uint16_t, 9> b{};
    for (const auto& e : tables::PRIORITY) {
        const unsigned bit = (u[e.vector] >> e.vector_bit) & 1u;
        b[e.value] = static_cast<std::uint16_t>(b[e.value] | (bit << e.value_bit));
    }
    return b;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::priority
