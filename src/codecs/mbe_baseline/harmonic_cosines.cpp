// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/harmonic_cosines.h"

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

// Open addressing over the fundamental's bits.  Room for the pitch tables of both rates (208 and
// 120 fundamentals); a fundamental that finds no room within PROBES slots is simply not kept.
constexpr std::size_t SLOTS = 512;
constexpr std::size_t PROBES = 8;

enum : std::uint32_t { FREE = 0, FILLING = 1, READY = 2 };

// key and values are written only by the thread that moved state from FREE to FILLING, before
// its release store of READY; they are read only after an acquire load of READY.
struct Row {
    std::atomic<std::uint32_t> state{FREE};
    std::uint32_t key = 0;
    std::array<double, L_HAT_MAX> values{};
};

constinit std::array<Row, SLOTS> rows{};

}  // namespace

const std::array<double, L_HAT_MAX>* harmonic_cosines(float omega0) {
    const auto key = std::bit_cast<std::uint32_t>(omega0);
    static_assert(SLOTS == 512);
    const std::size_t home = (key * 0x9E3779B1u) >> 23;  // the top 9 bits
    for (std::size_t probe = 0; probe < PROBES; ++probe) {
        Row& row = rows[(home + probe) % SLOTS];
        std::uint32_t state = row.state.load(std::memory_order_acquire);
        if (state == READY) {
            if (row.key == key) return &row.values;
            continue;
        }
        if (state == FILLING || !row.state.compare_exchange_strong(state, FILLING, std::memory_order_acq_rel)) {
            return nullptr;
        }
        row.key = key;
        const double w0 = omega0;
        for (std::size_t l = 1; l <= L_HAT_MAX; ++l) row.values[l - 1] = std::cos(w0 * static_cast<double>(l));
        row.state.store(READY, std::memory_order_release);
        return &row.values;
    }
    return nullptr;
}

}  // namespace ostrel_mbe::codecs::mbe_baseline
