// SPDX-License-Identifier: GPL-2.0-or-later
// Room inside a public class for its private state, held by value: the class stays one
// fixed-size value with no heap member, and its header needs none of the library's private
// headers.  The state type is named only where it is complete (the library's sources), and
// there a static_assert checks that it fits.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace ostrel_mbe {

template <std::size_t Size, std::size_t Align = alignof(std::max_align_t)>
class InlineStorage {
public:
    InlineStorage() = default;
    InlineStorage(const InlineStorage&) = delete;
    InlineStorage& operator=(const InlineStorage&) = delete;

    // Constructs a T in the storage; the storage must be empty.
    template <class T, class... Args>
    T& emplace(Args&&... args) {
        static_assert(sizeof(T) <= Size, "the private state outgrew its room: raise the storage size in the public header");
        static_assert(alignof(T) <= Align, "the private state needs a stricter alignment than its room");
        return *::new (static_cast<void*>(bytes_)) T(std::forward<Args>(args)...);
    }

    // The T that emplace constructed.
    template <class T>
    T& get() noexcept {
        return *std::launder(reinterpret_cast<T*>(bytes_));
    }
    template <class T>
    const T& get() const noexcept {
        return *std::launder(reinterpret_cast<const T*>(bytes_));
    }

    // Ends the T's lifetime; the storage is empty again.
    template <class T>
    void destroy() noexcept {
        get<T>().~T();
    }

private:
    alignas(Align) std::byte bytes_[Size];
};

}  // namespace ostrel_mbe
