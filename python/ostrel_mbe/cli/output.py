# SPDX-License-Identifier: GPL-2.0-or-later
"""The decoded-output options of decode and roundtrip: level control, tone frames and the call
start.  The library keeps all of them off by default; the command line turns on what measures
better (bench/levels.py, bench/tone_frames.py, bench/call_start.py)."""

from __future__ import annotations

import argparse


def add_output_options(p: argparse.ArgumentParser) -> None:
    g = p.add_argument_group("decoded output")
    g.add_argument("--agc", action=argparse.BooleanOptionalAction, default=True,
                   help="automatic gain control: bring active speech to --level (default on)")
    g.add_argument("--level", type=float, default=-20.0, metavar="DBFS",
                   help="AGC target, RMS of active speech in dBFS, -60..0 (default -20)")
    g.add_argument("--gain", type=float, default=0.0, metavar="DB",
                   help="fixed output gain in dB after the AGC, -60..40 (default 0); a peak limiter "
                        "follows, so nothing clips")
    g.add_argument("--tone-copies", action=argparse.BooleanOptionalAction, default=True,
                   help="half rate: read tone frames by every copy of the tone index and conceal "
                        "frames whose copies disagree (default on)")
    g.add_argument("--mute-tones", action="store_true",
                   help="half rate: play tone frames (DTMF and single tones) as silence")
    g.add_argument("--cautious-start", action=argparse.BooleanOptionalAction, default=True,
                   help="mute the garbage ahead of a call's first clean frame and fade it in "
                        "(default on)")


def apply_output_options(decoder, args: argparse.Namespace) -> None:
    """Sets the chosen options on a Vocoder or LiveDecoder."""
    decoder.set_agc(args.agc)
    decoder.set_agc_level(args.level)
    decoder.set_output_gain(args.gain)
    decoder.set_tone_copies(args.tone_copies)
    decoder.set_mute_tones(args.mute_tones)
    decoder.set_cautious_start(args.cautious_start)
