// SPDX-License-Identifier: GPL-2.0-or-later
#include "imbe_wire/dequantize/dct_cos.h"

#include <cmath>
#include <numbers>

#include "common/check.h"

namespace ostrel_mbe::imbe_wire::dequantize {
namespace {

// cos(k pi (j + 0.5) / n) evaluated in 32-bit arithmetic, so that every platform builds the
// same table the quantizer's 32-bit transforms were designed around.
float cosine(std::size_t k, std::size_t j, std::size_t n) {
    const float angle = static_cast<float>(k) * std::numbers::pi_v<float> * (static_cast<float>(j) + 0.5f) /
                        static_cast<float>(n);
    return std::cos(angle);
}

using AllTables = std::array<dct_cos::Table, dct_cos::MAX_LENGTH + 1>;

// Function-local statics give the thread-safe one-time initialisation.
const AllTables& all_tables() {
    static const AllTables tables = [] {
        AllTables t{};
        for (std::size_t n = 1; n <= dct_cos::MAX_LENGTH; ++n) {
            for (std::size_t k = 0; k < n; ++k) {
                for (std::size_t j = 0; j < n; ++j) t[n][k][j] = cosine(k, j, n);
            }
        }
        return t;
    }();
    return tables;
}

const dct6_cos::Table& table6() {
    static const dct6_cos::Table table = [] {
        dct6_cos::Table t{};
        for (std::size_t k = 0; k < 6; ++k) {
            for (std::size_t i = 0; i < 6; ++i) t[k][i] = cosine(k, i, 6);
        }
        return t;
    }();
    return table;
}

}  // namespace

const dct_cos::Table& dct_cos::LazyTables::operator[](std::size_t n) const {
    OSTREL_CHECK(n <= MAX_LENGTH, "block DCT length is at most 10");
    return all_tables()[n];
}

const std::array<float, 6>& dct6_cos::LazyTable::operator[](std::size_t k) const {
    OSTREL_CHECK(k < 6, "six-point DCT row index below 6");
    return table6()[k];
}

const dct6_cos::Table& dct6_cos::LazyTable::get() const { return table6(); }

}  // namespace ostrel_mbe::imbe_wire::dequantize
