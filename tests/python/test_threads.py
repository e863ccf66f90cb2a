# SPDX-License-Identifier: GPL-2.0-or-later
"""Channels owned by different threads run at the same time (the interpreter lock is released
during the codec's work) and produce exactly what they produce one after the other."""

import subprocess
import sys
import threading

import numpy as np
import pytest

import _ostrel_mbe as m
from conftest import ALL_RATES, speech_frames


def round_trip(rate, frames):
    """Encodes the frames with one channel and decodes them with another, both made here."""
    enc, dec = m.Vocoder(rate), m.Vocoder(rate)
    enc.set_tone_detection(True)
    wire = [enc.encode_pcm(f) for f in frames]
    return wire, np.concatenate([dec.decode_bits(w) for w in wire])


BRIDGE = {m.Rate.IMBE_7200X4400: m.Rate.AMBEPLUS2_3600X2450, m.Rate.AMBEPLUS2_3600X2450: m.Rate.IMBE_7200X4400,
          m.Rate.IMBE_4400X4400: m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_2450X2450: m.Rate.AMBEPLUS2_3600X2450}


def stream_trip(rate, frames):
    """The streaming classes and a transcoder: chunks in, frames bridged to another rate, PCM out."""
    pcm = frames.reshape(-1)
    enc, bridge = m.LiveEncoder(rate), m.Transcoder(rate, BRIDGE[rate])
    wire = [w for chunk in np.array_split(pcm, 7) for w in enc.push(chunk)]
    bridged = b"".join(bridge.transcode(w) for w in wire)
    return wire, np.concatenate(m.LiveDecoder(BRIDGE[rate]).push(bridged))


def test_concurrent_channels_match_sequential_runs():
    frames = speech_frames(150)
    # Two threads per rate and kind: equal work at the same time as well.
    jobs = [(kind, rate) for kind in (round_trip, stream_trip) for rate in ALL_RATES] * 2
    expected = [kind(rate, frames) for kind, rate in jobs]
    results = [None] * len(jobs)
    start = threading.Barrier(len(jobs))

    def work(i):
        start.wait()
        kind, rate = jobs[i]
        results[i] = kind(rate, frames)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, (wire, pcm) in enumerate(results):
        assert wire == expected[i][0], f"job {i}"
        np.testing.assert_array_equal(pcm, expected[i][1], err_msg=f"job {i}")


# Every call that releases the interpreter lock, looping on a daemon thread while the
# interpreter exits: the thread must neither abort the process nor be reported as a leak.
EXIT_LOOPS = {
    "decode_bits": "v = m.Vocoder(m.Rate.IMBE_7200X4400)\n    while True: v.decode_bits(bytes(18))",
    "encode_pcm": "v = m.Vocoder(m.Rate.AMBEPLUS2_3600X2450)\n    while True: v.encode_pcm(np.ones(160, np.int16))",
    "live": "e, d = m.LiveEncoder(m.Rate.IMBE_7200X4400), m.LiveDecoder(m.Rate.IMBE_7200X4400)\n"
            "    while True: d.push(b''.join(e.push(np.ones(1600, np.int16)))); e.flush()",
    "transcode": "t = m.Transcoder(m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_3600X2450)\n"
                 "    while True: t.transcode(bytes(18))",
}


@pytest.mark.parametrize("call", EXIT_LOOPS)
def test_daemon_thread_inside_a_call_at_exit_ends_cleanly(call):
    script = ("import threading, time\nimport numpy as np\nimport _ostrel_mbe as m\n"
              f"def loop():\n    {EXIT_LOOPS[call]}\n"
              "threading.Thread(target=loop, daemon=True).start()\ntime.sleep(0.3)\n")
    for _ in range(3):
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
        assert (done.returncode, done.stderr) == (0, "")

