# SPDX-License-Identifier: GPL-2.0-or-later
"""decode: frame file (or frames on a pipe) -> 8 kHz 16-bit mono audio file, frame by frame."""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from .. import Rate, Vocoder, wav
from ..info import FrameStats
from .common import PROG, RATES, WEIGHTING_HELP, WEIGHTINGS, add_files, add_progress, add_rate
from .files import input_name, leftover, report, stream_frames
from .output import add_output_options, apply_output_options

# More than this share of the frames lost (of at least this many frames) draws a warning: a
# clean file at its own rate loses none, a file read at another rate most of them.
WRONG_RATE_LOST_SHARE = 0.5
WRONG_RATE_MIN_FRAMES = 10


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("decode", help="frame file -> WAV file",
                       usage=f"{PROG} decode [options] INPUT OUTPUT.wav | INPUT -o OUTPUT.wav")
    add_files(p, input_required=True,
              files_help="input frame file (wire frames of one rate, concatenated; '-' for standard "
                         "input) and output audio file (8 kHz, 16-bit, mono; WAV, or the format its "
                         "extension names: .flac, .ogg, .aiff, .au, .caf, .w64, .raw; '-', /dev/stdout, a "
                         "FIFO or a device get raw s16le PCM)",
              output_help="output WAV file")
    add_rate(p)
    add_decoder_options(p)
    add_progress(p)
    p.set_defaults(run=run)
    return p


def add_decoder_options(p: argparse.ArgumentParser) -> None:
    """The decoder's settings, for every command that decodes (decode, roundtrip)."""
    p.add_argument("--formant-weighting", choices=list(WEIGHTINGS), default="standard", help=WEIGHTING_HELP)
    add_output_options(p)


def configure_decoder(channel: "Vocoder", args: argparse.Namespace) -> None:
    """Applies the settings of add_decoder_options to a channel (Vocoder or LiveDecoder)."""
    channel.set_formant_weighting(WEIGHTINGS[args.formant_weighting])
    apply_output_options(channel, args)


class WatchedDecoder:
    """A channel fed frame by frame, as LiveDecoder does, that also counts what its decode
    reports say (FrameStats), so that a file read at the wrong rate can be told."""

    def __init__(self, rate: "Rate", args: argparse.Namespace) -> None:
        self.vocoder = Vocoder(rate)
        configure_decoder(self.vocoder, args)
        self.size = self.vocoder.fec_frame_bytes
        self.stats = FrameStats(self.size)
        self.pending = b""

    def push(self, data: bytes) -> List[object]:
        data = self.pending + data
        whole = len(data) - len(data) % self.size
        out: List[object] = []
        for at in range(0, whole, self.size):
            out.append(self.vocoder.decode_bits(data[at:at + self.size]))
            self.stats.add(self.vocoder.last_decode_report())  # type: ignore[arg-type]
        self.pending = data[whole:]
        return out


def wrong_rate_warning(name: str, stats: FrameStats, rate_name: str) -> Optional[str]:
    """A warning when most frames were lost, the mark of frames read at the wrong rate."""
    if stats.frames < WRONG_RATE_MIN_FRAMES or stats.lost_frames <= stats.frames * WRONG_RATE_LOST_SHARE:
        return None
    return (f"{PROG}: warning: {name}: {stats.lost_frames} of {stats.frames} frames were erased, invalid, "
            f"repeated or muted at {rate_name}: is --rate right? (info without --rate guesses it)")


def run(args: argparse.Namespace) -> None:
    decoder = WatchedDecoder(RATES[args.rate], args)
    size = decoder.size
    done = stream_frames(args, f"decode {args.rate}", size, decoder.push, as_wav=True,
                         pending=lambda: len(decoder.pending), rate_name=args.rate)
    report(args, f"{args.output}: {done} frames, {done * wav.FRAME_SAMPLES / wav.SAMPLE_RATE:.2f} s")
    warning = wrong_rate_warning(input_name(args.input), decoder.stats, args.rate)
    if warning and not decoder.pending:  # left-over bytes are the error reported then
        # A batch collects the warning into the file's report entry instead.
        sink = getattr(args, "warnings", None)
        if sink is not None:
            sink.append(warning)
        else:
            print(warning, file=sys.stderr)
    if decoder.pending:
        raise leftover(input_name(args.input), len(decoder.pending), done, size, args.rate)
