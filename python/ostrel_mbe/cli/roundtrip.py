# SPDX-License-Identifier: GPL-2.0-or-later
"""roundtrip: audio file -> encode -> decode -> WAV file, at one or more rates, with timing."""

from __future__ import annotations

import argparse
import json
import time
from pathlib import Path
from typing import Dict, List

import numpy as np

from .. import Rate, wav
from .common import CODEC_DELAY_SAMPLES, FLUSH_FRAMES, RATES, FrameDriver, InputError, bundled_speech, add_progress, frame_bytes, rate_names
from .decode import WatchedDecoder, add_decoder_options
from .encode import SILENCE, add_encoder_options, make_encoder
from .files import load_input, write_output


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("roundtrip", help="audio file -> encode -> decode -> WAV, with timing",
                       description="Encodes and decodes an audio file at each rate; every output is "
                                   "aligned with the input (the codec's delay of 50 ms removed) and of "
                                   "its length.")
    p.add_argument("input", nargs="?", help="input audio file (default: the bundled speech clip)")
    p.add_argument("--rate", choices=rate_names(), action="append",
                   help="wire rate, may be repeated (default imbe7200)")
    p.add_argument("-d", "--output-dir",
                   help="directory for INPUT.RATE.wav (default: beside the input; the current "
                        "directory for the bundled clip)")
    add_encoder_options(p)
    add_decoder_options(p)
    p.add_argument("--json", action="store_true", help="print the figures as JSON")
    add_progress(p)
    p.set_defaults(run=run, resolve=lambda a: None)
    return p


def encode_pcm(pcm: np.ndarray, rate: "Rate", args: argparse.Namespace, label: str) -> bytes:
    """Whole-file encode through the streaming encoder, as `encode` does: the last frame
    zero-padded, then the encoder's delay flushed with silence."""
    encoder = make_encoder(rate, args)
    frames = FrameDriver(label, -(-pcm.size // wav.FRAME_SAMPLES) + FLUSH_FRAMES, args)
    try:
        out = frames.push(encoder.push, pcm, wav.FRAME_SAMPLES) + frames.flush(encoder.flush)
        out += frames.push(encoder.push, SILENCE, wav.FRAME_SAMPLES)
    finally:
        frames.close()
    return b"".join(out)  # type: ignore[arg-type]


def decode_bits(data: bytes, rate: "Rate", args: argparse.Namespace, label: str) -> np.ndarray:
    decoder = WatchedDecoder(rate, args)
    frames = FrameDriver(label, len(data) // decoder.size, args)
    try:
        return wav.join_frames(frames.push(decoder.push, data, decoder.size))  # type: ignore[arg-type]
    finally:
        frames.close()


def run(args: argparse.Namespace) -> None:
    source = Path(args.input) if args.input else bundled_speech()
    # Next to the input, except for the bundled clip, whose folder belongs to the installation.
    default_dir = source.parent if args.input else Path.cwd()
    out_dir = Path(args.output_dir) if args.output_dir else default_dir
    if args.output_dir and not out_dir.is_dir():
        raise InputError(f"{out_dir}: not a directory")
    pcm = load_input(args.input)
    seconds = pcm.size / wav.SAMPLE_RATE
    results: List[Dict[str, object]] = []
    for name in args.rate or ["imbe7200"]:
        rate = RATES[name]
        t0 = time.perf_counter()
        data = encode_pcm(pcm, rate, args, f"encode {name}")
        t1 = time.perf_counter()
        # Aligned with the input and of its length.
        decoded = decode_bits(data, rate, args, f"decode {name}")[CODEC_DELAY_SAMPLES:][:pcm.size]
        t2 = time.perf_counter()
        coded = len(data) // frame_bytes(rate)  # the input's frames and the flushed delay
        output = out_dir / f"{source.stem}.{name}.wav"
        write_output(str(output), lambda out: out.write([decoded]), as_wav=True, inputs=[source])
        result = {"rate": name, "frames": -(-pcm.size // wav.FRAME_SAMPLES), "seconds": round(seconds, 3),
                  "encode_frames_per_s": round(coded / max(t1 - t0, 1e-9)),
                  "decode_frames_per_s": round(coded / max(t2 - t1, 1e-9)), "output": str(output)}
        results.append(result)
        if not args.json:
            print(f"{name}: {result['frames']} frames ({seconds:.2f} s), encode {result['encode_frames_per_s']} "
                  f"frames/s, decode {result['decode_frames_per_s']} frames/s -> {output}")
    if args.json:
        print(json.dumps(results, indent=2))
