# SPDX-License-Identifier: GPL-2.0-or-later
"""Inputs and outputs of every subcommand: a path or "-" for a pipe, audio files read block by
block, frame files read as they arrive, and outputs that appear only once complete."""

from __future__ import annotations

import argparse
import errno
import itertools
import os
import re
import shutil
import stat
import sys
import tempfile
import threading
import wave
from pathlib import Path
from typing import Any, BinaryIO, Callable, Iterable, Iterator, List, Optional, Tuple, Union

import numpy as np

from .. import wav
from .common import TERMINATING, FrameDriver, InputError, Terminated, bundled_speech

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
        # A signal handled inside a callback from C was only printed there: raise it before
        # waiting on a pipe that may never send again.
        if TERMINATING:
            raise Terminated(TERMINATING[0])
        try:
            chunk = os.read(fd, PIPE_READ_BYTES) if fd is not None else source.read(1 << 16)
        except OSError as e:
            raise InputError(f"{name}: {e.strerror or e}") from None
        if not chunk:
            return
        yield chunk


# The first bytes of the audio containers read from a pipe.
CONTAINERS = {b"RIFF": "WAV", b"RIFX": "WAV", b"RF64": "WAV", b"fLaC": "FLAC", b"OggS": "OGG"}
MAGIC_BYTES = 4


def container_of(head: bytes) -> Optional[str]:
    """The audio container a stream's first bytes announce, or None (raw PCM, or frames)."""
    return CONTAINERS.get(bytes(head[:MAGIC_BYTES]))


def _read_head(fd: int) -> bytes:
    head = b""
    while len(head) < MAGIC_BYTES:
        chunk = os.read(fd, MAGIC_BYTES - len(head))
        if not chunk:
            break
        head += chunk
    return head


def open_stdin_pcm() -> Tuple[Optional["wav.Reader"], Iterator[np.ndarray]]:
    """Standard input as 8 kHz blocks: an audio file when its first bytes name a container
    (WAV, FLAC, OGG), else raw 8 kHz 16-bit little-endian mono.  Returns the open reader (None
    for raw PCM) and the blocks."""
    fd = sys.stdin.buffer.fileno()
    try:
        head = _read_head(fd)
    except OSError as e:
        raise InputError(f"<stdin>: {e.strerror or e}") from None
    container = container_of(head)
    if container is None:
        return None, raw_pcm_chunks(itertools.chain([head], read_chunks(sys.stdin.buffer, "<stdin>")))
    if container == "FLAC":
        # libsndfile's FLAC reader seeks: the stream is kept in a temporary file (disk, not memory).
        spool = tempfile.TemporaryFile()
        spool.write(head)
        shutil.copyfileobj(sys.stdin.buffer, spool, 1 << 16)
        spool.seek(0)
        source = os.dup(spool.fileno())
        spool.close()
    else:
        # A pipe of our own that gives libsndfile the first bytes again, then the rest.
        source, sink = os.pipe()
        threading.Thread(target=_feed, args=(head, fd, sink), daemon=True).start()
    try:
        reader = wav.Reader(source)
    except wav.WavError as e:
        raise InputError(f"<stdin>: {e}") from None
    reader.path = "<stdin>"
    return reader, audio_blocks(reader)


def _feed(head: bytes, fd: int, sink: int) -> None:
    try:
        with open(sink, "wb") as out:
            out.write(head)
            while chunk := os.read(fd, 1 << 16):
                out.write(chunk)
    except OSError:
        pass  # the reader stopped (a bad file): it reports why


def frame_chunks(source: BinaryIO, name: str) -> Iterator[bytes]:
    """A frame stream as it arrives, refused when it starts like an audio file."""
    head = b""
    for chunk in read_chunks(source, name):
        if head is not None:
            head += chunk
            if len(head) < MAGIC_BYTES:
                continue
            chunk, head = head, None
            container = container_of(chunk)
            if container is not None:
                raise InputError(f"{name}: a {container} audio file, not wire frames (encode it first)")
        yield chunk
    if head:
        yield head


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
    """The closing summary: on stdout, unless stdout carries the output; none for the files of
    a batch (args.quiet), whose report holds what happened to each."""
    if not getattr(args, "quiet", False):
        print(text, file=sys.stderr if stream_descriptor(getattr(args, "output", None)) == 1 else sys.stdout)


# Names that stand for a descriptor the process already holds: writing "to the file" must go
# through that descriptor (appending where the shell opened it with >>), never replace or
# truncate the file behind it.
_DESCRIPTOR_PATH = re.compile(r"^/(?:dev/(?:fd/(\d+)|(stdout)|(stderr))|proc/(?:self|\d+)/fd/(\d+))$")


def stream_descriptor(path: Optional[str]) -> Optional[int]:
    """The descriptor an output name stands for: 1 for "-" and /dev/stdout, 2 for /dev/stderr,
    N for /dev/fd/N and /proc/self/fd/N; None for other names."""
    if path is None:
        return None
    if path == STDIO:
        return 1
    match = _DESCRIPTOR_PATH.match(os.path.normpath(path))
    if match is None or (match.group(4) is not None and not path.startswith(("/proc/self/", f"/proc/{os.getpid()}/"))):
        return None
    fd, out, err, proc_fd = match.groups()
    return 1 if out else 2 if err else int(fd or proc_fd)


def is_stream(path: Optional[str]) -> bool:
    """True for outputs written as a stream, like "-": standard output or another descriptor,
    and existing files that are not regular files (a FIFO, a terminal, /dev/null).  They get
    the stream format (raw PCM rather than a WAV header that cannot be patched) and are
    written directly, never through a temporary file."""
    if path is None:
        return False
    if stream_descriptor(path) is not None:
        return True
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return False
    return not stat.S_ISREG(mode) and not stat.S_ISDIR(mode)


class OutputError(Exception):
    """An output that cannot be written: reported in one line naming the file, exit status 2.
    Nothing was written under the output's name."""

    @classmethod
    def of(cls, path: str, error: OSError) -> "OutputError":
        return cls(f"{path}: {error.strerror or error}")


def _same_file(a: os.stat_result, b: os.stat_result) -> bool:
    return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)


def check_not_an_input(path: str, inputs: Iterable[Optional[Union[str, "os.PathLike[str]"]]]) -> None:
    """Refuses an output that is one of the inputs (by name, symbolic or hard link): writing it
    would replace the recording being read."""
    try:
        out = os.stat(path)
    except OSError:
        return
    for source in inputs:
        if source is None or source == STDIO:
            continue
        try:
            same = _same_file(out, os.stat(source))
        except OSError:
            continue
        if same:
            raise OutputError(f"{path}: is the input {os.fspath(source)} itself; nothing written")


# Room left in a file name of 255 bytes for what a temporary name adds: a leading dot, the
# random part of mkstemp (8) with its dot, and ".part".
_NAME_MAX = 255
_TEMP_EXTRA = 1 + 1 + 8 + len(".part")


def _temp_prefix(target: str) -> str:
    name = os.fsencode(os.path.basename(target))[:_NAME_MAX - _TEMP_EXTRA]
    return "." + os.fsdecode(name) + "."


def leftover_temporaries(path: str) -> List[str]:
    """The temporary files of `path` that a run stopped half way (killed, power lost) left
    behind: a batch that resumes removes them."""
    target = os.path.realpath(path)
    folder, prefix = os.path.dirname(target), _temp_prefix(target)
    try:
        names = os.listdir(folder)
    except OSError:
        return []
    return [os.path.join(folder, n) for n in names
            if n.startswith(prefix) and n.endswith(".part") and len(n) == len(prefix) + 8 + len(".part")]


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
    """Frames or PCM on their way out: a file, an audio file, or a stream.

    A file is written to a temporary file beside it, flushed to disk and renamed into place by
    commit(), so a run that fails half way (disk full, file size limit, a refused frame, a
    signal) leaves any earlier file of that name as it was and no truncated output.  Where no
    temporary file can be made beside it, the output is refused before anything is touched.
    Streams (see is_stream) are written directly and flushed after every write, so a player
    downstream hears each frame as it is decoded.  An output that is one of `inputs` is refused.
    Use it as a context manager: leaving the block without commit() discards the output."""

    def __init__(self, path: str, as_wav: bool = False,
                 inputs: Iterable[Optional[Union[str, "os.PathLike[str]"]]] = ()) -> None:
        self.path = path
        self.wav: Any = None  # wave.Wave_write, or a soundfile writer for the other formats
        self.stream: Optional[BinaryIO] = None
        self.temp: Optional[str] = None
        self.sink: Optional[_KeepWriteError] = None
        self.streaming = is_stream(path)
        self._close_stream = not self.streaming
        fd = stream_descriptor(path)
        try:
            if fd == 1:
                self.stream = sys.stdout.buffer
            elif fd == 2:
                self.stream = sys.stderr.buffer
            elif fd is not None:
                self.stream = open(fd, "wb", closefd=False)
                self._close_stream = True
            elif self.streaming:
                # No O_TRUNC: a FIFO or a device is written as it is.
                self.stream = os.fdopen(os.open(path, os.O_WRONLY), "wb")
                self._close_stream = True
            else:
                check_not_an_input(path, inputs)
                if as_wav:
                    try:
                        wav.output_format(path)
                    except wav.WavError as e:
                        raise OutputError(f"{path}: {e}") from None
                self.stream = self._open_temp(path)
                if as_wav:
                    self._open_audio_writer(path)
        except OSError as e:
            self.discard()
            raise OutputError.of(path, e) from None
        except BaseException:
            self.discard()
            raise

    def _open_temp(self, path: str) -> BinaryIO:
        try:
            mode: Optional[int] = os.stat(path).st_mode
        except FileNotFoundError:
            mode = None
        if mode is not None and stat.S_ISDIR(mode):
            raise IsADirectoryError(errno.EISDIR, "is a directory")
        if path.endswith(os.sep):
            # "out/" names a folder: never a file called "out".
            raise NotADirectoryError(errno.ENOTDIR, "not a directory")
        # Beside the file a symbolic link points to, so that the rename replaces that file.
        target = os.path.realpath(path)
        try:
            fd, self.temp = tempfile.mkstemp(prefix=_temp_prefix(target), suffix=".part",
                                             dir=os.path.dirname(target))
        except OSError as e:
            if mode is None or isinstance(e, FileNotFoundError):
                raise
            # A file we may write in a folder we may not: writing it in place would truncate it
            # before the run is known to succeed, and copying a finished file over it is not
            # atomic either.
            raise OutputError(f"{path}: cannot create a temporary file beside it ({e.strerror}); "
                              f"the file is left as it was") from None
        # The permissions a newly created file would get (mkstemp makes it private), or the
        # replaced file's own.
        if mode is None:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        os.chmod(fd, stat.S_IMODE(mode))
        return os.fdopen(fd, "wb")

    def _open_audio_writer(self, path: str) -> None:
        assert self.stream is not None
        fmt = wav.output_format(path)
        if fmt == "WAV":
            # The writer gets the open file: one that opens its own file and fails leaves a
            # half-built object whose destructor prints a traceback.
            self.wav = wave.open(self.stream, "wb")
            self.wav.setnchannels(1)
            self.wav.setsampwidth(2)
            self.wav.setframerate(wav.SAMPLE_RATE)
        else:
            self.sink = _KeepWriteError(self.stream)
            self.wav = wav.open_writer(self.sink, name=path)

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
                if self.streaming:
                    self.stream.flush()
        except BrokenPipeError:
            raise
        except OSError as e:
            raise OutputError.of(self._name(), e) from None

    def _raise_sink_error(self) -> None:
        if self.sink is not None and self.sink.error is not None:
            raise self.sink.error

    def commit(self) -> None:
        """Finishes the output: the header's final sizes, the data on disk, then the rename
        into place (and the rename itself on disk)."""
        try:
            if self.wav is not None:
                self.wav.close()
                self._raise_sink_error()
            if self.stream is not None:
                self.stream.flush()
                if self.temp is not None:
                    os.fsync(self.stream.fileno())
                if self._close_stream:
                    self.stream.close()
            if self.temp is not None:
                target = os.path.realpath(self.path)
                os.replace(self.temp, target)
                self.temp = None
                _fsync_dir(os.path.dirname(target))
        except BrokenPipeError:
            raise
        except OSError as e:
            raise OutputError.of(self._name(), e) from None
        finally:
            self.wav = self.stream = None
            self.discard()

    def discard(self) -> None:
        """Drops an unfinished output (nothing after commit)."""
        wav_writer, stream, self.wav, self.stream = self.wav, self.stream, None, None
        for close in (wav_writer, stream if self._close_stream else None):
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


def _fsync_dir(path: str) -> None:
    """Makes a rename in `path` survive a power loss, where the file system allows it."""
    try:
        fd = os.open(path or ".", os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass  # some file systems refuse fsync on a folder; the data itself is on disk
    finally:
        os.close(fd)


def stream_frames(args: argparse.Namespace, label: str, size: int, push: Callable[[bytes], List[object]],
                  as_wav: bool, pending: Callable[[], int], rate_name: str) -> int:
    """Reads frames of `size` bytes from the input, pushes them and writes what comes out;
    returns the number of frames.  An input without a whole frame is refused and leaves no
    output; the caller reports bytes left over after whole frames."""
    source = open_input(args.input)
    name = input_name(args.input)
    try:
        frames = FrameDriver(label, file_frames(source, size), args)
        with Output(args.output, as_wav, inputs=[args.input]) as out:
            try:
                for chunk in frame_chunks(source, name):
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


def write_output(path: str, fill: Callable[[Output], None], as_wav: bool = False,
                 inputs: Iterable[Optional[Union[str, "os.PathLike[str]"]]] = ()) -> None:
    """Writes one output with every safety rule of the command line: `fill(out)` calls
    `out.write(items)` (frames as bytes, or int16 PCM arrays when `as_wav`); the output
    appears under `path` only when `fill` returns, and an exception leaves any older file of
    that name as it was; an output that is one of `inputs` is refused.  Raises OutputError
    (exit status 2) when the output cannot be written."""
    with Output(path, as_wav, inputs) as out:
        fill(out)
        out.commit()
