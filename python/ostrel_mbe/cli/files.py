# SPDX-License-Identifier: GPL-2.0-or-later
"""Inputs and outputs of every subcommand: a path or "-" for a pipe, audio files read block by
block, frame files read as they arrive, and outputs that appear only once complete."""

from __future__ import annotations

import argparse
import errno
import os
import stat
import sys
import tempfile
import wave
from pathlib import Path
from typing import Any, BinaryIO, Callable, Iterator, List, Optional

import numpy as np

from .. import wav
from .common import FrameDriver, InputError, bundled_speech

STDIO = "-"
# Bytes asked of a pipe per read: a read returns what has arrived, so frames flow on at once.
PIPE_READ_BYTES = 4096


def unreadable(path: object, e: OSError) -> InputError:
    if isinstance(e, FileNotFoundError):
        return InputError(f"{path}: no such file")
    if isinstance(e, IsADirectoryError):
        return InputError(f"{path}: is a directory")
    return InputError(f"{path}: {e.strerror or e}")


def open_audio(path: Optional[str]) -> "wav.Reader":
    source = Path(path) if path else bundled_speech()
    try:
        return wav.Reader(source)
    except OSError as e:
        raise unreadable(source, e) from None
    except wav.WavError as e:
        raise InputError(f"{source}: {e}") from None


def audio_blocks(reader: "wav.Reader") -> Iterator[np.ndarray]:
    """The 8 kHz blocks of an open audio file; a file damaged half way is a bad input."""
    try:
        yield from reader.pcm_blocks()
    except wav.WavError as e:
        raise InputError(f"{reader.path}: {e}") from None


def no_samples(path: object) -> InputError:
    # Refused rather than encoded to an empty frame file with success: a recording that came
    # out empty is a fault the user (or the script running us) should hear about.
    return InputError(f"{path}: the file holds no samples")


def load_input(path: Optional[str]) -> np.ndarray:
    with open_audio(path) as reader:
        parts = list(audio_blocks(reader))
    pcm = np.concatenate(parts) if parts else np.zeros(0, dtype=np.int16)
    if pcm.size == 0:
        raise no_samples(reader.path)
    return pcm


def open_input(path: str) -> BinaryIO:
    if path == STDIO:
        return sys.stdin.buffer
    try:
        return open(path, "rb")
    except OSError as e:
        raise unreadable(path, e) from None


def input_name(path: str) -> str:
    return "<stdin>" if path == STDIO else path


def read_chunks(source: BinaryIO, name: str) -> Iterator[bytes]:
    """The input as it arrives: whatever a pipe holds, or a file in large blocks."""
    fd = source.fileno() if source is sys.stdin.buffer else None
    while True:
        try:
            chunk = os.read(fd, PIPE_READ_BYTES) if fd is not None else source.read(1 << 16)
        except OSError as e:
            raise InputError(f"{name}: {e.strerror or e}") from None
        if not chunk:
            return
        yield chunk


def raw_pcm_chunks(chunks: Iterator[bytes]) -> Iterator[np.ndarray]:
    """Little-endian 16-bit samples from byte chunks that may split a sample."""
    carry = b""
    for chunk in chunks:
        data = carry + chunk
        whole = len(data) & ~1
        carry = data[whole:]
        yield np.frombuffer(data[:whole], dtype="<i2").astype(np.int16)
    if carry:
        raise InputError("<stdin>: the PCM stream ends inside a 16-bit sample")


def file_frames(source: BinaryIO, size: int) -> int:
    """Whole frames in an input file (0 for a pipe: no progress bar)."""
    if source is sys.stdin.buffer:
        return 0
    return os.fstat(source.fileno()).st_size // size


def leftover(name: str, pending: int, frames: int, size: int, rate_name: str) -> InputError:
    return InputError(f"{name}: {pending} bytes left over after {frames} whole {size}-byte {rate_name} frames")


def report(args: argparse.Namespace, text: str) -> None:
    """The closing summary: on stdout, unless stdout carries the output."""
    print(text, file=sys.stderr if args.output == STDIO else sys.stdout)


class OutputError(Exception):
    """An output that cannot be written: reported in one line naming the file, exit status 2."""

    def __init__(self, path: str, error: OSError) -> None:
        super().__init__(f"{path}: {error.strerror or error}")


class _KeepWriteError:
    """The output file as libsndfile's writer sees it: a failed write is kept for the caller
    instead of escaping from libsndfile's callback, where it would only be printed."""

    def __init__(self, stream: BinaryIO) -> None:
        self.stream = stream
        self.error: Optional[OSError] = None

    def write(self, data: bytes) -> int:
        if self.error is not None:
            return 0
        try:
            self.stream.write(data)
        except OSError as e:
            self.error = e
            return 0
        return len(data)

    def __getattr__(self, name: str) -> Any:
        return getattr(self.stream, name)


class Output:
    """Frames or PCM on their way out: a file, a WAV file, or standard output flushed after
    every write so that a player downstream hears each frame as it is decoded.

    A file is written to a temporary file beside it and renamed into place by commit(), so a
    run that fails half way (disk full, file size limit, a refused frame) leaves any earlier
    file of that name as it was and no truncated output.  Devices and pipes given as the
    output (/dev/null, a FIFO) are written in place.  Use it as a context manager: leaving the
    block without commit() discards the output."""

    def __init__(self, path: str, as_wav: bool = False) -> None:
        self.path = path
        self.wav: Any = None  # wave.Wave_write, or a soundfile writer for FLAC
        self.stream: Optional[BinaryIO] = None
        self.temp: Optional[str] = None
        self.sink: Optional[_KeepWriteError] = None
        if path == STDIO:
            self.stream = sys.stdout.buffer
            return
        try:
            self.stream = self._open(path)
            if as_wav and wav.output_format(path) == "FLAC":
                self.sink = _KeepWriteError(self.stream)
                self.wav = wav.open_writer(self.sink, name=path)
            elif as_wav:
                # The writer gets the open file: one that opens its own file and fails leaves a
                # half-built object whose destructor prints a traceback.
                self.wav = wave.open(self.stream, "wb")
                self.wav.setnchannels(1)
                self.wav.setsampwidth(2)
                self.wav.setframerate(wav.SAMPLE_RATE)
        except OSError as e:
            self.discard()
            raise OutputError(path, e) from None

    def _open(self, path: str) -> BinaryIO:
        try:
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            mode = None
        if mode is not None and stat.S_ISDIR(mode):
            raise IsADirectoryError(errno.EISDIR, "is a directory")
        if mode is not None and not stat.S_ISREG(mode):
            return open(path, "wb")
        # Beside the file a symbolic link points to, so that the rename replaces that file.
        target = os.path.realpath(path)
        try:
            fd, self.temp = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.", suffix=".part",
                                             dir=os.path.dirname(target))
        except PermissionError:
            if mode is None:
                raise
            # A file we may write in a folder we may not: written in place, as before.
            return open(path, "wb")
        # The permissions a newly created file would get (mkstemp makes it private), or the
        # replaced file's own.
        if mode is None:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        os.chmod(fd, stat.S_IMODE(mode))
        return os.fdopen(fd, "wb")

    def __enter__(self) -> "Output":
        return self

    def __exit__(self, *exc: object) -> None:
        self.discard()

    def write(self, items: List[object]) -> None:
        if not items:
            return
        if isinstance(items[0], np.ndarray):
            data = np.concatenate(items).astype("<i2").tobytes()  # type: ignore[arg-type]
        else:
            data = b"".join(items)  # type: ignore[arg-type]
        try:
            if isinstance(self.wav, wave.Wave_write):
                self.wav.writeframes(data)
            elif self.wav is not None:
                try:
                    self.wav.write(np.frombuffer(data, dtype="<i2"))
                except AssertionError:
                    pass  # a short write: soundfile asserts; the file's own error is in the sink
                self._raise_sink_error()
            elif self.stream is not None:
                self.stream.write(data)
                if self.path == STDIO:
                    self.stream.flush()
        except BrokenPipeError:
            raise
        except OSError as e:
            raise OutputError(self._name(), e) from None

    def _raise_sink_error(self) -> None:
        if self.sink is not None and self.sink.error is not None:
            raise self.sink.error

    def commit(self) -> None:
        """Finishes the output: the WAV header's final sizes, then the rename into place."""
        try:
            if self.wav is not None:
                self.wav.close()
                self._raise_sink_error()
            if self.stream is not None and self.path != STDIO:
                self.stream.close()
            if self.temp is not None:
                os.replace(self.temp, os.path.realpath(self.path))
                self.temp = None
        except BrokenPipeError:
            raise
        except OSError as e:
            raise OutputError(self._name(), e) from None
        finally:
            self.wav = self.stream = None
            self.discard()

    def discard(self) -> None:
        """Drops an unfinished output (nothing after commit)."""
        wav_writer, stream, self.wav, self.stream = self.wav, self.stream, None, None
        for close in (wav_writer, stream if self.path != STDIO else None):
            if close is not None:
                try:
                    close.close()  # type: ignore[attr-defined]
                except OSError:
                    pass  # the output is being dropped; the first error was reported
        if self.temp is not None:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
            self.temp = None

    def _name(self) -> str:
        return "<stdout>" if self.path == STDIO else self.path


def stream_frames(args: argparse.Namespace, label: str, size: int, push: Callable[[bytes], List[object]],
                  as_wav: bool, pending: Callable[[], int], rate_name: str) -> int:
    """Reads frames of `size` bytes from the input, pushes them and writes what comes out;
    returns the number of frames.  An input without a whole frame is refused and leaves no
    output; the caller reports bytes left over after whole frames."""
    source = open_input(args.input)
    name = input_name(args.input)
    try:
        frames = FrameDriver(label, file_frames(source, size), args)
        with Output(args.output, as_wav) as out:
            try:
                for chunk in read_chunks(source, name):
                    out.write(frames.push(push, chunk, size))
            finally:
                frames.close()
            if frames.done == 0:
                if pending():
                    raise leftover(name, pending(), 0, size, rate_name)
                raise InputError(f"{name}: no frames")
            out.commit()
    finally:
        if source is not sys.stdin.buffer:
            source.close()
    return frames.done


def write_output(path: str, fill: Callable[[Output], None], as_wav: bool = False) -> None:
    """Writes one output with every safety rule of the command line: `fill(out)` calls
    `out.write(items)` (frames as bytes, or int16 PCM arrays when `as_wav`); the output
    appears under `path` only when `fill` returns, and an exception leaves any older file of
    that name as it was.  Raises OutputError (exit status 2) when the output cannot be written."""
    with Output(path, as_wav) as out:
        fill(out)
        out.commit()
