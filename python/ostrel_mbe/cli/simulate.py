# SPDX-License-Identifier: GPL-2.0-or-later
"""simulate: audio file -> encode -> radio channel -> decode -> WAV file, with the channel's
raw bit error rate and the frames the decoder repeated and muted."""

from __future__ import annotations

import argparse
import json

import numpy as np

from .. import Vocoder, channel, wav
from .common import CODEC_DELAY_SAMPLES, RATES, FrameDriver, add_files, add_progress, add_rate, frame_bytes
from .decode import add_decoder_options, configure_decoder
from .encode import add_encoder_options
from .files import load_input, write_output
from .roundtrip import encode_pcm


def add_parser(sub: "argparse._SubParsersAction") -> argparse.ArgumentParser:
    p = sub.add_parser(
        "simulate", help="audio file -> encode -> noisy radio channel -> decode -> WAV",
        description="Encode, pass the frames through a simulated channel, decode and write the audio; "
                    "prints the raw bit error rate and the frames repeated and muted.  AWGN channels "
                    "decode from soft decisions unless --hard is given.")
    add_files(p, input_required=True, files_help="input audio file and output WAV file",
              output_help="output WAV file")
    add_rate(p)
    group = p.add_mutually_exclusive_group(required=True)
    group.add_argument("--ber", type=float, help="bit error rate of a binary symmetric channel (0..1)")
    group.add_argument("--esn0", type=float, help="Es/N0 in dB of an additive white Gaussian noise channel")
    p.add_argument("--burst", type=float,
                   help="with --ber: mean burst length in bits (two-state Gilbert-Elliott channel)")
    p.add_argument("--modulation", choices=["bits", "dibits"], default="bits",
                   help="with --esn0: antipodal bits or P25 C4FM four-level dibits (default bits)")
    p.add_argument("--hard", action="store_true", help="with --esn0: decode the sliced bits, not soft values")
    p.add_argument("--seed", type=int, default=0, help="seed of the channel's noise (default 0)")
    p.add_argument("--json", action="store_true", help="print the report as JSON")
    add_encoder_options(p)
    add_decoder_options(p)
    add_progress(p)
    p.set_defaults(run=run)
    return p


def check(args: argparse.Namespace) -> None:
    from .common import InputError

    if args.ber is not None and not 0.0 <= args.ber <= 0.5:
        raise InputError(f"--ber must be between 0 and 0.5, got {args.ber}")
    if args.burst is not None and (args.ber is None or args.burst < 1.0):
        raise InputError("--burst needs --ber and a length of at least 1 bit")
    if args.esn0 is None and (args.hard or args.modulation != "bits"):
        raise InputError("--modulation and --hard go with --esn0")


def run(args: argparse.Namespace) -> None:
    check(args)
    rate = RATES[args.rate]
    pcm = load_input(args.input)
    data = encode_pcm(pcm, rate, args, f"encode {args.rate}")
    size = frame_bytes(rate)
    sent = [data[i:i + size] for i in range(0, len(data), size)]
    soft = None
    if args.esn0 is not None:
        soft = channel.awgn(sent, args.esn0, modulation=args.modulation, seed=args.seed)
        received = channel.hard(soft)
        if args.hard:
            soft = None
    elif args.burst is not None:
        received = channel.gilbert_elliott(sent, args.ber, args.burst, seed=args.seed)
    else:
        received = channel.bsc(sent, args.ber, seed=args.seed)

    decoder = Vocoder(rate)
    configure_decoder(decoder, args)
    counts = {"repeat": 0, "mute": 0}
    out = []
    progress = FrameDriver(f"decode {args.rate}", len(sent), args)
    try:
        for i, frame in enumerate(received):
            out.append(decoder.decode_soft(soft[i]) if soft is not None else decoder.decode_bits(frame))
            disposition = decoder.last_decode_report()["disposition"]
            if disposition in counts:
                counts[disposition] += 1
            progress.progress.update(i + 1)
    finally:
        progress.close()
    # Aligned with the input and of its length, as roundtrip writes it.
    decoded = np.concatenate(out)[CODEC_DELAY_SAMPLES:][:pcm.size]
    write_output(args.output, lambda o: o.write([decoded]), as_wav=True)

    bits = len(sent) * size * 8
    errors = channel.bit_errors(sent, received)
    report = {
        "output": args.output,
        "rate": args.rate,
        "channel": ("awgn" if args.esn0 is not None else "gilbert_elliott" if args.burst is not None else "bsc"),
        "decoding": "soft" if soft is not None else "hard",
        "frames": len(sent),
        "seconds": len(sent) * wav.FRAME_SAMPLES / wav.SAMPLE_RATE,
        "raw_bit_error_rate": errors / bits if bits else 0.0,
        "frames_repeated": counts["repeat"],
        "frames_muted": counts["mute"],
    }
    if args.json:
        print(json.dumps(report, indent=2))
    else:
        print(f"{args.output}: {report['frames']} frames, {report['channel']} channel, {report['decoding']} "
              f"decisions: raw bit error rate {report['raw_bit_error_rate']:.4f}, "
              f"{counts['repeat']} frames repeated, {counts['mute']} muted")
