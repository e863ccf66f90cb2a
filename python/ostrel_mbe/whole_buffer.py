# SPDX-License-Identifier: GPL-2.0-or-later
"""Whole recordings and whole frame files in one call.

`encode`, `decode` and `transcode` take everything at once, the way `soundfile.read` or
`soxr.resample` do, and run every frame with the interpreter lock released, writing straight
into the result.  Settings are keyword arguments named after the channel's setters
(`tone_detection=True` calls `set_tone_detection(True)`), so every setter works here as soon as
the channel has it.
"""

from __future__ import annotations

import functools
from collections import deque
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from _ostrel_mbe import Rate, Transcoder, Vocoder

from . import wav

# The command line's names of the rates.
RATES: Dict[str, Rate] = {
    "imbe7200": Rate.IMBE_7200X4400,
    "imbe4400": Rate.IMBE_4400X4400,
    "ambe3600": Rate.AMBEPLUS2_3600X2450,
    "ambe2450": Rate.AMBEPLUS2_2450X2450,
}

RateLike = Union[Rate, str]


def rate_of(rate: RateLike) -> Rate:
    """A `Rate` member, or the command line's name of one ("imbe7200")."""
    if isinstance(rate, Rate):
        return rate
    if isinstance(rate, str):
        try:
            return RATES[rate]
        except KeyError:
            raise ValueError(f"unknown rate {rate!r}; expected one of {', '.join(RATES)}") from None
    raise TypeError(f"rate: expected a Rate or a rate name, got {type(rate).__name__!r}")


def apply_settings(target: Any, function: str, settings: Dict[str, Any]) -> None:
    """Calls target.set_<name>(value) for every keyword; one without a setter is a TypeError."""
    for name, value in settings.items():
        setter = getattr(target, "set_" + name, None)
        if not callable(setter):
            raise TypeError(f"{function}() got an unexpected keyword argument {name!r}")
        setter(value)


def pcm_8k(pcm: Any, sample_rate: int = wav.SAMPLE_RATE) -> np.ndarray:
    """1-D int16 or float (-1..1) samples at `sample_rate` as 8 kHz int16, resampled with soxr
    at the quality audio files are read with; 8 kHz int16 comes back as it is."""
    x = np.asarray(pcm)
    if x.ndim != 1 or not (x.dtype == np.int16 or x.dtype.kind == "f"):
        raise TypeError(f"pcm: expected a 1-D array of int16 or float samples, got a {x.ndim}-D array of {x.dtype}")
    if isinstance(sample_rate, bool) or not isinstance(sample_rate, (int, np.integer)) or sample_rate <= 0:
        raise ValueError(f"sample_rate must be a positive integer, got {sample_rate!r}")
    if x.dtype == np.int16:
        if sample_rate == wav.SAMPLE_RATE:
            return np.ascontiguousarray(x)
        x = x / 32768.0
    if sample_rate != wav.SAMPLE_RATE:
        x = wav.resample(x, int(sample_rate), wav.SAMPLE_RATE)
    return wav.to_int16(x)


def encode(pcm: Any, rate: RateLike, *, sample_rate: int = wav.SAMPLE_RATE, **settings: Any) -> bytes:
    """Encodes a whole recording to wire frames, concatenated.

    `pcm` is 1-D int16 or float (-1..1) audio at `sample_rate` samples/s, resampled to 8 kHz
    as the command line does.  The last partial frame is padded with zeros and three frames of
    silence follow, as the command line encodes them: they carry the codec's delay (the
    encoder's two frames of look-ahead and half a frame of synthesis), so the decoded frames
    hold the whole recording.  A frame that fails raises ValueError naming its index."""
    vocoder = Vocoder(rate_of(rate))
    apply_settings(vocoder, "encode", settings)
    samples = pcm_8k(pcm, sample_rate)
    if samples.size == 0:
        return b""
    return vocoder.encode_frames(samples, True)


def lost_flags(lost: Any) -> Optional[np.ndarray]:
    """`lost` as one bool per frame (None stays None), for the channel's whole-buffer calls."""
    if lost is None:
        return None
    flags = np.asarray(lost)
    if flags.ndim != 1 or not (flags.dtype == np.bool_ or flags.dtype.kind in "iu" or flags.size == 0):
        raise TypeError(f"lost: expected a 1-D array of bools, one per frame, got a {flags.ndim}-D array of {flags.dtype}")
    return np.ascontiguousarray(flags != 0)


def decode(frames: Any, rate: RateLike, *, lost: Any = None, **settings: Any) -> np.ndarray:
    """Decodes whole wire frames (bytes, bytearray, memoryview) to one int16 array at 8 kHz; a
    partial frame at the end raises ValueError naming the bytes left over.  `lost`, one bool per
    frame, marks frames that never arrived (a receiver that lost sync): their bytes are ignored
    and they are concealed as `Vocoder.decode_lost` does."""
    vocoder = Vocoder(rate_of(rate))
    apply_settings(vocoder, "decode", settings)
    return vocoder.decode_frames(frames, lost_flags(lost))


def decode_soft(values: Any, rate: RateLike, *, lost: Any = None, **settings: Any) -> np.ndarray:
    """Decodes whole frames given as soft values (`Vocoder.decode_soft`: one float32 or int8 per
    wire bit, positive meaning 1) to one int16 array at 8 kHz; a partial frame at the end raises
    ValueError naming the values left over.  `lost` as for `decode`."""
    vocoder = Vocoder(rate_of(rate))
    apply_settings(vocoder, "decode_soft", settings)
    return vocoder.decode_soft_frames(values, lost_flags(lost))


@functools.lru_cache(maxsize=None)
def route(source: Rate, target: Rate) -> Tuple[Tuple[Rate, Rate], ...]:
    """The fewest transcoder steps from `source` to `target` (none for equal rates)."""
    steps: Dict[Rate, Optional[Rate]] = {source: None}
    queue = deque([source])
    while queue:
        rate = queue.popleft()
        if rate == target:
            break
        for nxt in RATES.values():
            if nxt in steps:
                continue
            try:
                Transcoder(rate, nxt)
            except ValueError:
                continue
            steps[nxt] = rate
            queue.append(nxt)
    if target not in steps:
        raise ValueError(f"no chain of transcoder directions from {source.name} to {target.name}")
    path: List[Tuple[Rate, Rate]] = []
    rate = target
    while steps[rate] is not None:
        path.append((steps[rate], rate))  # type: ignore[arg-type]
        rate = steps[rate]  # type: ignore[assignment]
    return tuple(reversed(path))


def transcode(frames: Any, from_rate: RateLike, to_rate: RateLike, *, lost: Any = None, **settings: Any) -> bytes:
    """Transcodes whole wire frames of one rate to another, through as many transcoder steps
    as the pair needs (imbe4400 to ambe2450 goes through imbe7200 and ambe3600); equal rates
    give the frames back.  Settings go to every step's transcoder.  `lost`, one bool per frame,
    marks source frames that never arrived: the first step writes the destination's frame for a
    lost one (`Transcoder.transcode_lost`), so it needs two different rates."""
    source, target = rate_of(from_rate), rate_of(to_rate)
    data = frames
    flags = lost_flags(lost)
    steps = route(source, target)
    if not steps and flags is not None:
        raise ValueError("lost: frames of equal rates are given back as they are, so none can be marked lost")
    if not steps:
        size = Vocoder(source).fec_frame_bytes
        data = bytes(memoryview(frames))
        if len(data) % size:
            raise ValueError(f"{len(data) % size} bytes left over after {len(data) // size} whole {size}-byte frames")
        return data
    for a, b in steps:
        transcoder = Transcoder(a, b)
        apply_settings(transcoder, "transcode", settings)
        data = transcoder.transcode_frames(data, flags)
        flags = None
    return data
