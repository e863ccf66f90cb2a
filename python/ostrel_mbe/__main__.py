"""Command line: python -m ostrel_mbe {encode,decode,roundtrip}.

encode     WAV file -> frame file (the wire frames of one rate, concatenated)
           python -m ostrel_mbe encode --rate ambe3600 input.wav frames.bin
decode     frame file -> 8 kHz 16-bit mono WAV file
           python -m ostrel_mbe decode --rate ambe3600 frames.bin output.wav
roundtrip  WAV file -> encode -> decode -> WAV file, at one or more rates, with timing
           python -m ostrel_mbe roundtrip --rate imbe7200 input.wav   (writes input.imbe7200.wav)

decode and roundtrip decode with the standard's formant weighting (FormantWeighting.STANDARD),
which scores higher on PESQ than the library's default; --formant-weighting compat selects the
library's default (FormantWeighting.COMPAT).

The output file may also be given with -o.  Without an input file (encode -o FILE, roundtrip),
the bundled speech clip is used.  Bad input files end the program with exit status 2 and a
one-line message.
"""

from __future__ import annotations

import argparse
import sys
import time
from importlib import resources
from pathlib import Path
from typing import Callable, Dict, List, Optional, Sequence, TypeVar

import numpy as np

from . import FormantWeighting, Rate, Vocoder, wav

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

T = TypeVar("T")


class InputError(Exception):
    """A bad input file or argument: reported in one line, exit status 2."""


class CodecError(Exception):
    """The codec refused a frame: reported in one line, exit status 1."""


def bundled_speech() -> Path:
    """Path of the bundled 8 kHz speech clip (CC BY-SA 3.0, see data/ATTRIBUTION.md)."""
    return Path(str(resources.files(__package__).joinpath("data", "speech_8k.wav")))


class Progress:
    """A one-line progress bar on stderr, drawn only when enabled."""

    def __init__(self, label: str, total: int, enabled: bool, width: int = 30) -> None:
        self.label, self.total, self.enabled, self.width = label, total, enabled, width
        self.shown = -1

    def update(self, done: int) -> None:
        if not self.enabled or self.total <= 0:
            return
        percent = done * 100 // self.total
        if percent == self.shown:
            return
        self.shown = percent
        filled = done * self.width // self.total
        bar = "#" * filled + "-" * (self.width - filled)
        sys.stderr.write(f"\r{self.label} [{bar}] {percent:3d}% {done}/{self.total} frames")
        sys.stderr.flush()

    def close(self) -> None:
        if self.enabled and self.shown >= 0:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _progress_enabled(args: argparse.Namespace, frames: int) -> bool:
    if args.progress == "always":
        return True
    if args.progress == "never":
        return False
    return frames >= PROGRESS_MIN_FRAMES and sys.stderr.isatty()


def _run_frames(label: str, items: Sequence[T], step: Callable[[T], object],
                args: argparse.Namespace) -> List[object]:
    progress = Progress(label, len(items), _progress_enabled(args, len(items)))
    out = []
    try:
        for i, item in enumerate(items):
            try:
                out.append(step(item))
            except ValueError as e:
                raise CodecError(f"frame {i}: {e}") from None
            progress.update(i + 1)
    finally:
        progress.close()
    return out


def _load_input(path: Optional[str]) -> np.ndarray:
    source = Path(path) if path else bundled_speech()
    try:
        return wav.load_pcm(source)
    except FileNotFoundError:
        raise InputError(f"{source}: no such file") from None
    except IsADirectoryError:
        raise InputError(f"{source}: is a directory") from None
    except OSError as e:
        raise InputError(f"{source}: {e.strerror or e}") from None
    except wav.WavError as e:
        raise InputError(f"{source}: {e}") from None


def encode_pcm(pcm: np.ndarray, rate: "Rate", args: argparse.Namespace, label: str) -> bytes:
    vocoder = Vocoder(rate)
    frames = wav.split_frames(pcm)
    return b"".join(_run_frames(label, list(frames), vocoder.encode_pcm, args))  # type: ignore[arg-type]


def decode_bits(data: bytes, rate: "Rate", args: argparse.Namespace, label: str) -> np.ndarray:
    vocoder = Vocoder(rate)
    vocoder.set_formant_weighting(WEIGHTINGS[args.formant_weighting])
    size = vocoder.fec_frame_bytes
    chunks = [data[i:i + size] for i in range(0, len(data), size)]
    return wav.join_frames(_run_frames(label, chunks, vocoder.decode_bits, args))  # type: ignore[arg-type]


def cmd_encode(args: argparse.Namespace) -> None:
    pcm = _load_input(args.input)
    rate = RATES[args.rate]
    data = encode_pcm(pcm, rate, args, f"encode {args.rate}")
    Path(args.output).write_bytes(data)
    frames = len(data) // Vocoder(rate).fec_frame_bytes
    print(f"{args.output}: {frames} frames, {len(data)} bytes at {args.rate}")


def cmd_decode(args: argparse.Namespace) -> None:
    rate = RATES[args.rate]
    size = Vocoder(rate).fec_frame_bytes
    try:
        data = Path(args.input).read_bytes()
    except FileNotFoundError:
        raise InputError(f"{args.input}: no such file") from None
    except OSError as e:
        raise InputError(f"{args.input}: {e.strerror or e}") from None
    if len(data) % size != 0:
        raise InputError(f"{args.input}: {len(data)} bytes is not a whole number of "
                         f"{size}-byte {args.rate} frames")
    pcm = decode_bits(data, rate, args, f"decode {args.rate}")
    wav.write(args.output, pcm)
    print(f"{args.output}: {len(data) // size} frames, {pcm.size / wav.SAMPLE_RATE:.2f} s")


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
        wav.write(output, decoded)
        enc_fps = frames / max(t1 - t0, 1e-9)
        dec_fps = frames / max(t2 - t1, 1e-9)
        print(f"{name}: {frames} frames ({seconds:.2f} s), encode {enc_fps:.0f} frames/s, "
              f"decode {dec_fps:.0f} frames/s -> {output}")


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
        prog=PROG, description="P25 IMBE / AMBE+2 vocoder: encode, decode and round-trip WAV files.",
        epilog="decode and roundtrip use the standard's formant weighting by default (higher PESQ); "
               "--formant-weighting compat gives the library's default.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    rates = sorted(RATES, key=lambda n: int(RATES[n]))

    def common(p: argparse.ArgumentParser) -> None:
        p.add_argument("--progress", choices=["auto", "always", "never"], default="auto",
                       help="progress bar on stderr (auto: long files on a terminal)")

    p = sub.add_parser("encode", help="WAV file -> frame file",
                       usage=f"{PROG} encode [options] [INPUT.wav] OUTPUT | [INPUT.wav] -o OUTPUT")
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="input WAV file (default: the bundled speech clip) and output frame file")
    p.add_argument("-o", "--output", help="output frame file")
    p.add_argument("--rate", choices=rates, default="imbe7200", help="wire rate (default imbe7200)")
    common(p)
    p.set_defaults(run=cmd_encode, resolve=lambda a, pp=p: _input_output(pp, a, input_required=False))

    p = sub.add_parser("decode", help="frame file -> WAV file",
                       usage=f"{PROG} decode [options] INPUT OUTPUT.wav | INPUT -o OUTPUT.wav")
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="input frame file (wire frames of one rate, concatenated) and output WAV file "
                        "(8 kHz, 16-bit, mono)")
    p.add_argument("-o", "--output", help="output WAV file")
    p.add_argument("--rate", choices=rates, default="imbe7200", help="wire rate (default imbe7200)")
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    common(p)
    p.set_defaults(run=cmd_decode, resolve=lambda a, pp=p: _input_output(pp, a, input_required=True))

    p = sub.add_parser("roundtrip", help="WAV -> encode -> decode -> WAV, with timing")
    p.add_argument("input", nargs="?", help="input WAV file (default: the bundled speech clip)")
    p.add_argument("--rate", choices=rates, action="append",
                   help="wire rate, may be repeated (default imbe7200)")
    p.add_argument("-d", "--output-dir",
                   help="directory for INPUT.RATE.wav (default: beside the input; the current "
                        "directory for the bundled clip)")
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    common(p)
    p.set_defaults(run=cmd_roundtrip, resolve=lambda a: None)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    args.resolve(args)
    try:
        args.run(args)
    except InputError as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except CodecError as e:
        print(f"{PROG}: codec error: {e}", file=sys.stderr)
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
