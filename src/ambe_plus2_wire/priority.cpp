// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/priority.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "wire_common/priority.h"

namespace ostrel_mbe::ambe_plus2_wire::priority {

std::array<std::uint16_t, 4> prioritize(const std::array<std::uint16_t, 9>& b) {
    return wire_common::priority::prioritize<4>(b, tables::PRIORITY);
}

std::array<std::uint16_t, 9> deprioritize(const std::array<std::uint16_t, 4>& u) {
    return wire_common::priority::deprioritize<9>(u, tables::PRIORITY);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::priority
