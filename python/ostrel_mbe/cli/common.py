# SPDX-License-Identifier: GPL-2.0-or-later
"""What every subcommand shares: the rate names, the errors and their exit statuses, the
bundled clip, the progress bar and the frame-by-frame driver that names a refused frame."""

from __future__ import annotations

import argparse
import sys
from importlib import resources
from pathlib import Path
from typing import Callable, Dict, List, Optional, TypeVar

from tqdm import tqdm

from .. import FormantWeighting, Rate, Vocoder
from ..whole_buffer import RATES

# The library's names of the rates, as its messages give them, and the command line's.
LIBRARY_RATE_NAMES = {"Imbe7200x4400": "imbe7200", "Imbe4400x4400": "imbe4400",
                      "AmbePlus2_3600x2450": "ambe3600", "AmbePlus2_2450x2450": "ambe2450"}


def command_line_names(text: str) -> str:
    """A library message with the command line's rate names in place of the library's."""
    for library, ours in LIBRARY_RATE_NAMES.items():
        text = text.replace(library, ours)
    return text


WEIGHTINGS: Dict[str, "FormantWeighting"] = {
    "standard": FormantWeighting.STANDARD,
    "compat": FormantWeighting.COMPAT,
}
WEIGHTING_HELP = ("formant weighting of the decoder's spectral enhancement: standard (default here) "
                  "sharpens formants at any level and scores higher on PESQ; compat is the library's "
                  "default, with slightly higher STOI")

PROG = "ostrel_mbe"
EXIT_OK = 0
EXIT_CODEC_ERROR = 1
EXIT_FILES_FAILED = 1  # batch: some files failed, the others were done
EXIT_BAD_INPUT = 2
EXIT_INTERRUPTED = 130
# Samples from an input sample to its decoded self: the encoder's two frames of look-ahead, and
# half a frame of the synthesis, whose output frame runs from the middle of the previous frame's
# analysis window to the middle of the current one.
CODEC_DELAY_SAMPLES = 2 * 160 + 80
# Frames of silence encoded after the last one, so that the end of a recording comes out of
# the decoder instead of staying in the encoder's look-ahead.
FLUSH_FRAMES = -(-CODEC_DELAY_SAMPLES // 160)
# Files of at least this many frames (10 s) get a progress bar when stderr is a terminal.
PROGRESS_MIN_FRAMES = 500

T = TypeVar("T")


class InputError(Exception):
    """A bad input file or argument: reported in one line, exit status 2."""


class CodecError(Exception):
    """The codec refused a frame: reported in one line, exit status 1."""


class Terminated(BaseException):
    """SIGTERM or SIGHUP: raised where the program is, so that every open output is dropped on
    the way out, as Ctrl-C (KeyboardInterrupt) does."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


# The signal being handled.  Raised in a callback from C (libsndfile writing through Python),
# the exception would only be printed; FrameDriver raises it again at the next frame.
TERMINATING: List[int] = []


def terminate(signum: int, frame: object) -> None:
    """The handler of SIGTERM and SIGHUP."""
    TERMINATING.append(signum)
    raise Terminated(signum)


def interrupt(signum: int, frame: object) -> None:
    """The handler of SIGINT: Python's KeyboardInterrupt, remembered like the others, so that a
    Ctrl-C that lands in a callback from C is not lost while the input waits on a pipe."""
    TERMINATING.append(signum)
    raise KeyboardInterrupt


def bundled_speech() -> Path:
    """Path of the bundled 8 kHz speech clip (CC BY-SA 3.0, see data/ATTRIBUTION.md)."""
    return Path(str(resources.files("ostrel_mbe").joinpath("data", "speech_8k.wav")))


def rate_names() -> List[str]:
    """The command line's rate names in the order of the library's rates."""
    return sorted(RATES, key=lambda n: int(RATES[n]))


def frame_bytes(rate: "Rate") -> int:
    return Vocoder(rate).fec_frame_bytes


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


def progress_enabled(args: argparse.Namespace, frames: int) -> bool:
    if args.progress == "always":
        return True
    if args.progress == "never":
        return False
    return frames >= PROGRESS_MIN_FRAMES and sys.stderr.isatty()


class FrameDriver:
    """Drives a stream object (LiveEncoder, LiveDecoder, a transcoding step) one frame's worth
    of input at a time, so that an error names its frame, with a progress bar for files."""

    def __init__(self, label: str, total: int, args: argparse.Namespace) -> None:
        self.done = 0
        self.progress = Progress(label, total, total > 0 and progress_enabled(args, total))

    def push(self, push: Callable[[T], List[object]], data: T, size: int) -> List[object]:
        out: List[object] = []
        for at in range(0, len(data), size):  # type: ignore[arg-type]
            # Less than a frame's worth completes at most one frame.
            out += self._step(lambda: push(data[at:at + size]))  # type: ignore[index]
        return out

    def flush(self, flush: Callable[[], Optional[T]]) -> List[object]:
        return self._step(lambda: [] if (last := flush()) is None else [last])

    def _step(self, call: Callable[[], List[object]]) -> List[object]:
        if TERMINATING:
            raise Terminated(TERMINATING[0])
        try:
            produced = call()
        except ValueError as e:
            raise CodecError(f"frame {self.done}: {e}") from None
        self.done += len(produced)
        self.progress.update(self.done)
        return produced

    def close(self) -> None:
        self.progress.close()


def add_progress(p: argparse.ArgumentParser) -> None:
    p.add_argument("--progress", choices=["auto", "always", "never"], default="auto",
                   help="progress bar on stderr (auto: long files on a terminal)")


def add_rate(p: argparse.ArgumentParser) -> None:
    p.add_argument("--rate", choices=rate_names(), default="imbe7200", help="wire rate (default imbe7200)")


def add_files(p: argparse.ArgumentParser, input_required: bool, files_help: str, output_help: str) -> None:
    """`INPUT [OUTPUT]` positionals and -o, resolved after parsing into args.input and args.output."""
    p.add_argument("files", nargs="*", metavar="FILE", help=files_help)
    p.add_argument("-o", "--output", help=output_help)
    p.set_defaults(resolve=lambda a, pp=p: resolve_files(pp, a, input_required))


def resolve_files(parser: argparse.ArgumentParser, args: argparse.Namespace, input_required: bool) -> None:
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
