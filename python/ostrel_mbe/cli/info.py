# SPDX-License-Identifier: GPL-2.0-or-later
"""info: what a frame file holds, from the decoder's own report of every frame."""

from __future__ import annotations

import argparse
import json
import os
import sys

from .. import Vocoder
from ..info import FrameStats, format_text
from .common import PROG, RATES, InputError, Progress, add_progress, frame_bytes, progress_enabled, rate_names
from .files import STDIO, file_frames, frame_chunks, input_name, leftover, open_input, unreadable

# The rates whose error-correcting codes tell right frames from wrong ones.
FEC_RATES = ("imbe7200", "ambe3600")
# Frames decoded per candidate rate when guessing, the share of them a right rate may lose at
# most, and how much fewer it must lose than the other FEC rate.
GUESS_FRAMES = 250
GUESS_MAX_LOST_SHARE = 0.5
GUESS_MARGIN = 0.25


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("info", help="what a frame file holds", usage=f"{PROG} info [options] FRAMES")
    p.add_argument("input", metavar="FRAMES",
                   help="frame file (wire frames of one rate, concatenated; '-' for standard input)")
    p.add_argument("--rate", choices=rate_names(),
                   help="wire rate (default: guessed from the file's length and, for the FEC rates, "
                        "the error statistics of its first frames)")
    p.add_argument("--json", action="store_true", help="print the report as JSON")
    add_progress(p)
    p.set_defaults(run=run, resolve=lambda a: None)
    return p


def _stats(path: str, rate_name: str, frames: int) -> FrameStats:
    """The decode reports of the first frames of a file read at one rate."""
    size = frame_bytes(RATES[rate_name])
    vocoder = Vocoder(RATES[rate_name])
    stats = FrameStats(size)
    with open(path, "rb") as f:
        data = f.read(frames * size)
    for at in range(0, len(data) - size + 1, size):
        vocoder.decode_bits(data[at:at + size])
        stats.add(vocoder.last_decode_report())  # type: ignore[arg-type]
    return stats


def guess_rate(path: str) -> str:
    """The rate of a frame file: the rates whose frame size divides its length, and among them
    a FEC rate whose first frames decode cleanly.  Refuses when that leaves several rates (the
    rates without FEC cannot be told apart by their contents)."""
    if path == STDIO:
        raise InputError("<stdin>: give --rate for standard input (the rate is guessed from a file's length)")
    try:
        length = os.stat(path).st_size
        candidates = [n for n in rate_names() if length and length % frame_bytes(RATES[n]) == 0]
        lost = {n: _lost_share(_stats(path, n, GUESS_FRAMES)) for n in candidates if n in FEC_RATES}
    except OSError as e:
        raise unreadable(path, e) from None
    clean = sorted((share, n) for n, share in lost.items() if share < GUESS_MAX_LOST_SHARE)
    if clean and (len(clean) == 1 or clean[1][0] - clean[0][0] > GUESS_MARGIN):
        chosen, how = clean[0][1], "its length and error statistics"
    elif len(candidates) == 1:
        chosen, how = candidates[0], "its length"
    elif not length:
        raise InputError(f"{path}: no frames")
    elif not candidates:
        raise InputError(f"{path}: its length, {length} bytes, is no whole number of frames at any rate; "
                         f"give --rate")
    else:
        raise InputError(f"{path}: cannot tell the rate: its length fits {', '.join(candidates)}; give --rate")
    print(f"{PROG}: {path}: rate {chosen}, guessed from {how}", file=sys.stderr)
    return chosen


def _lost_share(stats: FrameStats) -> float:
    return stats.lost_frames / stats.frames if stats.frames else 1.0


def run(args: argparse.Namespace) -> None:
    """Decodes every frame on one channel and reports what its decode reports say."""
    if args.rate is None:
        args.rate = guess_rate(args.input)
    size = frame_bytes(RATES[args.rate])
    vocoder = Vocoder(RATES[args.rate])
    stats = FrameStats(size)
    source = open_input(args.input)
    name = input_name(args.input)
    total = file_frames(source, size)
    progress = Progress(f"info {args.rate}", total, progress_enabled(args, total))
    pending = b""
    try:
        for chunk in frame_chunks(source, name):
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
    if stats.frames == 0:
        # As decode: nothing to report on is a fault the user should hear about.
        raise leftover(name, len(pending), 0, size, args.rate) if pending else InputError(f"{name}: no frames")
    info = stats.to_dict(args.rate, name, len(pending))
    print(json.dumps(info, indent=2) if args.json else format_text(info))
    if pending:
        raise leftover(name, len(pending), stats.frames, size, args.rate)
