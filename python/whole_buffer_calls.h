// SPDX-License-Identifier: GPL-2.0-or-later
// The whole-buffer methods: Vocoder.encode_frames and decode_frames, Transcoder.transcode_frames,
// and the concatenating LiveEncoder.push_concat and LiveDecoder.push_concat.  Each converts its
// arguments (copying the input once unless it is an immutable `bytes`), allocates its result
// whole, and runs every frame with the interpreter lock released, writing straight into the
// result.  A failing frame raises ValueError naming the frame's index in the call.
#pragma once

#include <Python.h>

#include "ostrel_mbe/live.h"
#include "ostrel_mbe/transcoder.h"
#include "ostrel_mbe/vocoder.h"

namespace ostrel_mbe::python {

PyObject* vocoder_encode_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs);
PyObject* vocoder_decode_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs);
PyObject* vocoder_decode_soft_frames_call(Vocoder& channel, PyObject* args, PyObject* kwargs);
PyObject* transcoder_transcode_frames_call(Transcoder& transcoder, PyObject* args, PyObject* kwargs);
PyObject* encoder_push_concat_call(LiveEncoder& encoder, PyObject* args, PyObject* kwargs);
PyObject* decoder_push_concat_call(LiveDecoder& decoder, PyObject* args, PyObject* kwargs);

inline constexpr const char* ENCODE_FRAMES_DOC =
    "encode_frames($self, pcm, flush=False)\n--\n\n"
    "Encode PCM of any length to the frames' on-wire bytes, concatenated.\n"
    "`pcm` is a 1-D `np.int16` array; a partial last frame is padded with\n"
    "zeros. With `flush=True` three frames of silence follow, which carry\n"
    "the codec's delay (the encoder's two frames of look-ahead and half a\n"
    "frame of synthesis), so that the decoded frames hold the whole input.";
inline constexpr const char* DECODE_FRAMES_DOC =
    "decode_frames($self, bits, lost=None)\n--\n\n"
    "Decode whole on-wire frames (a bytes-like object of a multiple of\n"
    "[`fec_frame_bytes`] bytes) to one `np.int16` array. `lost`, one byte\n"
    "or bool per frame, marks frames that never arrived: their bytes are\n"
    "ignored and they are concealed as [`decode_lost`] does.";
inline constexpr const char* DECODE_SOFT_FRAMES_DOC =
    "decode_soft_frames($self, soft, lost=None)\n--\n\n"
    "Decode whole frames given as soft values (see [`decode_soft`]), one\n"
    "1-D array of `fec_frame_bytes * 8` values per frame, to one\n"
    "`np.int16` array; `lost` as for [`decode_frames`].";
inline constexpr const char* TRANSCODE_FRAMES_DOC =
    "transcode_frames($self, bits, lost=None)\n--\n\n"
    "Transcode whole frames of the source rate (a bytes-like object) to\n"
    "the destination rate's frames, concatenated. `lost`, one byte or bool\n"
    "per frame, marks frames that never arrived (see [`transcode_lost`]).";
inline constexpr const char* ENCODER_PUSH_CONCAT_DOC =
    "push_concat($self, pcm)\n--\n\n"
    "Push PCM. Returns the wire bytes of the frames it completes,\n"
    "concatenated (empty when none).";
inline constexpr const char* DECODER_PUSH_CONCAT_DOC =
    "push_concat($self, bits)\n--\n\n"
    "Push wire bytes (a bytes-like object). Returns the samples of the\n"
    "frames it completes as one `np.int16` array.";

}  // namespace ostrel_mbe::python
