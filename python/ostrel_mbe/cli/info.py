# SPDX-License-Identifier: GPL-2.0-or-later
"""info: what a frame file holds, from the decoder's own report of every frame."""

from __future__ import annotations

import argparse
import json
import sys

from .. import Vocoder
from ..info import FrameStats, format_text
from .common import PROG, RATES, Progress, add_progress, add_rate, frame_bytes, progress_enabled
from .files import file_frames, input_name, leftover, open_input, read_chunks


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("info", help="what a frame file holds", usage=f"{PROG} info [options] FRAMES")
    p.add_argument("input", metavar="FRAMES",
                   help="frame file (wire frames of one rate, concatenated; '-' for standard input)")
    add_rate(p)
    p.add_argument("--json", action="store_true", help="print the report as JSON")
    add_progress(p)
    p.set_defaults(run=run, resolve=lambda a: None)
    return p


def run(args: argparse.Namespace) -> None:
    """Decodes every frame on one channel and reports what its decode reports say."""
    size = frame_bytes(RATES[args.rate])
    vocoder = Vocoder(RATES[args.rate])
    stats = FrameStats(size)
    source = open_input(args.input)
    name = input_name(args.input)
    total = file_frames(source, size)
    progress = Progress(f"info {args.rate}", total, progress_enabled(args, total))
    pending = b""
    try:
        for chunk in read_chunks(source, name):
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
        raise leftover(name, len(pending), stats.frames, size, args.rate)
