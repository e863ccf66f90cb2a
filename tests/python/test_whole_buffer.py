# SPDX-License-Identifier: GPL-2.0-or-later
"""ostrel_mbe.encode/decode/transcode and the concatenating pushes: byte for byte what one call
per frame gives, at every rate and with settings; and their errors."""

import numpy as np
import pytest

import _ostrel_mbe as m
import ostrel_mbe
from conftest import ALL_RATES, DEBUG_NAMES, WIRE_BYTES, speech_frames
from ostrel_mbe import wav

NAMES = {0: "imbe7200", 1: "imbe4400", 2: "ambe3600", 3: "ambe2450"}
# Encoder and decoder settings that change the output, by setter name.
SETTINGS = [{}, {"tone_detection": True, "amp_ema_alpha": 0.5, "pyin_pitch": True},
            {"enhancement": m.EnhancementMode.NONE, "formant_weighting": m.FormantWeighting.STANDARD,
             "ambe_plus2_synth": m.AmbePlus2Synth.BASELINE}]


def configured(rate, settings):
    v = m.Vocoder(rate)
    for name, value in settings.items():
        getattr(v, "set_" + name)(value)
    return v


@pytest.mark.parametrize("settings", SETTINGS, ids=["defaults", "encoder", "decoder"])
def test_whole_buffer_equals_frame_loop(rate, settings):
    pcm = speech_frames(60).reshape(-1)[:-37]  # a partial last frame
    v = configured(rate, settings)
    padded = np.concatenate([pcm, np.zeros(37 + 480, np.int16)]).reshape(-1, 160)
    frames = b"".join(v.encode_pcm(f) for f in padded)
    decoded = np.concatenate([v.decode_bits(frames[i:i + WIRE_BYTES[int(rate)]])
                              for i in range(0, len(frames), WIRE_BYTES[int(rate)])])

    assert ostrel_mbe.encode(pcm, rate, **settings) == frames
    assert ostrel_mbe.encode(pcm, NAMES[int(rate)], **settings) == frames
    out = ostrel_mbe.decode(bytearray(frames), NAMES[int(rate)], **settings)
    assert out.dtype == np.int16 and np.array_equal(out, decoded)



def test_concatenating_pushes_equal_the_lists(rate):
    pcm = speech_frames(20).reshape(-1)
    frames = b"".join(m.LiveEncoder(rate).push(pcm))
    decoded = np.concatenate(m.LiveDecoder(rate).push(frames))
    enc, dec = m.LiveEncoder(rate), m.LiveDecoder(rate)
    assert b"".join(enc.push_concat(pcm[i:i + 333]) for i in range(0, pcm.size, 333)) == frames
    pushed = [dec.push_concat(memoryview(frames)[i:i + 25]) for i in range(0, len(frames), 25)]
    assert np.array_equal(np.concatenate(pushed), decoded)


def test_decode_soft_equals_frame_loop(rate):
    rng = np.random.default_rng(5)
    print("soft values: seed=5")
    frames = ostrel_mbe.encode(speech_frames(20).reshape(-1), rate)
    soft = (np.unpackbits(np.frombuffer(frames, np.uint8)) * 2.0 - 1.0 + rng.normal(0, 0.6, 8 * len(frames)))
    soft = soft.astype(np.float32)
    size, v = 8 * WIRE_BYTES[int(rate)], m.Vocoder(rate)
    expected = np.concatenate([v.decode_soft(soft[i:i + size]) for i in range(0, soft.size, size)])
    assert np.array_equal(ostrel_mbe.decode_soft(soft, NAMES[int(rate)]), expected)


def test_lost_flags_conceal_as_decode_lost(rate):
    frames = bytearray(ostrel_mbe.encode(speech_frames(12).reshape(-1), rate))
    # A direction from every rate: 7200->3600, 4400->7200, 3600->7200, 2450->3600.
    size, v, t = WIRE_BYTES[int(rate)], m.Vocoder(rate), m.Transcoder(rate, ALL_RATES[[2, 0, 0, 2][int(rate)]])
    lost = np.zeros(len(frames) // size, bool)
    lost[[2, 5, 6, 7, 8]] = True
    for i in np.flatnonzero(lost):
        frames[i * size:(i + 1) * size] = b"\xa5" * size  # never read
    expected = np.concatenate([v.decode_lost() if gone else v.decode_bits(bytes(frames[i * size:(i + 1) * size]))
                               for i, gone in enumerate(lost)])
    assert np.array_equal(ostrel_mbe.decode(frames, rate, lost=lost), expected)
    expected_bits = b"".join(t.transcode_lost() if gone else t.transcode(bytes(frames[i * size:(i + 1) * size]))
                             for i, gone in enumerate(lost))
    assert ostrel_mbe.transcode(frames, rate, ALL_RATES[[2, 0, 0, 2][int(rate)]], lost=lost.astype(np.uint8)) == expected_bits


@pytest.mark.parametrize("source,target", [(0, 3), (3, 1), (2, 0), (1, 1)])
def test_transcode_chains_the_steps(source, target):
    frames = ostrel_mbe.encode(speech_frames(30).reshape(-1), ALL_RATES[source])
    expected = frames
    for a, b in ostrel_mbe.whole_buffer.route(ALL_RATES[source], ALL_RATES[target]):
        t, size = m.Transcoder(a, b), WIRE_BYTES[int(a)]
        expected = b"".join(t.transcode(expected[i:i + size]) for i in range(0, len(expected), size))
    assert len(ostrel_mbe.whole_buffer.route(ALL_RATES[source], ALL_RATES[target])) == {
        (0, 3): 2, (3, 1): 3, (2, 0): 1, (1, 1): 0}[(source, target)]
    assert ostrel_mbe.transcode(frames, NAMES[source], ALL_RATES[target]) == expected


def test_float_pcm_at_another_rate_is_resampled():
    pcm = speech_frames(40).reshape(-1)
    at_16k = wav.resample(pcm / 32768.0, 8000, 16000)
    expected = ostrel_mbe.encode(wav.to_int16(wav.resample(at_16k, 16000, 8000)), "imbe7200")
    assert ostrel_mbe.encode(at_16k.astype(np.float32).astype(np.float64), "imbe7200", sample_rate=16000) == expected


@pytest.mark.parametrize("call,error,text", [
    (lambda: ostrel_mbe.encode(np.zeros(320, np.int32), "imbe7200"), TypeError, "int16 or float"),
    (lambda: ostrel_mbe.encode(np.zeros(320, np.int16), "imbe7200", loudness=3), TypeError, "'loudness'"),
    (lambda: ostrel_mbe.decode(b"\0" * 23, "imbe7200"), ValueError, "5 bytes left over after 1 whole 18-byte frames"),
    (lambda: ostrel_mbe.decode("text", "imbe7200"), TypeError, "bytes-like"),
    (lambda: ostrel_mbe.decode_soft(np.zeros(80, np.float32), "ambe2450"), ValueError,
     "24 values left over after 1 whole frames of 56 values"),
    (lambda: ostrel_mbe.decode(b"", "imbe9600"), ValueError, "unknown rate 'imbe9600'"),
    (lambda: ostrel_mbe.transcode(b"\0" * 10, "ambe2450", "imbe7200"), ValueError, "3 bytes left over"),
    (lambda: ostrel_mbe.transcode(b"", "ambe2450", "imbe7200", envelope=1), TypeError, "'envelope'"),
    (lambda: m.LiveEncoder(m.Rate.IMBE_7200X4400).push_concat(np.zeros(3, np.float32)), TypeError, "numpy.int16"),
    (lambda: ostrel_mbe.decode(b"\0" * 36, "imbe7200", lost=[True]), ValueError, "lost: expected 2 flags, one per frame, got 1"),
    (lambda: ostrel_mbe.decode(b"", "imbe7200", lost=np.zeros((1, 1))), TypeError, "lost: expected a 1-D array of bools"),
    (lambda: ostrel_mbe.transcode(b"", "imbe7200", "imbe7200", lost=[]), ValueError, "none can be marked lost"),
])
def test_bad_input(call, error, text):
    with pytest.raises(error, match=text):
        call()


def test_empty_inputs():
    assert ostrel_mbe.encode(np.zeros(0, np.int16), "ambe2450") == b""
    assert ostrel_mbe.decode(b"", "ambe2450").shape == (0,)
    assert m.LiveDecoder(m.Rate.IMBE_7200X4400).push_concat(b"\0" * 17).shape == (0,)
