// SPDX-License-Identifier: GPL-2.0-or-later
// The soft-decision and lost-frame methods of Vocoder, LiveDecoder and Transcoder, and the
// soft-value argument they share: a 1-D numpy array of float32, or int8 as many demodulators
// emit, anything else a ValueError.
#pragma once

#include <Python.h>

#include <vector>

namespace ostrel_mbe {
class Vocoder;
class LiveDecoder;
class Transcoder;
}  // namespace ostrel_mbe

namespace ostrel_mbe::python {

// The values as float32, copied (the array stays writable while the lock is released).
std::vector<float> soft_argument(PyObject* obj, const char* argument);

// The method bodies over the object's core, for the class files' method tables.
PyObject* vocoder_decode_soft(Vocoder& channel, PyObject* args, PyObject* kwargs);
PyObject* vocoder_decode_lost(Vocoder& channel);
PyObject* vocoder_set_lost_frame_repeats(Vocoder& channel, PyObject* args, PyObject* kwargs);
PyObject* decoder_push_soft(LiveDecoder& decoder, PyObject* args, PyObject* kwargs);
PyObject* decoder_push_lost(LiveDecoder& decoder, PyObject* args, PyObject* kwargs);
PyObject* transcoder_transcode_soft(Transcoder& transcoder, PyObject* args, PyObject* kwargs);
PyObject* transcoder_transcode_lost(Transcoder& transcoder);

inline constexpr const char* DECODE_SOFT_DOC =
    "decode_soft($self, soft)\n--\n\n"
    "Decode one frame from soft decisions. `soft` is a 1-D `np.float32`\n"
    "(or `np.int8`) array of `fec_frame_bytes * 8` values, one per bit of\n"
    "the wire frame in the order of [`decode_bits`]' bytes (byte 0 first,\n"
    "most significant bit first). The sign is the decision, positive\n"
    "meaning 1; the magnitude is the confidence on any scale, 0 meaning no\n"
    "idea. Negate log-likelihood ratios whose positive means 0 first.\n"
    "Returns 160 samples and updates the state and report as\n"
    "[`decode_bits`] does; equal magnitudes decode exactly like\n"
    "[`decode_bits`] of the signs. A wrong length, dtype or shape, or a\n"
    "non-finite value raises `ValueError` and changes nothing.";
inline constexpr const char* DECODE_LOST_DOC =
    "decode_lost($self)\n--\n\n"
    "160 samples for a frame that never arrived: the last frame repeated\n"
    "for up to [`lost_frame_repeats`] lost frames in a row, then comfort\n"
    "noise until a frame is decoded. The report's `kind` is `\"lost\"`.";
inline constexpr const char* PUSH_SOFT_DOC =
    "push_soft($self, values)\n--\n\n"
    "Push soft values (see [`Vocoder.decode_soft`]), any number; less\n"
    "than a frame stays pending, apart from pending bytes. Returns a list\n"
    "of `np.int16` arrays, one per completed frame.";
inline constexpr const char* PUSH_LOST_DOC =
    "push_lost($self, count=1)\n--\n\n"
    "Conceal `count` lost frames (see [`Vocoder.decode_lost`]); returns\n"
    "one `np.int16` array per frame. Pending input is dropped.";
inline constexpr const char* TRANSCODE_SOFT_DOC =
    "transcode_soft($self, soft)\n--\n\n"
    "Transcode one source frame given as soft values (see\n"
    "[`Vocoder.decode_soft`]).";
inline constexpr const char* TRANSCODE_LOST_DOC =
    "transcode_lost($self)\n--\n\n"
    "The destination's frame for a source frame that never arrived: the\n"
    "half rate's erasure frame, or at the full rate a frame receivers drop.";

}  // namespace ostrel_mbe::python
