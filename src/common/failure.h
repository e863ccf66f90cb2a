// SPDX-License-Identifier: GPL-2.0-or-later
// A failed std::expected with its error built in place.
#pragma once

#include <expected>
#include <utility>

namespace ostrel_mbe::common {

// std::expected<T, E> holding the error E constructed from `args` (for an error type that is a
// variant, one alternative).  Returning std::unexpected(E{...}) instead moves a finished E, and
// for a variant with a std::string alternative GCC 12 at -O2 under the sanitizers then sees a
// move of that string on paths where another alternative is live (-Wmaybe-uninitialized).
template <class T, class E, class... Args>
std::expected<T, E> failure(Args&&... args) {
    return std::expected<T, E>(std::unexpect, std::forward<Args>(args)...);
}

}  // namespace ostrel_mbe::common
