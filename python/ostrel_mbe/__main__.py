# SPDX-License-Identifier: GPL-2.0-or-later
"""Command line: python -m ostrel_mbe {encode,decode,transcode,roundtrip,info}.

encode     audio file (WAV, FLAC, OGG; MP3 where libsndfile reads it) -> frame file (the wire
           frames of one rate, concatenated), read and encoded a block at a time
           python -m ostrel_mbe encode --rate ambe3600 input.wav frames.bin
decode     frame file -> 8 kHz 16-bit mono WAV file (FLAC when its name ends in .flac)
           python -m ostrel_mbe decode --rate ambe3600 frames.bin output.wav
transcode  frame file of one rate -> frame file of another, without going through PCM
           python -m ostrel_mbe transcode --from imbe7200 --to ambe3600 in.bin out.bin
roundtrip  WAV file -> encode -> decode -> WAV file, at one or more rates, with timing
           python -m ostrel_mbe roundtrip --rate imbe7200 input.wav   (writes input.imbe7200.wav)
info       what a frame file holds: frame kinds, corrected bit errors, lost frames, tones
           python -m ostrel_mbe info --rate imbe7200 frames.bin [--json]

decode and roundtrip decode with the standard's formant weighting (FormantWeighting.STANDARD),
which scores higher on PESQ than the library's default; --formant-weighting compat selects the
library's default (FormantWeighting.COMPAT).

The output file may also be given with -o.  Without an input file (encode -o FILE, roundtrip),
the bundled speech clip is used.  encode, decode, transcode and info take "-" for standard input or
output and stream: PCM on a pipe is raw 8 kHz 16-bit little-endian mono, frames are read and
written as they arrive, so a demodulator's frames can be piped through decode to a player.
Bad input files end the program with exit status 2 and a one-line message naming the file; so
do outputs that cannot be written, inputs that hold no samples or no whole frame (no output is
written), and a frame stream that ends inside a frame, after the whole frames before it have
been written.  An output file appears only once it is complete: it is written beside its final
name and renamed into place, so a failed run leaves no truncated file behind.
"""

from __future__ import annotations

import argparse
import errno
import json
import os
import stat
import sys
import tempfile
import time
import wave
from importlib import resources
from pathlib import Path
from typing import Any, BinaryIO, Callable, Dict, Iterator, List, Optional, Sequence, TypeVar

import numpy as np
from tqdm import tqdm

from . import FormantWeighting, LiveDecoder, LiveEncoder, Rate, Transcoder, Vocoder, wav
from .info import FrameStats, format_text

RATES: Dict[str, "Rate"] = {
    "imbe7200": Rate.IMBE_7200X4400,
    "imbe4400": Rate.IMBE_4400X4400,
    "ambe3600": Rate.AMBEPLUS2_3600X2450,
    "ambe2450": Rate.AMBEPLUS2_2450X2450,
}

WEIGHTINGS: Dict[str, "FormantWeighting"] = {
    "standard": FormantWeighting.STANDARD,
    "compat": FormantWeighting.COMPAT,
}
WEIGHTING_HELP = ("formant weighting of the decoder's spectral enhancement: standard (default here) "
                  "sharpens formants at any level and scores higher on PESQ; compat is the library's "
                  "default, with slightly higher STOI")

PROG = "ostrel_mbe"
EXIT_CODEC_ERROR = 1
EXIT_BAD_INPUT = 2
# Files of at least this many frames (10 s) get a progress bar when stderr is a terminal.
PROGRESS_MIN_FRAMES = 500
# Bytes asked of a pipe per read: a read returns what has arrived, so frames flow on at once.
PIPE_READ_BYTES = 4096
STDIO = "-"

T = TypeVar("T")


class InputError(Exception):
    """A bad input file or argument: reported in one line, exit status 2."""


class CodecError(Exception):
    """The codec refused a frame: reported in one line, exit status 1."""


def bundled_speech() -> Path:
    """Path of the bundled 8 kHz speech clip (CC BY-SA 3.0, see data/ATTRIBUTION.md)."""
    return Path(str(resources.files(__package__).joinpath("data", "speech_8k.wav")))


class Progress:
    """A progress bar on stderr (tqdm), drawn only when enabled."""

    def __init__(self, label: str, total: int, enabled: bool) -> None:
        self.bar = tqdm(total=total, desc=label, unit="frames", file=sys.stderr, leave=True,
                        disable=not enabled or total <= 0, dynamic_ncols=True,
                        bar_format="{desc} {bar} {percentage:3.0f}% {n}/{total} frames [{elapsed}<{remaining}]")
        self.done = 0

    def update(self, done: int) -> None:
        # Header lengths are estimates for resampled files: the count may pass the total.
        if done > self.bar.total:
            self.bar.total = done
        self.bar.update(done - self.done)
        self.done = done

    def close(self) -> None:
        self.bar.close()


def _progress_enabled(args: argparse.Namespace, frames: int) -> bool:
    if args.progress == "always":
        return True
    if args.progress == "never":
        return False
    return frames >= PROGRESS_MIN_FRAMES and sys.stderr.isatty()


class _Frames:
    """Drives a stream object (LiveEncoder, LiveDecoder, a transcoding step) one frame's worth
    of input at a time, so that an error names its frame, with a progress bar for files."""

    def __init__(self, label: str, total: int, args: argparse.Namespace) -> None:
        self.done = 0
        self.progress = Progress(label, total, total > 0 and _progress_enabled(args, total))

    def push(self, push: Callable[[T], List[object]], data: T, size: int) -> List[object]:
        out: List[object] = []
        for at in range(0, len(data), size):  # type: ignore[arg-type]
            # Less than a frame's worth completes at most one frame.
            out += self._step(lambda: push(data[at:at + size]))  # type: ignore[index]
        return out

    def flush(self, flush: Callable[[], Optional[T]]) -> List[object]:
        return self._step(lambda: [] if (last := flush()) is None else [last])

    def _step(self, call: Callable[[], List[object]]) -> List[object]:
        try:
            produced = call()
        except ValueError as e:
            raise CodecError(f"frame {self.done}: {e}") from None
        self.done += len(produced)
        self.progress.update(self.done)
        return produced

    def close(self) -> None:
        self.progress.close()


def _unreadable(path, e: OSError) -> InputError:
    if isinstance(e, FileNotFoundError):
        return InputError(f"{path}: no such file")
    if isinstance(e, IsADirectoryError):
        return InputError(f"{path}: is a directory")
    return InputError(f"{path}: {e.strerror or e}")


def _open_audio(path: Optional[str]) -> "wav.Reader":
    source = Path(path) if path else bundled_speech()
    try:
        return wav.Reader(source)
    except OSError as e:
        raise _unreadable(source, e) from None
    except wav.WavError as e:
        raise InputError(f"{source}: {e}") from None


def _audio_blocks(reader: "wav.Reader") -> Iterator[np.ndarray]:
    """The 8 kHz blocks of an open audio file; a file damaged half way is a bad input."""
    try:
        yield from reader.pcm_blocks()
    except wav.WavError as e:
        raise InputError(f"{reader.path}: {e}") from None


def _no_samples(path: object) -> InputError:
    # Refused rather than encoded to an empty frame file with success: a recording that came
    # out empty is a fault the user (or the script running us) should hear about.
    return InputError(f"{path}: the file holds no samples")


def _load_input(path: Optional[str]) -> np.ndarray:
    with _open_audio(path) as reader:
        parts = list(_audio_blocks(reader))
    pcm = np.concatenate(parts) if parts else np.zeros(0, dtype=np.int16)
    if pcm.size == 0:
        raise _no_samples(reader.path)
    return pcm


def _open_input(path: str) -> BinaryIO:
    if path == STDIO:
        return sys.stdin.buffer
    try:
        return open(path, "rb")
    except OSError as e:
        raise _unreadable(path, e) from None


def _input_name(path: str) -> str:
    return "<stdin>" if path == STDIO else path


def _read_chunks(source: BinaryIO, name: str) -> Iterator[bytes]:
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


def _raw_pcm_chunks(chunks: Iterator[bytes]) -> Iterator[np.ndarray]:
    """Little-endian 16-bit samples from byte chunks that may split a sample."""
    carry = b""
    for chunk in chunks:
        data = carry + chunk
        whole = len(data) & ~1
        carry = data[whole:]
        yield np.frombuffer(data[:whole], dtype="<i2").astype(np.int16)
    if carry:
        raise InputError("<stdin>: the PCM stream ends inside a 16-bit sample")


def _file_frames(source: BinaryIO, size: int) -> int:
    """Whole frames in an input file (0 for a pipe: no progress bar)."""
    if source is sys.stdin.buffer:
        return 0
    return os.fstat(source.fileno()).st_size // size


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


class _Output:
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

    def __enter__(self) -> "_Output":
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


def _report(args: argparse.Namespace, text: str) -> None:
    """The closing summary: on stdout, unless stdout carries the output."""
    print(text, file=sys.stderr if args.output == STDIO else sys.stdout)


def _leftover(name: str, pending: int, frames: int, size: int, rate_name: str) -> InputError:
    return InputError(f"{name}: {pending} bytes left over after {frames} whole {size}-byte {rate_name} frames")


def _frame_bytes(rate: "Rate") -> int:
    return Vocoder(rate).fec_frame_bytes


def encode_pcm(pcm: np.ndarray, rate: "Rate", args: argparse.Namespace, label: str) -> bytes:
    """Whole-file encode through the streaming encoder (the last frame zero-padded)."""
    encoder = LiveEncoder(rate)
    frames = _Frames(label, -(-pcm.size // wav.FRAME_SAMPLES), args)
    try:
        out = frames.push(encoder.push, pcm, wav.FRAME_SAMPLES) + frames.flush(encoder.flush)
    finally:
        frames.close()
    return b"".join(out)  # type: ignore[arg-type]


def decode_bits(data: bytes, rate: "Rate", args: argparse.Namespace, label: str) -> np.ndarray:
    decoder = LiveDecoder(rate)
    decoder.set_formant_weighting(WEIGHTINGS[args.formant_weighting])
    size = _frame_bytes(rate)
    frames = _Frames(label, len(data) // size, args)
    try:
        return wav.join_frames(frames.push(decoder.push, data, size))  # type: ignore[arg-type]
    finally:
        frames.close()


def cmd_encode(args: argparse.Namespace) -> None:
    rate = RATES[args.rate]
    reader = None
    if args.input == STDIO:
        chunks = _raw_pcm_chunks(_read_chunks(sys.stdin.buffer, "<stdin>"))
        total = 0
    else:
        # Read, resampled and encoded a block at a time: memory does not grow with the file.
        reader = _open_audio(args.input)
        chunks, total = _audio_blocks(reader), -(-reader.pcm_samples // wav.FRAME_SAMPLES)
    try:
        encoder = LiveEncoder(rate)
        frames = _Frames(f"encode {args.rate}", total, args)
        with _Output(args.output) as out:
            try:
                for pcm in chunks:
                    out.write(frames.push(encoder.push, pcm, wav.FRAME_SAMPLES))
                out.write(frames.flush(encoder.flush))  # the zero-padded last frame
            finally:
                frames.close()
            if frames.done == 0:
                raise _no_samples(reader.path) if reader else InputError("<stdin>: no samples")
            out.commit()
    finally:
        if reader is not None:
            reader.close()
    _report(args, f"{args.output}: {frames.done} frames, {frames.done * _frame_bytes(rate)} bytes at {args.rate}")


def _stream_frames(args: argparse.Namespace, label: str, size: int, push: Callable[[bytes], List[object]],
                   as_wav: bool, pending: Callable[[], int], rate_name: str) -> int:
    """Reads frames of `size` bytes from the input, pushes them and writes what comes out;
    returns the number of frames.  An input without a whole frame is refused and leaves no
    output; the caller reports bytes left over after whole frames."""
    source = _open_input(args.input)
    name = _input_name(args.input)
    try:
        frames = _Frames(label, _file_frames(source, size), args)
        with _Output(args.output, as_wav) as out:
            try:
                for chunk in _read_chunks(source, name):
                    out.write(frames.push(push, chunk, size))
            finally:
                frames.close()
            if frames.done == 0:
                if pending():
                    raise _leftover(name, pending(), 0, size, rate_name)
                raise InputError(f"{name}: no frames")
            out.commit()
    finally:
        if source is not sys.stdin.buffer:
            source.close()
    return frames.done


def cmd_decode(args: argparse.Namespace) -> None:
    rate = RATES[args.rate]
    size = _frame_bytes(rate)
    decoder = LiveDecoder(rate)
    decoder.set_formant_weighting(WEIGHTINGS[args.formant_weighting])
    done = _stream_frames(args, f"decode {args.rate}", size, decoder.push, as_wav=args.output != STDIO,
                          pending=lambda: decoder.pending_bytes, rate_name=args.rate)
    _report(args, f"{args.output}: {done} frames, {done * wav.FRAME_SAMPLES / wav.SAMPLE_RATE:.2f} s")
    if decoder.pending_bytes:
        raise _leftover(_input_name(args.input), decoder.pending_bytes, done, size, args.rate)


def cmd_transcode(args: argparse.Namespace) -> None:
    try:
        transcoder = Transcoder(RATES[args.source], RATES[args.target])
    except ValueError as e:
        raise InputError(str(e)) from None
    size = _frame_bytes(RATES[args.source])
    pending = bytearray()

    def push(data: bytes) -> List[object]:
        pending.extend(data)
        out: List[object] = []
        while len(pending) >= size:
            out.append(transcoder.transcode(bytes(pending[:size])))
            del pending[:size]
        return out

    done = _stream_frames(args, f"transcode {args.source}", size, push, as_wav=False,
                          pending=lambda: len(pending), rate_name=args.source)
    _report(args, f"{args.output}: {done} frames, {args.source} -> {args.target}")
    if pending:
        raise _leftover(_input_name(args.input), len(pending), done, size, args.source)


def cmd_roundtrip(args: argparse.Namespace) -> None:
    source = Path(args.input) if args.input else bundled_speech()
    # Next to the input, except for the bundled clip, whose folder belongs to the installation.
    default_dir = source.parent if args.input else Path.cwd()
    out_dir = Path(args.output_dir) if args.output_dir else default_dir
    if args.output_dir and not out_dir.is_dir():
        raise InputError(f"{out_dir}: not a directory")
    pcm = _load_input(args.input)
    seconds = pcm.size / wav.SAMPLE_RATE
    for name in args.rate or ["imbe7200"]:
        rate = RATES[name]
        t0 = time.perf_counter()
        data = encode_pcm(pcm, rate, args, f"encode {name}")
        t1 = time.perf_counter()
        decoded = decode_bits(data, rate, args, f"decode {name}")
        t2 = time.perf_counter()
        frames = len(data) // Vocoder(rate).fec_frame_bytes
        output = out_dir / f"{source.stem}.{name}.wav"
        with _Output(str(output), as_wav=True) as out:
            out.write([decoded])
            out.commit()
        enc_fps = frames / max(t1 - t0, 1e-9)
        dec_fps = frames / max(t2 - t1, 1e-9)
        print(f"{name}: {frames} frames ({seconds:.2f} s), encode {enc_fps:.0f} frames/s, "
              f"decode {dec_fps:.0f} frames/s -> {output}")


def cmd_info(args: argparse.Namespace) -> None:
    """Decodes every frame on one channel and reports what its decode reports say."""
    size = _frame_bytes(RATES[args.rate])
    vocoder = Vocoder(RATES[args.rate])
    stats = FrameStats(size)
    source = _open_input(args.input)
    name = _input_name(args.input)
    total = _file_frames(source, size)
    progress = Progress(f"info {args.rate}", total, _progress_enabled(args, total))
    pending = b""
    try:
        for chunk in _read_chunks(source, name):
            data = pending + chunk
            whole = len(data) - len(data) % size
            for at in range(0, whole, size):
                vocoder.decode_bits(data[at:at + size])
                stats.add(vocoder.last_decode_report())  # type: ignore[arg-type]
            pending = data[whole:]
            progress.update(stats.frames)
    finally:
        progress.close()
        if source is not sys.stdin.buffer:
            source.close()
    info = stats.to_dict(args.rate, name, len(pending))
    print(json.dumps(info, indent=2) if args.json else format_text(info))
    if pending:
        raise _leftover(name, len(pending), stats.frames, size, args.rate)


def _input_output(parser: argparse.ArgumentParser, args: argparse.Namespace, input_required: bool) -> None:
    """Resolves `INPUT [OUTPUT]` positionals and -o into args.input and args.output."""
    files = list(args.files)
    if len(files) > 2 or (args.output and len(files) > 1):
        parser.error("too many file arguments")
    if not args.output:
        # The last file is the output; encode alone may leave out the input (bundled clip).
        if len(files) < (2 if input_required else 1):
            parser.error("an output file is required (after the input, or with -o)")
        args.output = files.pop()
    args.input = files[0] if files else None
    if input_required and args.input is None:
        parser.error("an input file is required")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, description="P25 IMBE / AMBE+2 vocoder: encode, decode, transcode and round-trip.",
        epilog="decode and roundtrip use the standard's formant weighting by default (higher PESQ); "
               "--formant-weighting compat gives the library's default.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    rates = sorted(RATES, key=lambda n: int(RATES[n]))

    def common(p: argparse.ArgumentParser) -> None:
        p.add_argument("--progress", choices=["auto", "always", "never"], default="auto",
                       help="progress bar on stderr (auto: long files on a terminal)")

    p = sub.add_parser("encode", help="audio file (WAV, FLAC, OGG) -> frame file",
                       usage=f"{PROG} encode [options] [INPUT.wav] OUTPUT | [INPUT.wav] -o OUTPUT")
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="input audio file: WAV, FLAC, OGG (default: the bundled speech clip; '-' for raw "
                        "8 kHz s16le PCM on standard input) and output frame file ('-' for standard output)")
    p.add_argument("-o", "--output", help="output frame file")
    p.add_argument("--rate", choices=rates, default="imbe7200", help="wire rate (default imbe7200)")
    common(p)
    p.set_defaults(run=cmd_encode, resolve=lambda a, pp=p: _input_output(pp, a, input_required=False))

    p = sub.add_parser("decode", help="frame file -> WAV file",
                       usage=f"{PROG} decode [options] INPUT OUTPUT.wav | INPUT -o OUTPUT.wav")
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="input frame file (wire frames of one rate, concatenated; '-' for standard "
                        "input) and output WAV file (8 kHz, 16-bit, mono; FLAC if named .flac; '-' for "
                        "raw s16le PCM on standard output)")
    p.add_argument("-o", "--output", help="output WAV file")
    p.add_argument("--rate", choices=rates, default="imbe7200", help="wire rate (default imbe7200)")
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    common(p)
    p.set_defaults(run=cmd_decode, resolve=lambda a, pp=p: _input_output(pp, a, input_required=True))

    p = sub.add_parser("transcode", help="frame file -> frame file of another rate",
                       usage=f"{PROG} transcode --from RATE --to RATE [options] INPUT OUTPUT | INPUT -o OUTPUT")
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="input and output frame files ('-' for standard input or output)")
    p.add_argument("-o", "--output", help="output frame file")
    p.add_argument("--from", dest="source", choices=rates, required=True, help="rate of the input frames")
    p.add_argument("--to", dest="target", choices=rates, required=True,
                   help="rate of the output frames: the other form of the same codec (with or "
                        "without FEC), or imbe7200 <-> ambe3600")
    common(p)
    p.set_defaults(run=cmd_transcode, resolve=lambda a, pp=p: _input_output(pp, a, input_required=True))

    p = sub.add_parser("roundtrip", help="audio file -> encode -> decode -> WAV, with timing")
    p.add_argument("input", nargs="?", help="input audio file (default: the bundled speech clip)")
    p.add_argument("--rate", choices=rates, action="append",
                   help="wire rate, may be repeated (default imbe7200)")
    p.add_argument("-d", "--output-dir",
                   help="directory for INPUT.RATE.wav (default: beside the input; the current "
                        "directory for the bundled clip)")
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    common(p)
    p.set_defaults(run=cmd_roundtrip, resolve=lambda a: None)

    p = sub.add_parser("info", help="what a frame file holds",
                       usage=f"{PROG} info [options] FRAMES")
    p.add_argument("input", metavar="FRAMES",
                   help="frame file (wire frames of one rate, concatenated; '-' for standard input)")
    p.add_argument("--rate", choices=rates, default="imbe7200", help="wire rate (default imbe7200)")
    p.add_argument("--json", action="store_true", help="print the report as JSON")
    common(p)
    p.set_defaults(run=cmd_info, resolve=lambda a: None)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    args.resolve(args)
    try:
        args.run(args)
    except InputError as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except OutputError as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except CodecError as e:
        print(f"{PROG}: codec error: {e}", file=sys.stderr)
        return EXIT_CODEC_ERROR
    except BrokenPipeError:
        # The reader of our standard output went away (a player closed): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_CODEC_ERROR
    except OSError as e:
        # Output files that cannot be written.
        name = f"{e.filename}: " if e.filename else ""
        print(f"{PROG}: error: {name}{e.strerror or e}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
