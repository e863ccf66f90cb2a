"""Channels owned by different threads run at the same time (the interpreter lock is released
during the codec's work) and produce exactly what they produce one after the other."""

import threading

import numpy as np

import _ostrel_mbe as m
from conftest import ALL_RATES, speech_frames


def round_trip(rate, frames):
    """Encodes the frames with one channel and decodes them with another, both made here."""
    enc, dec = m.Vocoder(rate), m.Vocoder(rate)
    enc.set_tone_detection(True)
    wire = [enc.encode_pcm(f) for f in frames]
    return wire, np.concatenate([dec.decode_bits(w) for w in wire])


def test_concurrent_channels_match_sequential_runs():
    frames = speech_frames(150)
    jobs = ALL_RATES * 2  # two threads per rate: equal work at the same time as well
    expected = [round_trip(rate, frames) for rate in jobs]
    results = [None] * len(jobs)
    start = threading.Barrier(len(jobs))

    def work(i):
        start.wait()
        results[i] = round_trip(jobs[i], frames)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, (wire, pcm) in enumerate(results):
        assert wire == expected[i][0], f"job {i}"
        np.testing.assert_array_equal(pcm, expected[i][1], err_msg=f"job {i}")
