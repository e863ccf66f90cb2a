# SPDX-License-Identifier: GPL-2.0-or-later
"""Command line: python -m ostrel_mbe (or ostrel-mbe) {encode,decode,transcode,roundtrip,info,simulate,batch}.

encode     audio file (WAV, FLAC, OGG; MP3 where libsndfile reads it) -> frame file (the wire
           frames of one rate, concatenated), read and encoded a block at a time, then three
           frames of silence that bring the codec's delay out
           python -m ostrel_mbe encode --rate ambe3600 input.wav frames.bin
decode     frame file -> 8 kHz 16-bit mono audio file (WAV, or the format its extension names)
           python -m ostrel_mbe decode --rate ambe3600 frames.bin output.wav
transcode  frame file of one rate -> frame file of another, without going through PCM
           python -m ostrel_mbe transcode --from imbe7200 --to ambe3600 in.bin out.bin
roundtrip  audio file -> encode -> decode -> WAV file aligned with the input, at one or more
           rates, with timing
           python -m ostrel_mbe roundtrip --rate imbe7200 input.wav   (writes input.imbe7200.wav)
info       what a frame file holds: frame kinds, corrected bit errors, lost frames, tones; the
           rate guessed when not given
           python -m ostrel_mbe info frames.bin [--json]
simulate   audio file -> encode -> simulated radio channel -> decode -> WAV file, printing the raw
           bit error rate and the frames repeated and muted; AWGN channels decode soft decisions
           python -m ostrel_mbe simulate --rate imbe7200 --esn0 1.3 input.wav output.wav
batch      one of encode, decode, transcode, roundtrip, simulate over many files into a folder,
           on local worker processes or a Dask cluster; resumes an interrupted batch (ostrel_mbe.batch)
           python -m ostrel_mbe batch encode --rate ambe3600 --workers 2 -o coded corpus/

decode and roundtrip decode with the standard's formant weighting (FormantWeighting.STANDARD),
which scores higher on PESQ than the library's default; --formant-weighting compat selects the
library's default (FormantWeighting.COMPAT).  encode, roundtrip and simulate encode the half rates
with the quantizer search (Vocoder.set_quantizer_search), and transcode converts imbe7200 to
ambe3600 with it (Transcoder.set_quantizer_search); both score higher on PESQ, STOI and DNSMOS
P.808 than the library's default; --quantizer plain selects the library's default.

The output file may also be given with -o.  Without an input file (encode -o FILE, roundtrip),
the bundled speech clip is used.  encode, decode, transcode and info take "-" for standard input or
output and stream: PCM on a pipe is raw 8 kHz 16-bit little-endian mono unless its first bytes
name a WAV, FLAC or OGG stream, frames are read and written as they arrive, so a demodulator's
frames can be piped through decode to a player.  /dev/stdout, /dev/fd/N and outputs that are not
regular files are streams too.  Bad input files end the program with exit status 2 and a
one-line message naming the file; so do outputs that cannot be written, outputs that are an
input, inputs that hold no samples or no whole frame (no output is written), and a frame stream
that ends inside a frame, after the whole frames before it have been written.  An output file
appears only once it is complete: it is written beside its final name, flushed to disk and
renamed into place, so a failed or interrupted run (SIGINT, SIGTERM, SIGHUP) leaves no truncated
file behind and an older file of that name as it was.

Layout: one module per subcommand, each with `add_parser(subparsers)` and `run(args)`, listed in
COMMANDS; `files` holds what they share about inputs and outputs (and `write_output`, a safe
write of a finished output for any later command), `common` the rest (rates, errors, progress).
"""

from __future__ import annotations

import argparse
import os
import signal
import sys
from typing import Optional, Sequence

from .. import __version__
from . import batch, decode, encode, info, roundtrip, simulate, transcode
from .common import (TERMINATING, EXIT_BAD_INPUT, EXIT_CODEC_ERROR, EXIT_INTERRUPTED, EXIT_OK, PROG, RATES, CodecError,
                     InputError, Terminated, bundled_speech, command_line_names, interrupt, terminate)
from .files import OutputError

__all__ = ["COMMANDS", "RATES", "build_parser", "bundled_speech", "main"]

# In the order `--help` lists them.
COMMANDS = [encode, decode, transcode, roundtrip, info, simulate, batch]


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, description="P25 IMBE / AMBE+2 vocoder: encode, decode, transcode and round-trip.",
        epilog="decode and roundtrip use the standard's formant weighting by default (higher PESQ); "
               "--formant-weighting compat gives the library's default. encode, roundtrip, simulate and transcode "
               "use the half-rate quantizer search by default; --quantizer plain gives the library's default.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        command.add_parser(sub)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    args.resolve(args)
    # File names that are not UTF-8 come back from the OS with escapes that a strict stdout
    # cannot encode: printed as backslash escapes rather than ending in a traceback.
    streams = [(s, s.errors) for s in (sys.stdout, sys.stderr) if hasattr(s, "reconfigure")]
    for s, _ in streams:
        s.reconfigure(errors="backslashreplace")
    previous = {}
    handlers = [(signal.SIGTERM, terminate), (signal.SIGHUP, terminate)]
    if signal.getsignal(signal.SIGINT) is signal.default_int_handler:  # not ignored, not the caller's own
        handlers.append((signal.SIGINT, interrupt))
    for signum, handler in handlers:
        try:
            previous[signum] = signal.signal(signum, handler)
        except ValueError:
            pass  # not the main thread: the caller owns the signals
    try:
        return _run(args)
    except Terminated as e:
        return 128 + e.signum
    finally:
        TERMINATING.clear()
        for signum, old in previous.items():
            signal.signal(signum, old)
        for s, errors in streams:
            s.reconfigure(errors=errors)


def _run(args: argparse.Namespace) -> int:
    try:
        # A command returns its exit status when it is not plain success (batch: some files failed).
        status = args.run(args)
    except (InputError, OutputError) as e:
        print(f"{PROG}: error: {command_line_names(str(e))}", file=sys.stderr)
        return EXIT_BAD_INPUT
    except CodecError as e:
        print(f"{PROG}: codec error: {command_line_names(str(e))}", file=sys.stderr)
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
        return EXIT_INTERRUPTED
    return EXIT_OK if status is None else status
