// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dct_cos.h"

#include "common/check.h"

#include <cmath>
#include <numbers>

namespace ostrel_mbe::ambe_plus2_wire::dequantize::dct_cos {
namespace {

using AllTables = std::array<Table, MAX_N + 1>;

AllTables build() {
    AllTables all{};
    for (std::size_t n = 0; n <= MAX_N; ++n) {
        all[n].n = n;
        for (std::size_t k = 0; k < n; ++k) {
            for (std::size_t j = 0; j < n; ++j) {
                const double angle = static_cast<double>(k) * std::numbers::pi * (static_cast<double>(j) + 0.5) /
                                     static_cast<double>(n);
                all[n].values[k * MAX_N + j] = std::cos(angle);
            }
        }
    }
    return all;
}

}  // namespace

const Table& LazyTables::operator[](std::size_t n) const {
    // A function-local static is initialised exactly once, thread-safely.
    static const AllTables all = build();
    OSTREL_CHECK(n <= MAX_N, "block length fits the cosine tables");
    return all[n];
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize::dct_cos
