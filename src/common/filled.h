// SPDX-License-Identifier: GPL-2.0-or-later
// An array with every entry set to one value, for the reset values of state structs.
#pragma once

#include <array>
#include <cstddef>

namespace ostrel_mbe::common {

template <class T, std::size_t N>
constexpr std::array<T, N> filled(T value) {
    std::array<T, N> a{};
    a.fill(value);
    return a;
}

}  // namespace ostrel_mbe::common
