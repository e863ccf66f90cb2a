// SPDX-License-Identifier: GPL-2.0-or-later
#include "thread_bound.h"

#include <atomic>

namespace ostrel_mbe::python {

std::uint64_t current_thread_token() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t token = next.fetch_add(1, std::memory_order_relaxed);
    return token;
}

}  // namespace ostrel_mbe::python
