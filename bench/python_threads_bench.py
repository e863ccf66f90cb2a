#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Thread scaling through the Python module: N threads, each with its own Vocoder (one channel
per thread, as a gateway decoding several talkgroups would run them), decode (or encode) the
bundled speech clip's frames at the same time.  Prints the aggregate frames per second for each
thread count and its ratio to one thread; with the interpreter lock released during the codec's
work the ratio approaches N up to the number of free cores.  "decode" and "encode" make one call
per frame; "stream" pushes all frames at once into a LiveDecoder, so the interpreter lock changes
hands once per thread instead of once per frame of a few microseconds.

    python bench/python_threads_bench.py [--threads 1,2] [--frames 3000] [--rate ambe3600] [--json out.json]
"""
from __future__ import annotations

import argparse
import json
import os
import sys
import threading
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from python_bench import RATES, frames_of, load_speech  # noqa: E402


def run(module, member: str, direction: str, threads: int, frames: list[np.ndarray], wire: list[bytes]) -> float:
    """Aggregate frames per second of `threads` threads, each running all frames once."""
    rate = getattr(module.Rate, member)
    barrier = threading.Barrier(threads + 1)
    done = threading.Barrier(threads + 1)

    def worker():
        # Created on its own thread: the object is bound to it.
        if direction == "stream":
            stream = module.LiveDecoder(rate)
            call, items = stream.push, [b"".join(wire)]
        else:
            channel = module.Vocoder(rate)
            call = channel.decode_bits if direction == "decode" else channel.encode_pcm
            items = wire if direction == "decode" else frames
        for item in items[:20]:
            call(item)  # warm-up outside the timing
        barrier.wait()
        for item in items:
            call(item)
        done.wait()

    workers = [threading.Thread(target=worker) for _ in range(threads)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.perf_counter()
    done.wait()
    elapsed = time.perf_counter() - start
    for w in workers:
        w.join()
    return threads * len(frames) / elapsed


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", default="1,2", help="comma-separated thread counts")
    parser.add_argument("--frames", type=int, default=3000, help="frames per thread")
    parser.add_argument("--rate", default="ambe3600", choices=list(RATES))
    parser.add_argument("--directions", default="decode,encode,stream")
    parser.add_argument("--json", type=Path)
    args = parser.parse_args(argv)
    import _ostrel_mbe as module

    counts = [int(t) for t in args.threads.split(",")]
    _, pcm = load_speech()
    frames = frames_of(pcm, args.frames)
    encoder = module.Vocoder(getattr(module.Rate, RATES[args.rate]))
    wire = [encoder.encode_pcm(f) for f in frames]
    print(f"{args.rate}, {args.frames} frames per thread, {os.cpu_count()} cores")
    print(f"{'direction':<10} {'threads':>7} {'frames/s':>10} {'x 1 thread':>11}")
    results = {}
    for direction in args.directions.split(","):
        base = None
        for n in counts:
            fps = run(module, RATES[args.rate], direction, n, frames, wire)
            base = base or fps
            results[f"{direction}_{n}"] = fps
            print(f"{direction:<10} {n:>7} {fps:>10.0f} {fps / base:>11.2f}")
    if args.json:
        args.json.write_text(json.dumps(results, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
