# SPDX-License-Identifier: GPL-2.0-or-later
"""batch: one of encode, decode, transcode, roundtrip, simulate over many files into an output
folder, on a local process pool (--workers) or a Dask cluster (--scheduler); see ostrel_mbe.batch."""

from __future__ import annotations

import argparse
import json
import os
import sys
import time
from typing import Any, Dict, List, Optional

from .. import batch
from .common import EXIT_FILES_FAILED, PROG, InputError


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser(
        "batch", help="encode, decode, transcode, round-trip or simulate many files into a folder",
        usage=f"{PROG} batch COMMAND [options] -o OUTDIR INPUT...",
        description="Runs COMMAND over every input into OUTDIR, mirroring the inputs' relative paths. "
                    "Outputs complete from an earlier run with the same options are skipped, so an "
                    "interrupted batch resumes; OUTDIR/batch_report.jsonl records every file. Exit "
                    "status 1 when any file failed (the others are still done).")
    commands = p.add_subparsers(dest="batch_command", required=True, metavar="COMMAND")
    for name in batch.COMMANDS:
        b = commands.add_parser(name, help=f"{name} every input", prog=f"{PROG} batch {name}",
                                usage=f"{PROG} batch {name} [options] -o OUTDIR INPUT...")
        # The single-file command's own options, so that options added to it apply here too
        # (argparse has no public way to copy arguments; its _actions have been stable for years).
        single = batch.command_parser(name)
        grouped = {}
        for group in single._mutually_exclusive_groups:
            copy = b.add_mutually_exclusive_group(required=group.required)
            grouped.update({id(a): copy for a in group._group_actions})
        for action in batch.option_actions(single):
            grouped.get(id(action), b)._add_action(action)
        add_batch_options(b)
    p.set_defaults(run=run, resolve=lambda a: None)
    return p


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def add_batch_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("inputs", nargs="+", metavar="INPUT",
                   help="input files, folders (searched recursively: audio files for encode, "
                        "roundtrip and simulate, files named *.RATE for decode and transcode) and @LIST files "
                        "(one path a line)")
    p.add_argument("-o", "--output-dir", dest="out_dir", required=True, metavar="OUTDIR",
                   help="output folder: the inputs' relative paths are mirrored in it")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--workers", type=positive, metavar="N",
                       help="local worker processes (default: one per CPU)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on a Dask cluster (e.g. tcp://host:8786) whose workers see the same "
                            "files at the same paths")
    p.add_argument("--force", action="store_true", help="redo outputs that are already complete")
    p.add_argument("--json", dest="batch_json", action="store_true", help="print the summary as JSON")
    p.add_argument("--progress", dest="batch_progress", choices=["auto", "always", "never"], default="auto",
                   help="progress bar over the files on stderr (auto: on a terminal)")


def dask_client(address: str) -> Any:
    try:
        from dask.distributed import Client
    except ImportError:
        raise InputError("--scheduler needs Dask: pip install 'ostrel_mbe[dask]'") from None
    try:
        return Client(address, timeout=30)
    except (OSError, ValueError) as e:
        raise InputError(f"{address}: cannot reach the Dask scheduler: {e}") from None


def run(args: argparse.Namespace) -> Optional[int]:
    command = args.batch_command
    options = {a.dest: getattr(args, a.dest) for a in batch.option_actions(batch.command_parser(command))}
    progress = args.batch_progress == "always" or (args.batch_progress == "auto" and sys.stderr.isatty())
    client = dask_client(args.scheduler) if args.scheduler else None
    start = time.perf_counter()
    try:
        entries = batch.run(command, args.inputs, args.out_dir, executor=client and client.get_executor(),
                            workers=args.workers, force=args.force, progress=progress, **options)
    except batch.BatchError as e:
        raise InputError(str(e)) from None
    finally:
        if client is not None:
            client.close()
    failed = print_summary(entries, args.out_dir, time.perf_counter() - start, args.batch_json)
    return EXIT_FILES_FAILED if failed else None


def print_summary(entries: List[Dict[str, Any]], out_dir: str, wall: float, as_json: bool) -> int:
    failed = [e for e in entries if e["status"] == "failed"]
    for e in failed:
        error = e["error"] if e["input"] in e["error"] else f"{e['input']}: {e['error']}"
        print(f"{PROG}: error: {error}", file=sys.stderr)
    for e in entries:
        if e["status"] == "ok" and e.get("warning"):
            print(e["warning"], file=sys.stderr)
    s = batch.summarize(entries, wall)
    if as_json:
        print(json.dumps({**s, "report": os.path.join(out_dir, batch.REPORT_NAME)}, indent=2))
    else:
        speed = f", {s['times_real_time']:.0f}x real time" if s["times_real_time"] else ""
        print(f"{s['files']} files: {s['done']} done, {s['skipped']} already complete, {s['failures']} failed; "
              f"{s['audio_hours']:.3f} h of audio in {wall:.1f} s{speed}; report: "
              f"{os.path.join(out_dir, batch.REPORT_NAME)}")
    return len(failed)
