// SPDX-License-Identifier: GPL-2.0-or-later
#include "wire_common/decode_error.h"

namespace ostrel_mbe::wire_common {

std::string DecodeError::debug() const {
    switch (kind) {
        case DecodeErrorKind::BadPitch: return "BadPitch";
        case DecodeErrorKind::InvalidParams: return "InvalidParams(" + std::string(debug_name(params_error)) + ")";
    }
    return "?";
}

}  // namespace ostrel_mbe::wire_common
