// The post-decoder enhancement mode, a channel setting: None passes the decoded PCM through,
// Classical runs the high-pass and peaking-EQ chain with its fade-in.
#pragma once

#include <cstdint>

namespace ostrel_mbe::enhancement {

enum class EnhancementMode : std::uint8_t { None, Classical };

}  // namespace ostrel_mbe::enhancement
