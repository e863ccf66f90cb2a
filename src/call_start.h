// SPDX-License-Identifier: GPL-2.0-or-later
// A cautious start of a call: what a receiver hands the decoder before its sync settles is
// garbage, and a fresh channel's smoothed error rate of 0 would play it for about a second.
// Until two frames in a row are heard after construction or reset, the channel holds the
// smoothed error rate just under concealment's mute threshold, so that a frame with more than a
// few corrected errors is muted at once while a clean frame is heard; a frame heard after a
// muted one fades in.  Two, because about one random half-rate frame in 7000 carries two
// corrected errors or fewer: such a stray frame is heard alone, and the next is muted again.
#pragma once

#include <cstdint>
#include <span>

namespace ostrel_mbe::call_start {

// Frames with at most this many corrected errors (concealment's count) are heard during the
// cautious start: random frames carry about 7 (half rate) or 14 (full rate).
inline constexpr unsigned HALF_RATE_ERRORS_HEARD = 2;
inline constexpr unsigned FULL_RATE_ERRORS_HEARD = 6;

// Frames heard in a row that start the call.
inline constexpr unsigned FRAMES_TO_START = 2;

// The smoothed error rate the channel holds before each frame until the call has started.
double cautious_error_rate(bool half_rate);

// The smoothed error rate once the call has started: the rate a steady stream of
// frames like it would settle at (so a clean start does not carry the cautious rate into the
// call), at most the cautious rate.
double settled_error_rate(bool half_rate, std::uint8_t total_errors);

// Raised-cosine fade over the samples given (one frame, 20 ms), in place.
void fade_in(std::span<std::int16_t> pcm);

}  // namespace ostrel_mbe::call_start
