# SPDX-License-Identifier: GPL-2.0-or-later
"""Audio files and frames around the codec.

Reads WAV (any PCM or float width), FLAC, OGG/Vorbis and, where the bundled libsndfile has it,
MP3 through soundfile, mixed down to mono and resampled to the codec's 8000 samples/s through
soxr's streaming resampler, one block at a time, so a file of any length is read in memory of
a few MB.  Writes 16-bit mono audio files (WAV, FLAC, OGG, ... by the name's extension), and
cuts int16 audio into 160-sample frames and back.
"""

from __future__ import annotations

import os
from typing import Iterable, Iterator, Optional, Tuple, Union

import numpy as np
import soundfile
import soxr

SAMPLE_RATE = 8000
FRAME_SAMPLES = 160

# Sample rates read: below 4 kHz a file holds no usable speech band, and far above the highest
# studio rate a header is damaged (a header claiming 1 Hz would otherwise make the resampler
# build a signal 8000 times the file's length).
MIN_READ_RATE = 4000
MAX_READ_RATE = 768000
# Input frames read and resampled at once: 64 Ki frames of 48 kHz stereo are 1 MB as float64,
# so the working memory stays a few MB whatever the file's length.  Files of many channels
# read fewer frames at once, so that a block never holds more than BLOCK_BYTES of float64
# samples whatever the channel count.
BLOCK_FRAMES = 1 << 16
BLOCK_BYTES = 1 << 20
# soxr's high quality: 20-bit precision (stopband rejection far below the int16 rounding the
# codec sees) with a linear-phase passband flat to about 3.6 kHz, past the telephone speech band.
# The very high setting buys precision the 16-bit result throws away, at a higher cost per
# sample; the medium one's 16-bit precision would add noise at the level of the rounding.
RESAMPLE_QUALITY = "HQ"

PathLike = Union[str, "os.PathLike[str]"]


class WavError(ValueError):
    """The file is not an audio file this module can read."""


class Reader:
    """An audio file open for reading in blocks: mono float64 at its own rate (`blocks`) or
    8 kHz int16 (`pcm_blocks`).  Use as a context manager.

    Raises WavError for files that are not readable audio files and OSError when the file
    cannot be opened."""

    def __init__(self, path: PathLike, block_frames: int = BLOCK_FRAMES) -> None:
        self.path = path
        self.block_frames = block_frames
        # Opening ourselves keeps the errors of the file system (missing, not permitted) as
        # OSError, apart from libsndfile's verdict on the contents.  libsndfile gets the
        # descriptor: it reads it without a call back into Python per block, and it reads a WAV
        # stream from a pipe, which cannot seek.
        self._raw = open(path, "rb")
        try:
            self._file = soundfile.SoundFile(self._raw.fileno(), closefd=False)
        except (soundfile.LibsndfileError, RuntimeError, TypeError) as e:
            self._raw.close()
            raise WavError(_format_error(e)) from None
        rate = self._file.samplerate
        if not MIN_READ_RATE <= rate <= MAX_READ_RATE:
            self.close()
            raise WavError(f"unsupported sample rate {rate & 0xFFFFFFFF} Hz "
                           f"(readable: {MIN_READ_RATE} to {MAX_READ_RATE} Hz)")
        if self._file.channels < 1:
            self.close()
            raise WavError("the file has no channels")
        self.sample_rate = rate
        self.channels = self._file.channels
        self.block_frames = max(1, min(block_frames, BLOCK_BYTES // (8 * self.channels)))

    @property
    def frames(self) -> int:
        """Input frames the header announces (0 when it does not say)."""
        return max(int(self._file.frames), 0)

    @property
    def pcm_samples(self) -> int:
        """8 kHz samples the file should give, from its header (for progress only)."""
        return -(-self.frames * SAMPLE_RATE // self.sample_rate)

    def blocks(self) -> Iterator[np.ndarray]:
        """Mono float64 blocks at the file's own rate, in [-1, 1]."""
        while True:
            try:
                x = self._file.read(self.block_frames, dtype="float64", always_2d=True)
            except (soundfile.LibsndfileError, RuntimeError) as e:
                raise WavError(_format_error(e)) from None
            if x.shape[0] == 0:
                return
            x = np.nan_to_num(x, nan=0.0, posinf=1.0, neginf=-1.0)
            yield x.mean(axis=1) if x.shape[1] > 1 else x[:, 0].copy()

    def pcm_blocks(self) -> Iterator[np.ndarray]:
        """8 kHz mono int16 blocks; a 16-bit mono 8 kHz file comes back sample for sample."""
        if self.sample_rate == SAMPLE_RATE:
            for x in self.blocks():
                yield to_int16(x)
            return
        stream = soxr.ResampleStream(self.sample_rate, SAMPLE_RATE, 1, dtype="float64",
                                     quality=RESAMPLE_QUALITY)
        for x in self.blocks():
            y = stream.resample_chunk(x)
            if y.size:
                yield to_int16(y)
        y = stream.resample_chunk(np.zeros(0), last=True)
        if y.size:
            yield to_int16(y)

    def close(self) -> None:
        file, self._file = getattr(self, "_file", None), None
        if file is not None:
            file.close()
        self._raw.close()

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _format_error(e: Exception) -> str:
    # libsndfile names the format it guessed at, or nothing useful, for a file it cannot read.
    text = str(getattr(e, "error_string", "") or e)
    if "unknown format" in text.lower() or "format not recognised" in text.lower() or not text:
        return "not a RIFF/WAVE file (nor FLAC, OGG or MP3)"
    if "SF_INFO struct incomplete" in text:
        # libsndfile's word for a header whose rate or channel count it cannot take.
        return "unsupported sample rate or channel count in the file's header"
    return text


def read(path: PathLike) -> Tuple[np.ndarray, int]:
    """Reads an audio file whole; returns (mono float64 samples in [-1, 1], sample rate).

    Multi-channel files are mixed down by averaging the channels.  Raises WavError for files
    that are not readable audio files and OSError when the file cannot be opened.  Long files
    are better read block by block through Reader.
    """
    with Reader(path) as r:
        parts = list(r.blocks())
        rate = r.sample_rate
    return (np.concatenate(parts) if parts else np.zeros(0)), rate


def resample(x: np.ndarray, from_rate: int, to_rate: int) -> np.ndarray:
    """Resamples a 1-D float signal from `from_rate` to `to_rate` samples/s (soxr, the same
    quality as files are read with).  Equal rates return a copy unchanged."""
    x = np.asarray(x, dtype=np.float64)
    if x.ndim != 1:
        raise ValueError("resample expects a 1-D signal")
    if from_rate <= 0 or to_rate <= 0:
        raise ValueError("sample rates must be positive")
    if from_rate == to_rate or x.size == 0:
        return x.copy()
    return soxr.resample(x, from_rate, to_rate, quality=RESAMPLE_QUALITY)


def to_int16(x: np.ndarray) -> np.ndarray:
    """Float samples in [-1, 1) to int16, rounded and clipped."""
    y = np.round(np.asarray(x, dtype=np.float64) * 32768.0)
    return np.clip(y, -32768, 32767).astype(np.int16)


def iter_pcm(path: PathLike, block_frames: int = BLOCK_FRAMES) -> Iterator[np.ndarray]:
    """The file as 8 kHz mono int16 blocks, read and resampled a block at a time."""
    with Reader(path, block_frames) as r:
        yield from r.pcm_blocks()


def load_pcm(path: PathLike) -> np.ndarray:
    """Reads an audio file as 8 kHz mono int16, resampling and mixing down as needed.

    A 16-bit mono 8 kHz file comes back sample for sample.
    """
    parts = list(iter_pcm(path))
    return np.concatenate(parts) if parts else np.zeros(0, dtype=np.int16)


# What a written file holds, by its name's extension (libsndfile's container and encoding); a
# name without an extension gets WAV.  Other extensions are refused rather than given WAV bytes
# under a name that says otherwise.
OUTPUT_FORMATS = {
    ".wav": ("WAV", "PCM_16"), ".flac": ("FLAC", "PCM_16"), ".ogg": ("OGG", "VORBIS"),
    ".oga": ("OGG", "VORBIS"), ".aif": ("AIFF", "PCM_16"), ".aiff": ("AIFF", "PCM_16"),
    ".au": ("AU", "PCM_16"), ".caf": ("CAF", "PCM_16"), ".w64": ("W64", "PCM_16"),
    ".raw": ("RAW", "PCM_16"), ".pcm": ("RAW", "PCM_16"),
}


def _extension(path: PathLike) -> str:
    name = os.path.basename(os.fspath(path))
    return os.path.splitext(name)[1].lower() if not name.startswith(".") or name.count(".") > 1 else ""


def output_format(path: PathLike) -> str:
    """The container a written file gets from its name: WAV for .wav or no extension, FLAC for
    .flac, OGG (Vorbis) for .ogg, and the others of OUTPUT_FORMATS.  Raises WavError for an
    extension it cannot write."""
    ext = _extension(path)
    if not ext:
        return "WAV"
    if ext not in OUTPUT_FORMATS:
        raise WavError(f"cannot write a {ext} file (audio outputs end in "
                       + ", ".join(sorted(OUTPUT_FORMATS)) + ")")
    return OUTPUT_FORMATS[ext][0]


def open_writer(target, name: Optional[PathLike] = None, sample_rate: int = SAMPLE_RATE) -> soundfile.SoundFile:
    """A mono writer (16-bit where the format has a sample width) on a path or an open binary
    file; `name` chooses the format."""
    name = name if name is not None else target
    fmt = output_format(name)
    subtype = OUTPUT_FORMATS.get(_extension(name), ("WAV", "PCM_16"))[1]
    return soundfile.SoundFile(target, "w", samplerate=int(sample_rate), channels=1, subtype=subtype, format=fmt,
                               endian="LITTLE" if fmt == "RAW" else "FILE")


def write(path: PathLike, pcm: np.ndarray, sample_rate: int = SAMPLE_RATE) -> None:
    """Writes int16 mono samples as an audio file of the format its name gives (output_format)."""
    pcm = np.asarray(pcm)
    if pcm.dtype != np.int16 or pcm.ndim != 1:
        raise ValueError("write expects a 1-D int16 array")
    with open_writer(os.fspath(path), sample_rate=sample_rate) as w:
        w.write(pcm)


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
