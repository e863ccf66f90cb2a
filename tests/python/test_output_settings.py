# SPDX-License-Identifier: GPL-2.0-or-later
"""Decoded-output settings: level control, tone frames by every index copy, muted tones and the
cautious call start."""

import numpy as np
import pytest

import _ostrel_mbe as m
from conftest import random_frames, speech_frames

FLAGS = ["agc", "tone_copies", "mute_tones", "cautious_start"]
NUMBERS = {"agc_level": (-20.0, -26.0), "agc_max_gain": (18.0, 12.0), "output_gain": (0.0, -3.0)}


@pytest.mark.parametrize("cls", [m.Vocoder, m.LiveDecoder])
def test_settings_default_off_and_survive_reset_and_enhancement(cls):
    d = cls(m.Rate.AMBEPLUS2_3600X2450)
    for name in FLAGS:
        assert getattr(d, name) is False
        getattr(d, f"set_{name}")(True)
    for name, (default, other) in NUMBERS.items():
        assert getattr(d, name) == default
        getattr(d, f"set_{name}")(other)
    d.reset()
    if cls is m.Vocoder:
        d.set_enhancement(m.EnhancementMode.NONE)
    assert all(getattr(d, name) is True for name in FLAGS)
    assert all(getattr(d, name) == other for name, (_, other) in NUMBERS.items())
    d.set_agc_level(5)
    d.set_output_gain(float("nan"))
    assert (d.agc_level, d.output_gain) == (0.0, 0.0)
    with pytest.raises(TypeError):
        d.set_agc(1)


def active_dbfs(x):
    n = len(x) // 160
    e = np.mean((x[:n * 160].astype(np.float64).reshape(n, 160) / 32768) ** 2, axis=1)
    return 10 * np.log10(np.mean(e[e >= e.max() * 10 ** -2.5]))


def coded(rate, level, agc, mode=m.EnhancementMode.CLASSICAL):
    speech = np.concatenate(speech_frames(250)).astype(np.float64)
    pcm = np.clip(speech * 10 ** ((level - active_dbfs(speech)) / 20), -32768, 32767).astype(np.int16)
    enc, dec = m.Vocoder(rate), m.Vocoder(rate)
    dec.set_enhancement(mode)
    dec.set_agc(agc)
    return np.concatenate([dec.decode_bits(enc.encode_pcm(pcm[i:i + 160])) for i in range(0, len(pcm), 160)])


@pytest.mark.parametrize("rate", [m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_3600X2450], ids=["imbe", "ambe"])
@pytest.mark.parametrize("level", [-35.0, -6.0])
@pytest.mark.parametrize("mode", [m.EnhancementMode.CLASSICAL, m.EnhancementMode.NONE], ids=["classical", "none"])
def test_agc_brings_quiet_and_loud_talkers_to_the_target_without_clipping(rate, level, mode):
    out = coded(rate, level, True, mode)
    assert abs(active_dbfs(out[8000:]) - (-20.0)) <= 3.0
    assert np.abs(out.astype(np.int32)).max() < 32767


@pytest.mark.parametrize("rate", [m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_3600X2450], ids=["imbe", "ambe"])
def test_agc_does_not_raise_comfort_noise_or_silence(rate):
    # Muted garbage, then digital silence (coded as quiet voice frames): the gain stays where it
    # started, so the output is exactly that of the chain without level control.
    enc = m.Vocoder(rate)
    silence = [enc.encode_pcm(np.zeros(160, np.int16)) for _ in range(20)]
    frames = random_frames(rate, 60, seed=3) + silence
    plain, agc = m.Vocoder(rate), m.Vocoder(rate)
    for d in (plain, agc):
        d.set_cautious_start(True)
    agc.set_agc(True)
    for f in frames:
        np.testing.assert_array_equal(plain.decode_bits(f), agc.decode_bits(f))


def tone_frame_2450(digit_pcm):
    enc = m.Vocoder(m.Rate.AMBEPLUS2_2450X2450)
    enc.set_tone_detection(True)
    bits = enc.encode_pcm(digit_pcm)
    assert enc.last_output_kind() == "tone"
    return bits, enc.last_tone_detection()[0]


def flip_stream_bits(bits, positions):
    a = np.unpackbits(np.frombuffer(bits, np.uint8))
    a[list(positions)] ^= 1
    return np.packbits(a).tobytes()


def dtmf():
    t = np.arange(160) / 8000
    return (4000 * (np.sin(2 * np.pi * 770 * t) + np.sin(2 * np.pi * 1336 * t))).astype(np.int16)


def test_tone_copies_mend_a_hit_u3_copy_and_conceal_unreadable_frames():
    bits, index = tone_frame_2450(dtmf())
    # Stream bits 36..43 are u3's copy of the index, the one the default reading uses.
    hit = flip_stream_bits(bits, [43])
    default, copies = m.Vocoder(m.Rate.AMBEPLUS2_2450X2450), m.Vocoder(m.Rate.AMBEPLUS2_2450X2450)
    copies.set_tone_copies(True)
    for d in (default, copies):
        d.decode_bits(bits)
        d.decode_bits(hit)
    assert default.last_decode_report()["tone"][0] == index ^ 1
    assert copies.last_decode_report()["tone"][0] == index
    # Three hits in u2 (bits 24..34) leave no entry near enough without FEC: concealed.
    copies.decode_bits(flip_stream_bits(bits, [24, 26, 28]))
    report = copies.last_decode_report()
    assert (report["kind"], report["disposition"]) == ("invalid", "repeat")


def test_mute_tones_plays_tone_frames_silent():
    bits, _ = tone_frame_2450(dtmf())
    d = m.Vocoder(m.Rate.AMBEPLUS2_2450X2450)
    d.set_mute_tones(True)
    out = np.concatenate([d.decode_bits(bits) for _ in range(3)])
    assert d.last_decode_report()["kind"] == "tone"
    assert np.abs(out.astype(np.int32)).max() < 50


@pytest.mark.parametrize("rate", [m.Rate.IMBE_7200X4400, m.Rate.AMBEPLUS2_3600X2450], ids=["imbe", "ambe"])
def test_cautious_start_mutes_garbage_and_hears_clean_speech_at_once(rate):
    enc = m.Vocoder(rate)
    speech = [enc.encode_pcm(f) for f in speech_frames(40)]
    d = m.Vocoder(rate)
    d.set_cautious_start(True)
    garbage = [d.decode_bits(f) for f in random_frames(rate, 50, seed=8)]
    assert max(np.abs(g.astype(np.int32)).max() for g in garbage[2:]) < 400  # comfort noise only
    dispositions = []
    for f in speech:
        d.decode_bits(f)
        dispositions.append(d.last_decode_report()["disposition"])
    assert "normal" in dispositions[:2] and dispositions[2:].count("normal") == len(dispositions) - 2
    # Without garbage, the first frame is heard.
    d.reset()
    d.decode_bits(speech[0])
    assert d.last_decode_report()["disposition"] == "normal"
