# SPDX-License-Identifier: GPL-2.0-or-later
"""decode: frame file (or frames on a pipe) -> 8 kHz 16-bit mono audio file, frame by frame."""

from __future__ import annotations

import argparse

from .. import LiveDecoder, wav
from .common import (PROG, RATES, WEIGHTING_HELP, WEIGHTINGS, add_files, add_progress, add_rate,
                     frame_bytes)
from .files import input_name, leftover, report, stream_frames
from .output import add_output_options, apply_output_options


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("decode", help="frame file -> WAV file",
                       usage=f"{PROG} decode [options] INPUT OUTPUT.wav | INPUT -o OUTPUT.wav")
    add_files(p, input_required=True,
              files_help="input frame file (wire frames of one rate, concatenated; '-' for standard "
                         "input) and output WAV file (8 kHz, 16-bit, mono; FLAC if named .flac; '-' for "
                         "raw s16le PCM on standard output)",
              output_help="output WAV file")
    add_rate(p)
    add_weighting(p)
    add_progress(p)
    p.set_defaults(run=run)
    return p


def add_weighting(p: argparse.ArgumentParser) -> None:
    """The decoder's options: formant weighting and the decoded-output options."""
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    add_output_options(p)


def decoder_for(args: argparse.Namespace) -> "LiveDecoder":
    """The streaming decoder with the settings the command line chose."""
    decoder = LiveDecoder(RATES[args.rate])
    decoder.set_formant_weighting(WEIGHTINGS[args.formant_weighting])
    apply_output_options(decoder, args)
    return decoder


def run(args: argparse.Namespace) -> None:
    size = frame_bytes(RATES[args.rate])
    decoder = decoder_for(args)
    done = stream_frames(args, f"decode {args.rate}", size, decoder.push, as_wav=True,
                         pending=lambda: decoder.pending_bytes, rate_name=args.rate)
    report(args, f"{args.output}: {done} frames, {done * wav.FRAME_SAMPLES / wav.SAMPLE_RATE:.2f} s")
    if decoder.pending_bytes:
        raise leftover(input_name(args.input), decoder.pending_bytes, done, size, args.rate)
