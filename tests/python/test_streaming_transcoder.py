# SPDX-License-Identifier: GPL-2.0-or-later
"""LiveEncoder, LiveDecoder and Transcoder: docstrings, framing, flush, argument checks, errors,
state and thread binding."""

import gc
import sys

import numpy as np
import pytest

import _ostrel_mbe as m
import ostrel_mbe
from conftest import ALL_RATES, DEBUG_NAMES, WIRE_BYTES, run_in_thread, speech_frames

R = m.Rate

CLASS_DOCS = {
    "LiveEncoder": ("(rate)", "Chunk-driven streaming encoder. Buffers caller-supplied PCM into\n"
                              "160-sample frames and emits one wire-byte blob per completed\n"
                              "frame. Pass any chunk size you have; partial frames are held until\n"
                              "the next [`push`]."),
    "LiveDecoder": ("(rate)", "Chunk-driven streaming decoder. Buffers caller-supplied wire\n"
                              "bytes into [`fec_frame_bytes`]-sized frames and emits PCM blocks\n"
                              "per decoded frame."),
    "Transcoder": ("(from, to)", "Wire-format bridge — decodes one rate and re-encodes to another.\n"
                                 "Used for Phase 1 IMBE ⇄ Phase 2 AMBE+2 conversion and for same-\n"
                                 "codec FEC ↔ no-FEC pairs."),
}
METHOD_DOCS = {
    ("LiveEncoder", "push"): ("($self, pcm)", "Push PCM. Returns a list of `bytes`, one per completed frame.\n"
                                              "Frames that fail to encode raise `ValueError` at the failing\n"
                                              "frame's slot."),
    ("LiveEncoder", "flush"): ("($self)", "Pad the residue with zeros and emit any pending frame.\n"
                                          "Returns the frame bytes or `None` if the residue was empty."),
    ("LiveEncoder", "reset"): ("($self)", None),
    ("LiveEncoder", "discard_pending"): ("($self)", None),
    ("LiveDecoder", "push"): ("($self, bits)", "Push wire bytes. Returns a list of `np.int16` arrays, one per\n"
                                               "completed frame."),
    ("LiveDecoder", "reset"): ("($self)", None),
    ("LiveDecoder", "discard_pending"): ("($self)", None),
    ("LiveDecoder", "set_formant_weighting"): ("($self, weighting)", None),
    ("Transcoder", "transcode"): ("($self, bits)", "Transcode one input frame to the destination rate."),
    ("Transcoder", "reset"): ("($self)", None),
}
SUPPORTED = [(R.IMBE_7200X4400, R.IMBE_4400X4400), (R.IMBE_4400X4400, R.IMBE_7200X4400),
             (R.AMBEPLUS2_3600X2450, R.AMBEPLUS2_2450X2450), (R.AMBEPLUS2_2450X2450, R.AMBEPLUS2_3600X2450),
             (R.IMBE_7200X4400, R.AMBEPLUS2_3600X2450), (R.AMBEPLUS2_3600X2450, R.IMBE_7200X4400)]


def encode(rate, frames):
    v = m.Vocoder(rate)
    return [v.encode_pcm(f) for f in frames]


def test_module_exports_every_class_in_order():
    names = [n for n in vars(m) if not n.startswith("_")]
    assert names == ["Rate", "AmbePlus2Synth", "EnhancementMode", "Vocoder", "LiveEncoder", "LiveDecoder",
                     "Transcoder", "FormantWeighting"]
    assert {ostrel_mbe.LiveEncoder, ostrel_mbe.LiveDecoder, ostrel_mbe.Transcoder} == {
        m.LiveEncoder, m.LiveDecoder, m.Transcoder}


@pytest.mark.parametrize("name", list(CLASS_DOCS))
def test_class_docstrings_and_signatures(name):
    signature, doc = CLASS_DOCS[name]
    assert getattr(m, name).__text_signature__ == signature
    assert getattr(m, name).__doc__ == doc


@pytest.mark.parametrize("key", list(METHOD_DOCS), ids=lambda k: ".".join(k))
def test_method_docstrings(key):
    signature, doc = METHOD_DOCS[key]
    method = getattr(getattr(m, key[0]), key[1])
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


@pytest.mark.parametrize("cls", [m.LiveEncoder, m.LiveDecoder])
def test_stream_construction_and_properties(cls, rate):
    s = cls(rate)
    assert s.rate is rate and cls(rate=rate).rate is rate
    assert repr(s) == f"{cls.__name__}(rate=Rate.{DEBUG_NAMES[int(rate)]})"
    with pytest.raises(TypeError, match="Rate"):
        cls(int(rate))
    with pytest.raises(AttributeError):
        s.rate = rate


# --- LiveEncoder -----------------------------------------------------------------------------


def test_encoder_pending_and_flush_examples():
    e = m.LiveEncoder(R.IMBE_7200X4400)
    assert e.flush() is None
    assert e.push(np.zeros(100, np.int16)) == [] and e.pending_samples == 100
    assert len(e.push(np.zeros(100, np.int16))) == 1 and e.pending_samples == 40
    assert e.push(np.zeros(0, np.int16)) == [] and e.pending_samples == 40
    e.discard_pending()
    assert e.pending_samples == 0
    e.push(np.ones(1, np.int16))
    frame = e.flush()
    assert isinstance(frame, bytes) and len(frame) == 18 and e.pending_samples == 0
    assert e.flush() is None


# Chunk sizes with 0, 1, one short of and one past a frame, a prime and several frames.
CHUNKS = [0, 1, 159, 161, 37, 485, 160]


@pytest.mark.parametrize("seed", [1, 2])
def test_chunked_streams_equal_frame_by_frame_calls(rate, seed):
    print(f"chunk sizes: seed={seed}")
    rng = np.random.default_rng(seed)
    frames = speech_frames(60)
    pcm = frames.reshape(-1)
    expected = encode(rate, frames)

    e, got, at = m.LiveEncoder(rate), [], 0
    while at < pcm.size:
        n = int(rng.choice(CHUNKS))
        got += e.push(pcm[at:at + n])
        at += n
        assert e.pending_samples == min(at, pcm.size) % 160
    assert got == expected

    data = b"".join(expected)
    v = m.Vocoder(rate)
    n_bytes = WIRE_BYTES[int(rate)]
    decoded_frames = [v.decode_bits(f) for f in expected]
    d, decoded, at = m.LiveDecoder(rate), [], 0
    while at < len(data):
        n = int(rng.choice(CHUNKS))
        decoded += d.push(data[at:at + n])
        at += n
        assert d.pending_bytes == min(at, len(data)) % n_bytes
    assert all(a.dtype == np.int16 and a.shape == (160,) for a in decoded)
    np.testing.assert_array_equal(np.concatenate(decoded), np.concatenate(decoded_frames))


def test_encoder_reset_and_discard_keep_their_promises():
    frames = speech_frames(12)
    e = m.LiveEncoder(R.AMBEPLUS2_3600X2450)
    e.push(frames[:6].reshape(-1)[:-10])
    e.discard_pending()  # the channel's history stays: the next frames continue the stream
    v = m.Vocoder(R.AMBEPLUS2_3600X2450)
    for f in frames[:5]:
        v.encode_pcm(f)
    assert e.push(frames[6:9].reshape(-1)) == [v.encode_pcm(f) for f in frames[6:9]]
    e.push(frames[0][:50])
    e.reset()  # a fresh channel and nothing pending
    assert e.pending_samples == 0
    assert e.push(frames[:4].reshape(-1)) == encode(R.AMBEPLUS2_3600X2450, frames[:4])


@pytest.mark.parametrize("bad, error, text", [
    ([0] * 160, TypeError, "pcm"),
    (np.zeros(160, np.float32), TypeError, "pcm"),
    (np.zeros((2, 160), np.int16), TypeError, "pcm"),
    (np.zeros(320, np.int16)[::2], TypeError, "The given array is not contiguous"),
])
def test_encoder_argument_checks(bad, error, text):
    e = m.LiveEncoder(R.IMBE_7200X4400)
    e.push(np.zeros(10, np.int16))
    with pytest.raises(error, match=text):
        e.push(bad)
    assert e.pending_samples == 10


# --- LiveDecoder -----------------------------------------------------------------------------


@pytest.mark.parametrize("rate, pushed, frames, pending", [
    (R.IMBE_7200X4400, 40, 2, 4), (R.AMBEPLUS2_2450X2450, 20, 2, 6), (R.IMBE_4400X4400, 10, 0, 10)])
def test_decoder_pending_examples(rate, pushed, frames, pending):
    d = m.LiveDecoder(rate)
    assert len(d.push(bytes(pushed))) == frames and d.pending_bytes == pending
    d.discard_pending()
    assert d.pending_bytes == 0
    d.push(bytes(3))
    d.reset()
    assert d.pending_bytes == 0


def test_decoder_formant_weighting_reaches_its_channel_and_survives_reset():
    frames = encode(R.IMBE_7200X4400, speech_frames(20))
    d = m.LiveDecoder(R.IMBE_7200X4400)
    assert d.formant_weighting is m.FormantWeighting.COMPAT
    d.set_formant_weighting(m.FormantWeighting.STANDARD)
    d.reset()
    assert d.formant_weighting is m.FormantWeighting.STANDARD
    v = m.Vocoder(R.IMBE_7200X4400)
    v.set_formant_weighting(m.FormantWeighting.STANDARD)
    v.reset()  # a reset channel picks its noise generator afresh
    np.testing.assert_array_equal(np.concatenate(d.push(b"".join(frames))),
                                  np.concatenate([v.decode_bits(f) for f in frames]))
    with pytest.raises(TypeError, match="FormantWeighting"):
        d.set_formant_weighting(m.EnhancementMode.NONE)


@pytest.mark.parametrize("bad", [bytearray(18), "abc", memoryview(bytes(18)), None])
def test_decoder_rejects_non_bytes(bad):
    with pytest.raises(TypeError, match="bits"):
        m.LiveDecoder(R.IMBE_7200X4400).push(bad)


# --- Transcoder ------------------------------------------------------------------------------


@pytest.mark.parametrize("source", ALL_RATES, ids=lambda r: DEBUG_NAMES[int(r)])
@pytest.mark.parametrize("target", ALL_RATES, ids=lambda r: DEBUG_NAMES[int(r)])
def test_transcoder_directions(source, target):
    if (source, target) in SUPPORTED:
        t = m.Transcoder(source, target)
        assert repr(t) == f"Transcoder(from=Rate.{DEBUG_NAMES[int(source)]}, to=Rate.{DEBUG_NAMES[int(target)]})"
        assert len(t.transcode(bytes(WIRE_BYTES[int(source)]))) == WIRE_BYTES[int(target)]
        return
    with pytest.raises(ValueError) as e:
        m.Transcoder(source, target)
    assert str(e.value) == (f"unsupported transcode direction: {DEBUG_NAMES[int(source)]} -> "
                            f"{DEBUG_NAMES[int(target)]}")


def test_transcoder_arguments():
    assert len(m.Transcoder(R.IMBE_4400X4400, to=R.IMBE_7200X4400).transcode(bytes(11))) == 18
    assert len(m.Transcoder(**{"from": R.IMBE_4400X4400, "to": R.IMBE_7200X4400}).transcode(bytes(11))) == 18
    with pytest.raises(TypeError, match="to"):
        m.Transcoder(R.IMBE_4400X4400, 0)
    with pytest.raises(TypeError):
        m.Transcoder(R.IMBE_4400X4400)
    with pytest.raises(TypeError, match="bits"):
        m.Transcoder(R.IMBE_4400X4400, R.IMBE_7200X4400).transcode(bytearray(11))
    t = m.Transcoder(R.IMBE_7200X4400, R.AMBEPLUS2_3600X2450)
    assert t.quantizer_search is False
    t.set_quantizer_search(on=True)
    t.reset()
    assert t.quantizer_search is True
    with pytest.raises(TypeError, match="on"):
        t.set_quantizer_search("yes")


@pytest.mark.parametrize("fec, bare", [(R.IMBE_7200X4400, R.IMBE_4400X4400),
                                       (R.AMBEPLUS2_3600X2450, R.AMBEPLUS2_2450X2450)])
def test_fec_to_bare_to_fec_is_the_identity_on_speech(fec, bare):
    down, up = m.Transcoder(fec, bare), m.Transcoder(bare, fec)
    for frame in encode(fec, speech_frames(40)):
        assert up.transcode(down.transcode(frame)) == frame


def test_cross_codec_refusal_and_reset_leave_a_consistent_state():
    frames = encode(R.IMBE_7200X4400, speech_frames(30))
    reference, t = m.Transcoder(R.IMBE_7200X4400, R.AMBEPLUS2_3600X2450), m.Transcoder(R.IMBE_7200X4400, R.AMBEPLUS2_3600X2450)
    for f in frames[:20]:
        with pytest.raises(ValueError, match="^expected 18 FEC bytes per frame, got 17$"):
            t.transcode(f[:17])
        assert t.transcode(f) == reference.transcode(f)
    t.reset()
    fresh = m.Transcoder(R.IMBE_7200X4400, R.AMBEPLUS2_3600X2450)
    assert [t.transcode(f) for f in frames[20:]] == [fresh.transcode(f) for f in frames[20:]]


def test_cross_codec_speech_decodes_at_the_destination():
    pcm = speech_frames()
    for source, target in SUPPORTED[4:]:
        t, v = m.Transcoder(source, target), m.Vocoder(target)
        out = np.concatenate([v.decode_bits(t.transcode(f)) for f in encode(source, pcm)])
        level_in = np.sqrt(np.mean(pcm.astype(float) ** 2))
        level_out = np.sqrt(np.mean(out.astype(float) ** 2))
        assert abs(20 * np.log10(level_out / level_in)) < 6, (source, target)


# --- thread binding (the rules of Vocoder, for the other three classes) ----------------------

MAKERS = {
    "LiveEncoder": lambda: m.LiveEncoder(R.IMBE_7200X4400),
    "LiveDecoder": lambda: m.LiveDecoder(R.IMBE_7200X4400),
    "Transcoder": lambda: m.Transcoder(R.IMBE_7200X4400, R.IMBE_4400X4400),
}
THREAD_CALLS = {
    "LiveEncoder": [lambda o: o.push(np.zeros(10, np.int16)), lambda o: o.flush(), lambda o: o.reset(),
                    lambda o: o.discard_pending(), lambda o: o.pending_samples, lambda o: o.rate, repr],
    "LiveDecoder": [lambda o: o.push(bytes(5)), lambda o: o.reset(), lambda o: o.discard_pending(),
                    lambda o: o.pending_bytes, lambda o: o.rate, repr, lambda o: o.formant_weighting,
                    lambda o: o.set_formant_weighting(m.FormantWeighting.STANDARD)],
    "Transcoder": [lambda o: o.transcode(bytes(18)), lambda o: o.reset(), repr],
}


@pytest.mark.parametrize("name, call", [(n, c) for n, calls in THREAD_CALLS.items() for c in calls])
def test_use_from_another_thread_raises(name, call):
    obj = MAKERS[name]()
    error_type, message = run_in_thread(lambda: call(obj))["error"]
    assert issubclass(error_type, RuntimeError) and not issubclass(error_type, ValueError)
    assert f"_ostrel_mbe::Py{name} is unsendable, but sent to another thread" in message
    call(obj)  # still fine on its own thread


@pytest.mark.parametrize("name", list(MAKERS))
def test_drop_on_another_thread_reports_unraisable(name):
    reports = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda report: reports.append((report.exc_type, str(report.exc_value)))
    try:
        holder = [MAKERS[name]()]
        assert "error" not in run_in_thread(lambda: holder.clear())  # the last reference goes there
        gc.collect()
    finally:
        sys.unraisablehook = old_hook
    assert reports == [(RuntimeError, f"_ostrel_mbe::Py{name} is unsendable, but is being dropped on another thread")]


def tone_frames_sent(pcm, strict):
    """Frames a half-rate LiveEncoder with tone detection sends as tone frames, per frame."""
    enc = m.LiveEncoder(m.Rate.AMBEPLUS2_3600X2450)
    enc.set_tone_detection(True)
    enc.set_strict_tone_detection(strict)
    assert (enc.tone_detection, enc.strict_tone_detection) == (True, strict)
    dec = m.Vocoder(m.Rate.AMBEPLUS2_3600X2450)
    kinds = []
    for frame in enc.push(pcm):
        dec.decode_bits(frame)
        kinds.append(dec.last_decode_report()["kind"] == "tone")
    return kinds


def test_strict_tone_detection_keeps_speech_out_and_sends_every_dtmf_digit():
    speech = speech_frames().reshape(-1)
    assert sum(tone_frames_sent(speech, strict=False)) > 200  # the standard detector fires on voiced speech
    assert sum(tone_frames_sent(speech, strict=True)) <= 3
    t = np.arange(800) / 8000.0
    digits = [np.concatenate([8000 * (np.sin(2 * np.pi * lo * t) + np.sin(2 * np.pi * hi * t)), np.zeros(480)])
              for lo in (697, 770, 852, 941) for hi in (1209, 1336, 1477, 1633)]
    sent = np.array(tone_frames_sent(np.concatenate(digits).astype(np.int16), strict=True)).reshape(16, -1)
    assert sent.any(axis=1).all()


def test_streaming_classes_carry_the_settings_of_their_direction():
    enc, dec = m.LiveEncoder(m.Rate.IMBE_7200X4400), m.LiveDecoder(m.Rate.IMBE_7200X4400)
    enc.set_amp_ema_alpha(2.5)
    dec.set_enhancement(m.EnhancementMode.NONE)
    dec.set_repeat_reset_after(3)
    assert (enc.amp_ema_alpha, dec.enhancement, dec.repeat_reset_after) == (1.0, m.EnhancementMode.NONE, 3)
    assert not hasattr(enc, "set_enhancement") and not hasattr(dec, "set_tone_detection")
