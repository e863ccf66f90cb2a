# SPDX-License-Identifier: GPL-2.0-or-later
"""Shared fixtures for the Python tests of _ostrel_mbe and the ostrel_mbe package."""

import threading

import numpy as np
import pytest

import _ostrel_mbe as m

ALL_RATES = [
    m.Rate.IMBE_7200X4400,
    m.Rate.IMBE_4400X4400,
    m.Rate.AMBEPLUS2_3600X2450,
    m.Rate.AMBEPLUS2_2450X2450,
]
WIRE_BYTES = {0: 18, 1: 11, 2: 9, 3: 7}
DEBUG_NAMES = {0: "Imbe7200x4400", 1: "Imbe4400x4400", 2: "AmbePlus2_3600x2450", 3: "AmbePlus2_2450x2450"}


@pytest.fixture(autouse=True)
def _default_noise_generator(monkeypatch):
    # The noise generator of unvoiced synthesis follows these at reset; tests expect defaults.
    monkeypatch.delenv("OSTREL_LCG", raising=False)
    monkeypatch.delenv("OSTREL_LCG_INIT", raising=False)


@pytest.fixture(params=ALL_RATES, ids=lambda r: DEBUG_NAMES[int(r)])
def rate(request):
    return request.param


def speech_frames(count=None):
    """The bundled speech clip as rows of 160 int16 samples."""
    from ostrel_mbe import wav
    from ostrel_mbe.__main__ import bundled_speech

    frames = wav.split_frames(wav.load_pcm(bundled_speech()))
    return frames if count is None else frames[:count]


def random_frames(rate, count, seed):
    """`count` random wire frames of `rate`; prints the seed so a failure can be replayed."""
    print(f"random wire frames: seed={seed}")
    rng = np.random.default_rng(seed)
    n = WIRE_BYTES[int(rate)]
    return [rng.integers(0, 256, n, dtype=np.uint8).tobytes() for _ in range(count)]


def run_in_thread(fn):
    """Runs fn on a new thread; returns {"value": result} or {"error": (type, message)}.

    The exception object itself is not kept: its traceback would form a reference cycle with
    this frame, and the cycle collector might then release a Vocoder on some other thread."""
    result = {}

    def target():
        try:
            result["value"] = fn()
        except BaseException as e:  # noqa: BLE001  reported to the test
            result["error"] = (type(e), str(e))

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return result
