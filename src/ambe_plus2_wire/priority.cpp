// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/priority.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "wire_common/priority.h"

namespace ostrel_mbe::ambe_plus2_wire::priority {

namespace {
// The half rate's bit order is one fixed map: both directions go half a byte at a time.
constexpr auto GATHER = wire_common::priority::nibble_gather<4, 9>(tables::PRIORITY);
constexpr auto SCATTER = wire_common::priority::nibble_scatter<9, 4>(tables::PRIORITY);
}  // namespace

std::array<std::uint16_t, 4> prioritize(const std::array<std::uint16_t, 9>& b) {
    return wire_common::priority::prioritize(b, GATHER);
}

std::array<std::uint16_t, 9> deprioritize(const std::array<std::uint16_t, 4>& u) {
    return wire_common::priority::deprioritize(u, SCATTER);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::priority
