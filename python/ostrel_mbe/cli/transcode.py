# SPDX-License-Identifier: GPL-2.0-or-later
"""transcode: frame file of one rate -> frame file of another, without going through PCM."""

from __future__ import annotations

import argparse
from typing import List

from .. import Transcoder
from .common import PROG, RATES, InputError, add_files, add_progress, frame_bytes, rate_names
from .files import input_name, leftover, report, stream_frames


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("transcode", help="frame file -> frame file of another rate",
                       usage=f"{PROG} transcode --from RATE --to RATE [options] INPUT OUTPUT | INPUT -o OUTPUT")
    add_files(p, input_required=True, files_help="input and output frame files ('-' for standard input or output)",
              output_help="output frame file")
    p.add_argument("--from", dest="source", choices=rate_names(), required=True, help="rate of the input frames")
    p.add_argument("--to", dest="target", choices=rate_names(), required=True,
                   help="rate of the output frames: the other form of the same codec (with or "
                        "without FEC), or imbe7200 <-> ambe3600")
    add_progress(p)
    p.set_defaults(run=run)
    return p


def run(args: argparse.Namespace) -> None:
    try:
        transcoder = Transcoder(RATES[args.source], RATES[args.target])
    except ValueError as e:
        raise InputError(str(e)) from None
    size = frame_bytes(RATES[args.source])
    pending = bytearray()

    def push(data: bytes) -> List[object]:
        pending.extend(data)
        out: List[object] = []
        while len(pending) >= size:
            out.append(transcoder.transcode(bytes(pending[:size])))
            del pending[:size]
        return out

    done = stream_frames(args, f"transcode {args.source}", size, push, as_wav=False,
                         pending=lambda: len(pending), rate_name=args.source)
    report(args, f"{args.output}: {done} frames, {args.source} -> {args.target}")
    if pending:
        raise leftover(input_name(args.input), len(pending), done, size, args.source)
