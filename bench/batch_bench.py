#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Throughput of `batch` over a generated corpus: hours of audio per hour of wall time, and per
core, with 1 and 2 local worker processes and with a Dask LocalCluster of 2 worker processes.
Beside them, what the machine itself allows: one process encoding the files one after another
(the per-file function in a loop, no pool), and two such independent processes, each with half
of the files, run at once.  Each figure is the median of --repeats runs, with their spread.

    python bench/batch_bench.py                    # 60 files of 60 s, 2 repeats (a few minutes)
    python bench/batch_bench.py --full             # 200 files of 60 s, as the issue sizes it
    python bench/batch_bench.py --files 10 --seconds 20 --repeats 1 --command decode --json out.json

The pool's and the cluster's start-up is inside their timings; `start-up` is the wall time of a
batch of two 1-second files on 2 workers, and its share of a 2-worker run is printed.  The Dask
cluster is started once, outside the timings, as a user's cluster would be.  Codec2 3200
(Debian's libcodec2 through ctypes) encoding the same audio in one process is the yardstick.
"""
from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict, List

import numpy as np

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(Path(__file__).resolve().parent))
from python_bench import bench_codec2, load_codec2  # noqa: E402

from ostrel_mbe import batch, wav  # noqa: E402
from ostrel_mbe.__main__ import bundled_speech  # noqa: E402

FLAGS = {"encode": {"rate": "imbe7200"}, "decode": {"rate": "imbe7200"},
         "roundtrip": {"rate": ["imbe7200"]}}


def make_corpus(root: Path, files: int, seconds: float) -> None:
    """`files` 8 kHz WAV files of `seconds` each: the bundled speech tiled at a different level
    and offset per file, in folders of 20."""
    speech = wav.load_pcm(bundled_speech()).astype(np.float64)
    n = int(seconds * wav.SAMPLE_RATE)
    for i in range(files):
        tiled = np.resize(np.roll(speech, 977 * i), n) * (0.4 + 0.5 * ((i * 37) % 11) / 10)
        path = root / "audio" / f"d{i // 20:03d}" / f"f{i:04d}.wav"
        path.parent.mkdir(parents=True, exist_ok=True)
        wav.write(path, tiled.astype(np.int16))


def frames_corpus(command: str) -> str:
    """The folder the command reads (in the current one): the audio, or its frames made once."""
    if command in ("encode", "roundtrip"):
        return "audio"
    batch.run("encode", ["audio"], "frames", rate="imbe7200")
    return "frames/audio"


def loop_in_process(command: str, paths: List[str], out_dir: str) -> None:
    """One plain process: the per-file function over `paths`, one after another."""
    options = batch.command_options(command, FLAGS[command])
    for path in paths:
        for rel, task_options in batch.outputs_of(command, options, batch.inside(path)):
            entry = batch.process(command, path, os.path.join(out_dir, rel.as_posix()), task_options)
            assert entry["status"] == "ok", entry


def processes_at_once(command: str, files: List[str], count: int, out_dir: str) -> float:
    """Wall seconds of `count` independent processes, each looping over its share of the files."""
    lists = []
    for k in range(count):
        lst = Path(out_dir) / f"list{k}.json"
        lst.write_text(json.dumps(files[k::count]))
        lists.append(lst)
    start = time.perf_counter()
    procs = [subprocess.Popen([sys.executable, __file__, "--loop", command, str(lst), out_dir]) for lst in lists]
    if any(p.wait() != 0 for p in procs):
        raise SystemExit("a looping process failed")
    return time.perf_counter() - start


def timed(call: Callable[[], object]) -> float:
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=60)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--full", action="store_true", help="200 files of 60 s")
    parser.add_argument("--repeats", type=int, help="runs of each row (default 2, 3 with --full)")
    parser.add_argument("--command", choices=list(FLAGS), default="encode")
    parser.add_argument("--no-dask", action="store_true", help="leave out the Dask LocalCluster")
    parser.add_argument("--json", help="write the figures to this file")
    parser.add_argument("--loop", nargs=3, metavar=("COMMAND", "LIST", "OUTDIR"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.loop:
        command, lst, out_dir = args.loop
        loop_in_process(command, json.loads(Path(lst).read_text()), out_dir)
        return
    if args.full:
        args.files, args.seconds = 200, 60.0
    args.repeats = args.repeats or (3 if args.full else 2)

    work = Path(tempfile.mkdtemp(prefix="batch_bench."))
    client = None
    try:
        os.chdir(work)
        make_corpus(work, args.files, args.seconds)
        source = frames_corpus(args.command)
        files = sorted(str(p) for p in Path(source).rglob("*") if p.is_file() and p.name != batch.REPORT_NAME)
        hours = args.files * args.seconds / 3600
        options = FLAGS[args.command]
        out = str(work / "out")

        def fresh() -> str:
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            return out

        runs: Dict[str, Callable[[], float]] = {
            "1 process": lambda: processes_at_once(args.command, files, 1, fresh()),
            "2 processes at once": lambda: processes_at_once(args.command, files, 2, fresh()),
            "batch --workers 1": lambda: timed(lambda: batch.run(args.command, [source], fresh(), workers=1, **options)),
            "batch --workers 2": lambda: timed(lambda: batch.run(args.command, [source], fresh(), workers=2, **options)),
        }
        cores = {"1 process": 1, "2 processes at once": 2, "batch --workers 1": 1, "batch --workers 2": 2}
        if not args.no_dask:
            from dask.distributed import Client, LocalCluster

            start = time.perf_counter()
            cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0")
            client = Client(cluster)
            print(f"Dask LocalCluster of 2 processes started in {time.perf_counter() - start:.1f} s (not timed below)")
            runs["Dask LocalCluster, 2 workers"] = lambda: timed(
                lambda: batch.run(args.command, [source], fresh(), executor=client.get_executor(), **options))
            cores["Dask LocalCluster, 2 workers"] = 2

        make_corpus(work / "tiny", 2, 1.0)
        startup = statistics.median(timed(lambda: batch.run("encode", ["tiny/audio"], fresh(), workers=2))
                                    for _ in range(3))

        load = os.getloadavg()
        walls: Dict[str, List[float]] = {name: [] for name in runs}
        for _ in range(args.repeats):  # interleaved, so that a change in the machine's load hits every row
            for name, call in runs.items():
                walls[name].append(call())

        lib = load_codec2()
        codec2 = None
        if lib is not None:
            c2 = bench_codec2(lib, list(wav.split_frames(wav.load_pcm(work / "audio" / "d000" / "f0000.wav"))))
            fps = {"encode": c2["encode_fps"], "decode": c2["decode_fps"],
                   "roundtrip": 1 / (1 / c2["encode_fps"] + 1 / c2["decode_fps"])}[args.command]
            codec2 = fps * wav.FRAME_SAMPLES / wav.SAMPLE_RATE  # hours of audio per hour on one core

        print(f"\nload average before / after: {load[0]:.1f} / {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")
        print(f"{args.command}: {args.files} files of {args.seconds:.0f} s = {hours:.2f} h of audio, "
              f"{args.repeats} runs each, median [min-max]; the machine is shared, so the spread is part of the figure")
        print(f"{'':32s} {'wall s':>20s} {'h audio / h':>12s} {'per core':>10s} {'vs 2 procs':>10s}")
        rows = {}
        two = hours * 3600 / statistics.median(walls["2 processes at once"])
        for name, w in walls.items():
            rate = hours * 3600 / statistics.median(w)
            rows[name] = {"wall_seconds": w, "hours_per_hour": rate, "per_core": rate / cores[name],
                          "vs_two_processes": rate / two}
            print(f"{name:32s} {statistics.median(w):7.1f} [{min(w):5.1f}-{max(w):5.1f}] {rate:12.0f} "
                  f"{rate / cores[name]:10.0f} {rate / two:9.0%}")
        one = rows["1 process"]["hours_per_hour"]
        print(f"\n2 processes at once: {two / one:.2f}x one process (what the machine allows)")
        print(f"batch --workers 2: {rows['batch --workers 2']['vs_two_processes']:.0%} of 2 processes at once "
              f"(target >= 90 %)")
        if "Dask LocalCluster, 2 workers" in rows:
            ratio = rows["Dask LocalCluster, 2 workers"]["hours_per_hour"] / rows["batch --workers 2"]["hours_per_hour"]
            print(f"Dask LocalCluster: {ratio:.0%} of the process pool (target within 15 %)")
        share = startup / statistics.median(walls["batch --workers 2"])
        print(f"start-up (2 files of 1 s on 2 workers): {startup:.2f} s = {share:.1%} of a 2-worker run")
        if codec2:
            print(f"Codec2 3200 {args.command}, one process through ctypes: {codec2:.0f} h of audio per hour; "
                  f"1 process here = {one / codec2:.2f}x Codec2")
        if args.json:
            Path(args.json).write_text(json.dumps({
                "command": args.command, "files": args.files, "seconds": args.seconds, "repeats": args.repeats,
                "rows": rows, "startup_seconds": startup,
                "load_average": [load[0], os.getloadavg()[0]], "codec2_encode_hours_per_hour": codec2}, indent=2))
    finally:
        if client is not None:
            client.close()
            client.cluster.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
