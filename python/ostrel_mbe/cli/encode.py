# SPDX-License-Identifier: GPL-2.0-or-later
"""encode: audio file (or raw PCM on a pipe) -> frame file, read and encoded a block at a time."""

from __future__ import annotations

import argparse

import numpy as np

from .. import LiveEncoder, Rate, wav
from .common import FLUSH_FRAMES, RATES, FrameDriver, InputError, PROG, add_files, add_progress, add_rate, frame_bytes
from .files import STDIO, Output, audio_blocks, no_samples, open_audio, open_stdin_pcm, report


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser("encode", help="audio file (WAV, FLAC, OGG) -> frame file",
                       usage=f"{PROG} encode [options] [INPUT.wav] OUTPUT | [INPUT.wav] -o OUTPUT")
    add_files(p, input_required=False,
              files_help="input audio file: WAV, FLAC, OGG (default: the bundled speech clip; '-' for standard "
                         "input: a WAV, FLAC or OGG stream, recognised by its first bytes, or else raw 8 kHz "
                         "s16le PCM) and output frame file ('-' for standard output)",
              output_help="output frame file")
    add_rate(p)
    add_encoder_options(p)
    add_progress(p)
    p.set_defaults(run=run)
    return p


QUANTIZER_HELP = ("half-rate quantizer: search (default here) picks the indices by the spectrum a decoder "
                  "rebuilds, higher PESQ, STOI and DNSMOS P.808 for up to twice the encoding time; plain is "
                  "the library's default, the nearest entry of each codebook; the full rates ignore it")


def add_encoder_options(p: argparse.ArgumentParser) -> None:
    """The encoder's settings, for every command that encodes (encode, roundtrip)."""
    p.add_argument("--quantizer", choices=["search", "plain"], default="search", help=QUANTIZER_HELP)
    p.add_argument("--tones", action="store_true",
                   help="send DTMF digits and steady single tones as tone frames (at the half rates; the full "
                        "rates have no tone frames). Off by default because the standard's per-frame detector "
                        "takes most voiced speech for tones (254 of the bundled clip's 286 frames at 3600); "
                        "--tones uses a stricter detector, a tone must hold 90%% of a frame's power and last "
                        "three frames at a steady level, which keeps speech out (3 of 286) while every DTMF "
                        "digit of 40 ms or more still goes out as tone frames")


def make_encoder(rate: "Rate", args: argparse.Namespace) -> "LiveEncoder":
    """A streaming encoder with the settings of add_encoder_options."""
    encoder = LiveEncoder(rate)
    encoder.set_quantizer_search(args.quantizer == "search")
    if getattr(args, "tones", False):
        encoder.set_tone_detection(True)
        encoder.set_strict_tone_detection(True)
    return encoder


# The encoder's delay, flushed at the end of every input.
SILENCE = np.zeros(FLUSH_FRAMES * wav.FRAME_SAMPLES, dtype=np.int16)


def run(args: argparse.Namespace) -> None:
    rate = RATES[args.rate]
    reader = None
    if args.input == STDIO:
        reader, chunks = open_stdin_pcm()
        total = 0
    else:
        # Read, resampled and encoded a block at a time: memory does not grow with the file.
        reader = open_audio(args.input)
        chunks = audio_blocks(reader)
        total = -(-reader.pcm_samples // wav.FRAME_SAMPLES) + FLUSH_FRAMES
    try:
        encoder = make_encoder(rate, args)
        frames = FrameDriver(f"encode {args.rate}", total, args)
        with Output(args.output, inputs=[reader.path if reader else None]) as out:
            try:
                for pcm in chunks:
                    out.write(frames.push(encoder.push, pcm, wav.FRAME_SAMPLES))
                out.write(frames.flush(encoder.flush))  # the zero-padded last frame
                if frames.done == 0:
                    raise no_samples(reader.path) if reader else InputError("<stdin>: no samples")
                out.write(frames.push(encoder.push, SILENCE, wav.FRAME_SAMPLES))
            finally:
                frames.close()
            out.commit()
    finally:
        if reader is not None:
            reader.close()
    report(args, f"{args.output}: {frames.done} frames, {frames.done * frame_bytes(rate)} bytes at {args.rate}")
