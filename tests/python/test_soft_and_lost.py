# SPDX-License-Identifier: GPL-2.0-or-later
"""Soft-decision decoding, lost-frame concealment and the channel simulator, from Python."""

import numpy as np
import pytest

import _ostrel_mbe as m
from ostrel_mbe import channel

from conftest import ALL_RATES, WIRE_BYTES, speech_frames

FEC_RATES = [m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_3600X2450]


def encoded(rate, count=25):
    enc = m.Vocoder(rate)
    return [enc.encode_pcm(f) for f in speech_frames(count)]


@pytest.mark.parametrize("dtype, scale", [(np.float32, 0.25), (np.int8, 90)])
def test_equal_magnitudes_decode_like_hard_bits(rate, dtype, scale):
    sent = encoded(rate)
    received = channel.bsc(sent, 0.04, seed=5)
    soft = ((channel.bits_of(received).astype(np.int16) * 2 - 1) * scale).astype(dtype)
    hard, soft_channel = m.Vocoder(rate), m.Vocoder(rate)
    for frame, values in zip(received, soft):
        np.testing.assert_array_equal(hard.decode_bits(frame), soft_channel.decode_soft(values))
        assert hard.last_decode_report() == soft_channel.last_decode_report()


@pytest.mark.parametrize("bad, text", [
    (np.ones(5, dtype=np.float32), "expected {n} soft values per frame (one per wire bit), got 5"),
    (np.ones(1, dtype=np.float64), "soft: expected a 1-D numpy array of float32 or int8, got dtype format 'd'"),
    (np.ones((1, 1), dtype=np.float32), "soft: expected a 1-D numpy array of float32 or int8, got 2 dimensions"),
    ([1.0], "soft: expected a 1-D numpy array of float32 or int8, got 'list'"),
    ("nan", "soft value 3 is not finite"),
    ("inf", "soft value 3 is not finite"),
])
def test_bad_soft_input_is_refused_and_changes_nothing(rate, bad, text):
    n = WIRE_BYTES[int(rate)] * 8
    if isinstance(bad, str):
        value = float(bad)
        bad = np.ones(n, dtype=np.float32)
        bad[3] = value
    frames = encoded(rate, 4)
    a, b = m.Vocoder(rate), m.Vocoder(rate)
    for frame in frames:
        with pytest.raises(ValueError) as info:
            b.decode_soft(bad)
        assert str(info.value) == text.format(n=n)
        np.testing.assert_array_equal(a.decode_bits(frame), b.decode_bits(frame))


def test_lost_frames_repeat_then_mute_then_decode_normally(rate):
    frames = encoded(rate, 10)
    v = m.Vocoder(rate)
    assert v.lost_frame_repeats == 3
    v.set_lost_frame_repeats(1)
    for f in frames[:6]:
        v.decode_bits(f)
    dispositions = []
    for _ in range(3):
        assert v.decode_lost().shape == (160,)
        report = v.last_decode_report()
        assert report["kind"] == "lost"
        dispositions.append(report["disposition"])
    assert dispositions == ["repeat", "mute", "mute"]
    v.decode_bits(frames[6])
    assert v.last_decode_report()["disposition"] == "normal"


def test_streams_and_transcoders_take_soft_values_and_lost_frames():
    for rate in ALL_RATES:
        sent = encoded(rate, 6)
        soft = channel.awgn(sent, 8.0, seed=1)
        stream = m.LiveDecoder(rate)
        out = stream.push_soft(soft.reshape(-1)[:100]) + stream.push_soft(soft.reshape(-1)[100:])
        reference = m.Vocoder(rate)
        for pcm, values in zip(out, soft):
            np.testing.assert_array_equal(pcm, reference.decode_soft(values))
        assert len(out) == len(sent) and stream.pending_soft == 0
        assert len(stream.push_lost(2)) == 2
    for source, target in [(FEC_RATES[0], FEC_RATES[1]), (FEC_RATES[1], FEC_RATES[0])]:
        sent = encoded(source, 4)
        t_hard, t_soft = m.Transcoder(source, target), m.Transcoder(source, target)
        for frame, values in zip(sent, channel.awgn(sent, 9.0, seed=2)):
            assert t_soft.transcode_soft(values) == t_hard.transcode(channel.hard(values[None, :])[0])
        assert len(t_soft.transcode_lost()) == WIRE_BYTES[int(target)]


@pytest.mark.parametrize("source, bare, protected", [(m.Rate.IMBE_7200X4400, m.Rate.IMBE_4400X4400, 81),
                                                     (m.Rate.AMBEPLUS2_3600X2450, m.Rate.AMBEPLUS2_2450X2450, 24)])
def test_soft_decisions_leave_fewer_residual_errors(source, bare, protected):
    # Antipodal AWGN at the 5 % raw-error point; the transcoder to the bare rate hands out the
    # corrected information bits (the protected ones first), to count what each decoding left wrong.
    sent = encoded(source, 80)
    soft = channel.awgn(sent, 1.3, seed=3)
    received = channel.hard(soft)
    assert 0.035 < channel.bit_errors(sent, received) / (len(sent) * len(sent[0]) * 8) < 0.065
    t = m.Transcoder(source, bare)
    clean = channel.bits_of([t.transcode(f) for f in sent])[:, :protected]
    hard_left = np.count_nonzero(channel.bits_of([t.transcode(f) for f in received])[:, :protected] != clean)
    soft_left = np.count_nonzero(channel.bits_of([t.transcode_soft(v) for v in soft])[:, :protected] != clean)
    assert soft_left < 0.5 * hard_left


@pytest.mark.parametrize("ber", [0.01, 0.05, 0.1])
def test_channels_reach_their_nominal_error_rate_and_burst_length(ber):
    frames = [bytes(18)] * 4000  # 576 000 bits
    bits = channel.bits_of(channel.bsc(frames, ber, seed=1)).reshape(-1)
    assert bits.mean() == pytest.approx(ber, rel=0.03)
    burst = 8.0
    bursty = channel.bits_of(channel.gilbert_elliott(frames, ber, burst, bad_error=1.0, seed=2)).reshape(-1)
    assert bursty.mean() == pytest.approx(ber, rel=0.15)
    edges = np.diff(np.concatenate([[0], bursty, [0]]).astype(np.int8))
    runs = np.flatnonzero(edges == -1) - np.flatnonzero(edges == 1)
    assert runs.mean() == pytest.approx(burst, rel=0.1)


def test_awgn_error_rates_and_seeds():
    data = np.random.default_rng(0).integers(0, 256, (3000, 18), dtype=np.uint8)
    frames = [row.tobytes() for row in data]  # every dibit equally likely
    for modulation, esn0, expected in [("bits", 1.3, 0.05), ("dibits", 10.0, 0.0171)]:
        soft = channel.awgn(frames, esn0, modulation=modulation, seed=4)
        assert soft.dtype == np.float32 and soft.shape == (3000, 144)
        ber = channel.bit_errors(frames, channel.hard(soft)) / soft.size
        assert ber == pytest.approx(expected, rel=0.08), modulation
        np.testing.assert_array_equal(soft, channel.awgn(frames, esn0, modulation=modulation, seed=4))
    assert channel.bsc(frames[:3], 0.3, seed=9) == channel.bsc(frames[:3], 0.3, seed=9)
