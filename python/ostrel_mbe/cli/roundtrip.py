# SPDX-License-Identifier: GPL-2.0-or-later
"""roundtrip: audio file -> encode -> decode -> WAV file, at one or more rates, with timing."""

from __future__ import annotations

import argparse
import time
from pathlib import Path

import numpy as np

from .. import LiveEncoder, Rate, Vocoder, wav
from .common import RATES, FrameDriver, InputError, bundled_speech, add_progress, frame_bytes, rate_names
from .decode import add_weighting, decoder_for
from .files import load_input, write_output


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("roundtrip", help="audio file -> encode -> decode -> WAV, with timing")
    p.add_argument("input", nargs="?", help="input audio file (default: the bundled speech clip)")
    p.add_argument("--rate", choices=rate_names(), action="append",
                   help="wire rate, may be repeated (default imbe7200)")
    p.add_argument("-d", "--output-dir",
                   help="directory for INPUT.RATE.wav (default: beside the input; the current "
                        "directory for the bundled clip)")
    add_weighting(p)
    add_progress(p)
    p.set_defaults(run=run, resolve=lambda a: None)
    return p


def encode_pcm(pcm: np.ndarray, rate: "Rate", args: argparse.Namespace, label: str) -> bytes:
    """Whole-file encode through the streaming encoder (the last frame zero-padded)."""
    encoder = LiveEncoder(rate)
    frames = FrameDriver(label, -(-pcm.size // wav.FRAME_SAMPLES), args)
    try:
        out = frames.push(encoder.push, pcm, wav.FRAME_SAMPLES) + frames.flush(encoder.flush)
    finally:
        frames.close()
    return b"".join(out)  # type: ignore[arg-type]


def decode_bits(data: bytes, name: str, args: argparse.Namespace, label: str) -> np.ndarray:
    decoder = decoder_for(argparse.Namespace(**{**vars(args), "rate": name}))
    size = frame_bytes(RATES[name])
    frames = FrameDriver(label, len(data) // size, args)
    try:
        return wav.join_frames(frames.push(decoder.push, data, size))  # type: ignore[arg-type]
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
    for name in args.rate or ["imbe7200"]:
        rate = RATES[name]
        t0 = time.perf_counter()
        data = encode_pcm(pcm, rate, args, f"encode {name}")
        t1 = time.perf_counter()
        decoded = decode_bits(data, name, args, f"decode {name}")
        t2 = time.perf_counter()
        frames = len(data) // Vocoder(rate).fec_frame_bytes
        output = out_dir / f"{source.stem}.{name}.wav"
        write_output(str(output), lambda out: out.write([decoded]), as_wav=True, inputs=[source])
        enc_fps = frames / max(t1 - t0, 1e-9)
        dec_fps = frames / max(t2 - t1, 1e-9)
        print(f"{name}: {frames} frames ({seconds:.2f} s), encode {enc_fps:.0f} frames/s, "
              f"decode {dec_fps:.0f} frames/s -> {output}")
