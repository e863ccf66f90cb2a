// SPDX-License-Identifier: GPL-2.0-or-later
// Counting global allocator for one benchmark binary: include from exactly one translation
// unit.  It replaces operator new and delete so that the heap allocations of a code path can be
// counted.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace ostrel_mbe::bench {
inline std::atomic<long> g_allocation_count{0};
inline long allocations() { return g_allocation_count.load(std::memory_order_relaxed); }
}  // namespace ostrel_mbe::bench

void* operator new(std::size_t size) {
    ostrel_mbe::bench::g_allocation_count.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
