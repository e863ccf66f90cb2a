# SPDX-License-Identifier: GPL-2.0-or-later
"""What a file of wire frames holds, from the decoder's own per-frame report.

`FrameStats` collects `Vocoder.last_decode_report()` frame by frame: the frame kinds, the
concealment's repeats and mutes, the bit errors the FEC corrected, the runs of lost frames and
the tones.  `python -m ostrel_mbe info` prints it as text or JSON.  Its memory does not depend
on the stream's length: runs of lost frames are counted, and only the first ones listed.
"""

from __future__ import annotations

from collections import Counter
from typing import Dict, List, Optional

FRAME_SECONDS = 0.02
KINDS = ("voice", "silence", "tone", "erasure", "invalid")

# Bits under error correction per frame: IMBE 7200 protects c0..c3 with Golay (23,12) and c4..c6
# with Hamming (15,11), 4 x 23 + 3 x 15 = 137 of its 144 bits; AMBE+2 3600 protects c0 with the
# extended Golay (24,12) and c1 with Golay (23,12), 47 of its 72 bits.
PROTECTED_BITS = {18: 137, 9: 47}
# The half-rate decoder's count for a first code vector it could not correct.
UNCORRECTABLE = 255
# Runs of lost frames listed one by one: the first ones, so that a damaged file's report (and
# the memory it takes) does not grow with its length; the totals count every run.
LOST_RUNS_KEPT = 100


class FrameStats:
    """Per-stream totals over decode reports, fed one frame at a time with `add`."""

    def __init__(self, frame_bytes: int) -> None:
        self.frame_bytes = frame_bytes
        self.frames = 0
        self.kinds: Counter = Counter()
        self.repeated = 0
        self.muted = 0
        self.errors_per_frame: Counter = Counter()
        self.errors_per_vector: List[int] = []
        self.uncorrectable_c0 = 0
        self.lost_frames = 0
        self.lost_run_count = 0
        self.lost_runs: List[List[int]] = []  # the first LOST_RUNS_KEPT runs: [first frame, length]
        self._run_end = -1  # the frame after the current run of lost frames
        self.tones: Dict[int, Dict[str, int]] = {}

    def add(self, report: dict) -> None:
        index = self.frames
        self.frames += 1
        kind = report["kind"]
        self.kinds[kind] += 1
        # Erasure and invalid frames are not synthesized; the disposition is that of the frame.
        synthesized = kind not in ("erasure", "invalid")
        disposition = report["disposition"] if synthesized else None
        self.repeated += disposition == "repeat"
        self.muted += disposition == "mute"
        if not synthesized or disposition in ("repeat", "mute"):
            self.lost_frames += 1
            if self._run_end == index:
                if self.lost_runs and sum(self.lost_runs[-1]) == index:
                    self.lost_runs[-1][1] += 1
            else:
                self.lost_run_count += 1
                if len(self.lost_runs) < LOST_RUNS_KEPT:
                    self.lost_runs.append([index, 1])
            self._run_end = index + 1

        errors = report["errors"]
        if errors:
            self.errors_per_frame[report["total"]] += 1
            if not self.errors_per_vector:
                self.errors_per_vector = [0] * len(errors)
            for i, e in enumerate(errors):
                if e == UNCORRECTABLE:
                    self.uncorrectable_c0 += 1
                else:
                    self.errors_per_vector[i] += e
        if kind == "tone":
            tone_id, amplitude = report["tone"]
            entry = self.tones.setdefault(tone_id, {"id": tone_id, "frames": 0, "first_frame": index})
            entry["frames"] += 1
            entry["last_amplitude"] = amplitude

    @property
    def fec(self) -> bool:
        return self.frame_bytes in PROTECTED_BITS

    def corrected_bits(self) -> int:
        return sum(total * n for total, n in self.errors_per_frame.items())

    def protected_bits(self) -> int:
        return self.frames * PROTECTED_BITS.get(self.frame_bytes, 0)

    def bit_error_rate(self) -> Optional[float]:
        """Corrected errors over protected bits: a lower bound once errors exceed what the
        codes correct (more than 3 in a Golay vector, more than 1 in a Hamming vector)."""
        protected = self.protected_bits()
        return self.corrected_bits() / protected if protected else None

    def to_dict(self, rate_name: str, source: str, trailing_bytes: int = 0) -> dict:
        return {
            "file": source,
            "rate": rate_name,
            "frame_bytes": self.frame_bytes,
            "frames": self.frames,
            "duration_s": round(self.frames * FRAME_SECONDS, 2),
            "kinds": {k: self.kinds.get(k, 0) for k in KINDS},
            "repeated": self.repeated,
            "muted": self.muted,
            "fec": self.fec,
            "corrected_errors_per_frame": {str(k): v for k, v in sorted(self.errors_per_frame.items())},
            "corrected_errors_per_code_vector": self.errors_per_vector,
            "uncorrectable_c0": self.uncorrectable_c0,
            "corrected_bits": self.corrected_bits(),
            "protected_bits": self.protected_bits(),
            "bit_error_rate": self.bit_error_rate(),
            "lost_frames": self.lost_frames,
            "lost_run_count": self.lost_run_count,
            "lost_runs": self.lost_runs,
            "tones": sorted(self.tones.values(), key=lambda t: t["first_frame"]),
            "trailing_bytes": trailing_bytes,
        }


def _runs_text(runs: List[List[int]], count: int, limit: int = 12) -> str:
    parts = [f"{start}" if n == 1 else f"{start}-{start + n - 1}" for start, n in runs[:limit]]
    if count > limit:
        parts.append(f"... ({count - limit} more)")
    return ", ".join(parts)


def format_text(info: dict) -> str:
    """The summary for people, one topic per line."""
    kinds = info["kinds"]
    lines = [
        f"{info['file']}: {info['frames']} frames at {info['rate']} ({info['frame_bytes']} bytes each), "
        f"{info['duration_s']:.2f} s",
        "frame kinds: " + ", ".join(f"{k} {kinds[k]}" for k in KINDS),
        f"concealment: {info['repeated']} repeated, {info['muted']} muted",
    ]
    if info["fec"]:
        histogram = info["corrected_errors_per_frame"]
        lines.append("corrected bit errors per frame: "
                     + ("  ".join(f"{k}: {v}" for k, v in histogram.items()) or "-"))
        per_vector = ", ".join(f"c{i} {n}" for i, n in enumerate(info["corrected_errors_per_code_vector"]))
        lines.append(f"corrected bit errors per code vector: {per_vector or '-'}"
                     + (f" (c0 uncorrectable in {info['uncorrectable_c0']} frames)"
                        if info["uncorrectable_c0"] else ""))
        ber = info["bit_error_rate"]
        lines.append(f"bit error rate estimate: {100 * ber:.3f} % ({info['corrected_bits']} corrected in "
                     f"{info['protected_bits']} FEC-protected bits)" if ber is not None else
                     "bit error rate estimate: - (no frames)")
    else:
        lines.append(f"corrected bit errors: none counted ({info['rate']} carries no FEC)")
    runs = info["lost_runs"]
    lines.append(f"lost frames (erasure, invalid, repeated or muted): {info['lost_frames']}"
                 + (f" in {info['lost_run_count']} runs: {_runs_text(runs, info['lost_run_count'])}"
                    if runs else ""))
    tones = info["tones"]
    lines.append("tones: " + (", ".join(f"id {t['id']} x {t['frames']} frames from frame {t['first_frame']}"
                                         for t in tones) if tones else "none"))
    if info["trailing_bytes"]:
        lines.append(f"trailing bytes: {info['trailing_bytes']} (less than one frame)")
    return "\n".join(lines)

