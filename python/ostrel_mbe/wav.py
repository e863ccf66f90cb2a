# SPDX-License-Identifier: GPL-2.0-or-later
"""WAV files and frames around the codec.

Reads any PCM WAV file (8-, 16-, 24- or 32-bit integer, 32- or 64-bit float, any channel count,
mixed down to mono), resamples to the codec's 8000 samples/s with a polyphase windowed-sinc
filter, writes 16-bit mono WAV files, and cuts int16 audio into 160-sample frames and back.
Only the standard library and numpy are used.
"""

from __future__ import annotations

import math
import os
import struct
import wave
from dataclasses import dataclass
from fractions import Fraction
from typing import Iterable, Tuple, Union

import numpy as np

SAMPLE_RATE = 8000
FRAME_SAMPLES = 160

# Sample rates read: below 4 kHz a file holds no usable speech band, and far above the highest
# studio rate a header is damaged.  Without the bounds a header claiming 1 Hz would make the
# resampler build a signal 8000 times the file's length.
MIN_READ_RATE = 4000
MAX_READ_RATE = 768000
# Rates whose ratio to SAMPLE_RATE only reduces to larger terms (44101 Hz: 8000/44101) are read
# as the nearest ratio with terms up to this (every common rate reduces to 441 or less), so the
# resampler's filter stays small; the speed error of such a file is below 0.01 %.
MAX_RATIO_TERM = 1000
# Output samples the resampler computes at once (bounds its working memory to a few MB).
_RESAMPLE_BLOCK = 1 << 16

PathLike = Union[str, "os.PathLike[str]"]

_FORMAT_PCM = 0x0001
_FORMAT_IEEE_FLOAT = 0x0003
_FORMAT_EXTENSIBLE = 0xFFFE
# Sub-format GUIDs of WAVE_FORMAT_EXTENSIBLE share this tail after the 16-bit format code.
_GUID_TAIL = b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"


class WavError(ValueError):
    """The file is not a WAV file this module can read."""


@dataclass(frozen=True)
class WavInfo:
    sample_rate: int
    channels: int
    bits: int
    is_float: bool


def _chunks(data: bytes):
    """Yields (chunk id, payload) of a RIFF/WAVE byte string."""
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise WavError("not a RIFF/WAVE file")
    pos = 12
    while pos + 8 <= len(data):
        chunk_id = data[pos:pos + 4]
        (size,) = struct.unpack_from("<I", data, pos + 4)
        start = pos + 8
        # A truncated last chunk (common for files cut off while recording) keeps what exists.
        payload = data[start:min(start + size, len(data))]
        yield chunk_id, payload
        pos = start + size + (size & 1)  # chunks are padded to even length


def _parse_fmt(fmt: bytes) -> WavInfo:
    if len(fmt) < 16:
        raise WavError("fmt chunk too short")
    tag, channels, rate, _byte_rate, block_align, bits = struct.unpack_from("<HHIIHH", fmt, 0)
    if tag == _FORMAT_EXTENSIBLE:
        if len(fmt) < 40:
            raise WavError("extensible fmt chunk too short")
        # Samples sit left-justified in containers of `bits`, so the valid-bit count at offset
        # 18 does not change how they are read.
        guid = fmt[24:40]
        if guid[2:] != _GUID_TAIL:
            raise WavError("unsupported WAVE_FORMAT_EXTENSIBLE sub-format")
        tag = struct.unpack_from("<H", guid, 0)[0]
    if tag not in (_FORMAT_PCM, _FORMAT_IEEE_FLOAT):
        raise WavError(f"unsupported WAV sample format 0x{tag:04x} (only PCM and IEEE float)")
    is_float = tag == _FORMAT_IEEE_FLOAT
    if channels < 1:
        raise WavError("WAV file has no channels")
    if rate < 1:
        raise WavError("WAV file has no sample rate")
    if not MIN_READ_RATE <= rate <= MAX_READ_RATE:
        raise WavError(f"unsupported sample rate {rate} Hz (readable: {MIN_READ_RATE} to {MAX_READ_RATE} Hz)")
    if is_float and bits not in (32, 64):
        raise WavError(f"unsupported float sample size: {bits} bits")
    if not is_float and bits not in (8, 16, 24, 32):
        raise WavError(f"unsupported PCM sample size: {bits} bits")
    if block_align != channels * bits // 8:
        raise WavError("inconsistent block alignment in fmt chunk")
    return WavInfo(sample_rate=rate, channels=channels, bits=bits, is_float=is_float)


def _decode_samples(raw: bytes, info: WavInfo) -> np.ndarray:
    """Interleaved sample bytes to float64 in [-1, 1), shape (frames, channels)."""
    width = info.bits // 8
    frames = len(raw) // (width * info.channels)
    raw = raw[:frames * width * info.channels]
    if info.is_float:
        x = np.frombuffer(raw, dtype="<f4" if info.bits == 32 else "<f8").astype(np.float64)
        x = np.nan_to_num(x, nan=0.0, posinf=1.0, neginf=-1.0)
    elif info.bits == 8:
        x = (np.frombuffer(raw, dtype=np.uint8).astype(np.float64) - 128.0) / 128.0
    elif info.bits == 16:
        x = np.frombuffer(raw, dtype="<i2").astype(np.float64) / 32768.0
    elif info.bits == 24:
        b = np.frombuffer(raw, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
        v = b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v)
        x = v.astype(np.float64) / float(1 << 23)
    else:
        x = np.frombuffer(raw, dtype="<i4").astype(np.float64) / float(1 << 31)
    return x.reshape(frames, info.channels)


def read(path: PathLike) -> Tuple[np.ndarray, int]:
    """Reads a WAV file; returns (mono float64 samples in [-1, 1), sample rate).

    Multi-channel files are mixed down by averaging the channels.  Raises WavError for files
    that are not readable WAV files and OSError when the file cannot be opened.
    """
    with open(path, "rb") as f:
        data = f.read()
    info = None
    raw = None
    for chunk_id, payload in _chunks(data):
        if chunk_id == b"fmt ":
            info = _parse_fmt(payload)
        elif chunk_id == b"data":
            raw = payload
            break
    if info is None:
        raise WavError("WAV file has no fmt chunk before its data")
    if raw is None:
        raise WavError("WAV file has no data chunk")
    x = _decode_samples(raw, info)
    return x.mean(axis=1) if info.channels > 1 else x[:, 0].copy(), info.sample_rate


def _lowpass(up: int, down: int, zero_crossings: int, beta: float, rolloff: float) -> np.ndarray:
    """Kaiser-windowed sinc low-pass for resampling by up/down, with DC gain `up`."""
    max_rate = max(up, down)
    half = zero_crossings * max_rate
    n = np.arange(-half, half + 1, dtype=np.float64)
    cutoff = rolloff / max_rate  # in cycles per upsampled sample times two (Nyquist = 1)
    h = cutoff * np.sinc(cutoff * n) * np.kaiser(2 * half + 1, beta)
    return h * (up / h.sum())


def resample(x: np.ndarray, from_rate: int, to_rate: int, *, zero_crossings: int = 24,
             beta: float = 8.0, rolloff: float = 0.9) -> np.ndarray:
    """Resamples a 1-D float signal from `from_rate` to `to_rate` samples/s.

    Rational polyphase resampling: conceptually upsample by L, low-pass with a Kaiser-windowed
    sinc at `rolloff` times the lower Nyquist frequency, and keep every M-th sample, where
    L/M = to_rate/from_rate in lowest terms.  Only the taps that meet non-zero input samples
    are evaluated.  The output has ceil(len(x) * L / M) samples, aligned with the input (the
    filter's delay is compensated).  Equal rates return a copy unchanged.
    """
    x = np.asarray(x, dtype=np.float64)
    if x.ndim != 1:
        raise ValueError("resample expects a 1-D signal")
    if from_rate <= 0 or to_rate <= 0:
        raise ValueError("sample rates must be positive")
    if from_rate == to_rate or x.size == 0:
        return x.copy()
    g = math.gcd(int(from_rate), int(to_rate))
    up, down = int(to_rate) // g, int(from_rate) // g
    h = _lowpass(up, down, zero_crossings, beta, rolloff)
    half = (h.size - 1) // 2
    taps = -(-h.size // up)
    # phases[r, i] = h[r + i * up]: the taps that meet input samples when (m mod up) == r.
    phases = np.zeros(taps * up)
    phases[:h.size] = h
    phases = phases.reshape(taps, up).T
    padded = np.concatenate([np.zeros(taps), x, np.zeros(taps)])
    n_out = -(-x.size * up // down)
    out = np.empty(n_out)
    offsets = np.arange(taps)
    block = max(1, _RESAMPLE_BLOCK // taps)
    for start in range(0, n_out, block):
        k = np.arange(start, min(start + block, n_out), dtype=np.int64)
        m = k * down + half  # position in the upsampled, filtered signal
        newest = m // up  # newest input sample that reaches output k
        phase = m - newest * up
        idx = newest[:, None] - offsets[None, :] + taps
        out[start:start + k.size] = np.einsum("ij,ij->i", phases[phase], padded[idx])
    return out


def to_int16(x: np.ndarray) -> np.ndarray:
    """Float samples in [-1, 1) to int16, rounded and clipped."""
    y = np.round(np.asarray(x, dtype=np.float64) * 32768.0)
    return np.clip(y, -32768, 32767).astype(np.int16)


def load_pcm(path: PathLike) -> np.ndarray:
    """Reads a WAV file as 8 kHz mono int16, resampling and mixing down as needed.

    A 16-bit mono 8 kHz file comes back sample for sample.
    """
    x, rate = read(path)
    ratio = Fraction(SAMPLE_RATE, rate).limit_denominator(MAX_RATIO_TERM)
    return to_int16(resample(x, ratio.denominator, ratio.numerator))


def write(path: PathLike, pcm: np.ndarray, sample_rate: int = SAMPLE_RATE) -> None:
    """Writes int16 mono samples as a 16-bit PCM WAV file."""
    pcm = np.asarray(pcm)
    if pcm.dtype != np.int16 or pcm.ndim != 1:
        raise ValueError("write expects a 1-D int16 array")
    with wave.open(os.fspath(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(int(sample_rate))
        w.writeframes(pcm.astype("<i2").tobytes())


def split_frames(pcm: np.ndarray) -> np.ndarray:
    """Cuts int16 audio into rows of 160 samples, zero-padding the last frame.

    Returns a C-contiguous array of shape (frames, 160); each row can go to encode_pcm.
    """
    pcm = np.asarray(pcm)
    if pcm.dtype != np.int16 or pcm.ndim != 1:
        raise ValueError("split_frames expects a 1-D int16 array")
    frames = -(-pcm.size // FRAME_SAMPLES)
    out = np.zeros(frames * FRAME_SAMPLES, dtype=np.int16)
    out[:pcm.size] = pcm
    return out.reshape(frames, FRAME_SAMPLES)


def join_frames(frames: Iterable[np.ndarray]) -> np.ndarray:
    """Concatenates decoded int16 frames into one 1-D array."""
    parts = [np.asarray(f, dtype=np.int16).reshape(-1) for f in frames]
    if not parts:
        return np.zeros(0, dtype=np.int16)
    return np.concatenate(parts)
