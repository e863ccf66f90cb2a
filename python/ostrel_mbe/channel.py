# SPDX-License-Identifier: GPL-2.0-or-later
"""Radio channel models over the wire frames of one rate, for testing receivers and for making
speech that sounds as it does off the air.

Every function takes the frames as a sequence of equal-length ``bytes`` (what
``Vocoder.encode_pcm`` returns) and a ``seed`` for NumPy's random generator, so that a seeded run
repeats exactly.  Bits are taken in wire order: byte 0 first, most significant bit first.

- :func:`bsc` flips each bit independently with probability ``ber``.
- :func:`gilbert_elliott` flips bits in bursts: a two-state chain whose bad state lasts ``burst``
  bits on average and flips bits there with probability ``bad_error``, tuned to the mean ``ber``.
- :func:`awgn` sends the bits over additive white Gaussian noise at ``esn0_db`` (energy per
  symbol over noise density) and returns soft values, positive meaning 1, ready for
  ``Vocoder.decode_soft``: either antipodal bits (``modulation="bits"``) or four-level symbols
  carrying the frame's dibits with P25's C4FM mapping (``modulation="dibits"``; 01 -> +3,
  00 -> +1, 10 -> -1, 11 -> -3), each bit's value from the distances to the nearest symbol with
  that bit 1 and with it 0 (max-log likelihood ratio).
- :func:`hard` slices soft values into frames; :func:`bit_errors` counts differing bits.
"""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
from numpy.typing import NDArray

__all__ = ["awgn", "bit_errors", "bits_of", "bsc", "frames_of", "gilbert_elliott", "hard"]

# P25 C4FM: the level of each dibit (high bit, low bit), in units of the inner level.
C4FM_LEVELS = {0b01: 3.0, 0b00: 1.0, 0b10: -1.0, 0b11: -3.0}


def bits_of(frames: Sequence[bytes]) -> NDArray[np.uint8]:
    """The frames' bits as a 2-D array, one row per frame, in wire order."""
    if len(frames) == 0:
        return np.zeros((0, 0), dtype=np.uint8)
    length = len(frames[0])
    if any(len(f) != length for f in frames):
        raise ValueError("frames must all have the same length")
    data = np.frombuffer(b"".join(bytes(f) for f in frames), dtype=np.uint8).reshape(len(frames), length)
    return np.unpackbits(data, axis=1)


def frames_of(bits: NDArray[np.integer]) -> list[bytes]:
    """Rows of bits (wire order) back to frames."""
    packed = np.packbits(np.asarray(bits, dtype=np.uint8), axis=1)
    return [row.tobytes() for row in packed]


def bsc(frames: Sequence[bytes], ber: float, *, seed: int | None = None) -> list[bytes]:
    """Binary symmetric channel: every bit flipped independently with probability ``ber``."""
    if not 0.0 <= ber <= 1.0:
        raise ValueError(f"ber must be in [0, 1], got {ber}")
    bits = bits_of(frames)
    flips = np.random.default_rng(seed).random(bits.shape) < ber
    return frames_of(bits ^ flips)


def _two_state_chain(n: int, p_enter: float, p_leave: float, rng: np.random.Generator) -> NDArray[np.bool_]:
    """n steps of a two-state Markov chain (True = bad), started in its stationary state."""
    if n == 0:
        return np.zeros(0, dtype=bool)
    if p_enter <= 0.0:
        return np.zeros(n, dtype=bool)
    bad_share = p_enter / (p_enter + p_leave)
    state = rng.random() < bad_share
    # Sojourn lengths are geometric; draw enough of them in one go.
    runs: list[NDArray[np.int64]] = []
    total = 0
    while total < n:
        count = int(2 + 2 * n * max(p_enter, p_leave) * 1.2)
        good = rng.geometric(p_enter, count)
        bad = rng.geometric(p_leave, count)
        pair = np.stack([bad, good] if state else [good, bad], axis=1).reshape(-1)
        runs.append(pair)
        total += int(pair.sum())
    lengths = np.concatenate(runs)
    labels = np.zeros(lengths.size, dtype=bool)
    labels[(0 if state else 1)::2] = True
    return np.repeat(labels, lengths)[:n]


def gilbert_elliott(
    frames: Sequence[bytes],
    ber: float,
    burst: float,
    *,
    bad_error: float = 0.5,
    seed: int | None = None,
) -> list[bytes]:
    """Bursty channel: a good state without errors and a bad state lasting ``burst`` bits on
    average (geometric), flipping bits there with probability ``bad_error``; the share of time in
    the bad state is set so that the mean bit error rate is ``ber``.  The chain runs on across
    frames, as a fade does."""
    if burst < 1.0:
        raise ValueError(f"burst must be at least 1 bit, got {burst}")
    if not 0.0 < bad_error <= 1.0 or not 0.0 <= ber <= bad_error:
        raise ValueError(f"ber must be in [0, bad_error] and bad_error in (0, 1], got {ber}, {bad_error}")
    bits = bits_of(frames)
    rng = np.random.default_rng(seed)
    bad_share = ber / bad_error
    p_leave = 1.0 / burst
    p_enter = 1.0 if bad_share >= 1.0 else p_leave * bad_share / (1.0 - bad_share)
    bad = _two_state_chain(bits.size, min(p_enter, 1.0), p_leave, rng).reshape(bits.shape)
    flips = bad & (rng.random(bits.shape) < bad_error)
    return frames_of(bits ^ flips)


def awgn(
    frames: Sequence[bytes],
    esn0_db: float,
    *,
    modulation: str = "bits",
    seed: int | None = None,
) -> NDArray[np.float32]:
    """Soft values (log-likelihood ratios, positive meaning 1) of the frames' bits after additive
    white Gaussian noise at ``esn0_db``, one row per frame.  ``modulation`` is ``"bits"``
    (antipodal, one bit per symbol) or ``"dibits"`` (P25 C4FM four-level symbols, two bits per
    symbol: the same Es/N0 gives each bit half the energy)."""
    bits = bits_of(frames).astype(np.int8)
    rng = np.random.default_rng(seed)
    n0 = 10.0 ** (-esn0_db / 10.0)  # with symbol energy 1
    sigma2 = n0 / 2.0
    if modulation == "bits":
        received = (2.0 * bits - 1.0) + rng.normal(0.0, np.sqrt(sigma2), bits.shape)
        return (2.0 * received / sigma2).astype(np.float32)
    if modulation != "dibits":
        raise ValueError(f"modulation must be 'bits' or 'dibits', got {modulation!r}")
    if bits.shape[1] % 2:
        raise ValueError("dibit modulation needs an even number of bits per frame")
    scale = 1.0 / np.sqrt(5.0)  # mean energy of the levels +-1, +-3 is 5
    dibit = (bits[:, 0::2] << 1) | bits[:, 1::2]
    level_of = np.zeros(4)
    for value, level in C4FM_LEVELS.items():
        level_of[value] = level * scale
    received = level_of[dibit] + rng.normal(0.0, np.sqrt(sigma2), dibit.shape)
    # Squared distance to each of the four levels; per bit, nearest with the bit 0 minus nearest
    # with it 1, over 2 sigma^2.
    distance = (received[..., None] - level_of[None, None, :]) ** 2
    values = np.arange(4)
    soft = np.empty(bits.shape, dtype=np.float64)
    for position, shift in ((0, 1), (1, 0)):
        one = ((values >> shift) & 1) == 1
        soft[:, position::2] = (distance[..., ~one].min(axis=-1) - distance[..., one].min(axis=-1)) / (2.0 * sigma2)
    return soft.astype(np.float32)


def hard(soft: NDArray[np.floating]) -> list[bytes]:
    """Soft values (one row per frame, positive meaning 1) sliced into frames."""
    return frames_of(np.asarray(soft) > 0)


def bit_errors(sent: Sequence[bytes], received: Sequence[bytes]) -> int:
    """The number of bits that differ between two equal-length sequences of frames."""
    return int(np.count_nonzero(bits_of(sent) != bits_of(received)))
