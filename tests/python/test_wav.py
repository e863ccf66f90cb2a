# SPDX-License-Identifier: GPL-2.0-or-later
"""WAV reading, resampling, writing and framing of the ostrel_mbe package."""

import struct
import tracemalloc
import wave

import numpy as np
import pytest

from ostrel_mbe import wav
from ostrel_mbe.__main__ import bundled_speech


def riff(fmt_chunk: bytes, data: bytes, extra_chunks: bytes = b"") -> bytes:
    body = b"WAVE" + extra_chunks + b"fmt " + struct.pack("<I", len(fmt_chunk)) + fmt_chunk
    body += b"data" + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(tag, channels, rate, bits):
    block = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)


def fmt_extensible(sub_tag, channels, rate, bits, valid_bits=None):
    guid = struct.pack("<H", sub_tag) + b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
    ext = struct.pack("<HHI", 22, valid_bits or bits, 0) + guid
    return fmt(0xFFFE, channels, rate, bits) + ext


def encode_samples(x, bits, is_float):
    """float samples in [-1, 1) -> little-endian sample bytes."""
    if is_float:
        return x.astype("<f4" if bits == 32 else "<f8").tobytes()
    if bits == 8:
        return np.clip(np.round(x * 128 + 128), 0, 255).astype(np.uint8).tobytes()
    scale = float(1 << (bits - 1))
    v = np.clip(np.round(x * scale), -scale, scale - 1).astype(np.int64)
    if bits == 24:
        u = (v & 0xFFFFFF).astype(np.uint32)
        return np.stack([u & 0xFF, (u >> 8) & 0xFF, (u >> 16) & 0xFF], axis=1).astype(np.uint8).tobytes()
    return v.astype("<i2" if bits == 16 else "<i4").tobytes()


def tone(freq, rate, seconds, amplitude=0.5):
    t = np.arange(int(rate * seconds)) / rate
    return amplitude * np.sin(2 * np.pi * freq * t)


def dominant_frequency(x, rate):
    spectrum = np.abs(np.fft.rfft(x * np.hanning(x.size)))
    k = int(np.argmax(spectrum))
    # Parabolic interpolation between bins.
    a, b, c = np.log(spectrum[k - 1:k + 2] + 1e-12)
    return (k + 0.5 * (a - c) / (a - 2 * b + c)) * rate / x.size


def rms_db(x):
    return 20 * np.log10(np.sqrt(np.mean(np.asarray(x, dtype=np.float64) ** 2)) + 1e-30)


# --- reading -------------------------------------------------------------------------------


@pytest.mark.parametrize("bits,is_float", [(8, False), (16, False), (24, False), (32, False), (32, True), (64, True)])
@pytest.mark.parametrize("extensible", [False, True])
def test_read_sample_formats(tmp_path, bits, is_float, extensible):
    x = tone(440, 8000, 0.1, amplitude=0.7)
    tag = 3 if is_float else 1
    header = fmt_extensible(tag, 1, 8000, bits) if extensible else fmt(tag, 1, 8000, bits)
    path = tmp_path / "x.wav"
    path.write_bytes(riff(header, encode_samples(x, bits, is_float)))
    y, rate = wav.read(path)
    assert rate == 8000
    assert y.dtype == np.float64 and y.shape == x.shape
    step = 1.0 / 128 if bits == 8 else 1.0 / (1 << (bits - 1))
    np.testing.assert_allclose(y, x, atol=0.51 * step if not is_float else 1e-7)


def test_read_extremes_of_integer_formats(tmp_path):
    data = struct.pack("<hhh", -32768, 0, 32767)
    path = tmp_path / "x.wav"
    path.write_bytes(riff(fmt(1, 1, 8000, 16), data))
    y, _ = wav.read(path)
    assert y.tolist() == [-1.0, 0.0, 32767 / 32768]
    path.write_bytes(riff(fmt(1, 1, 8000, 24), bytes([0, 0, 0x80, 0xFF, 0xFF, 0x7F, 1, 0, 0])))
    assert wav.read(path)[0].tolist() == [-1.0, (2**23 - 1) / 2**23, 1 / 2**23]
    path.write_bytes(riff(fmt(1, 1, 8000, 8), bytes([0, 128, 255])))
    assert wav.read(path)[0].tolist() == [-1.0, 0.0, 127 / 128]


def test_multichannel_is_mixed_down(tmp_path):
    x = tone(300, 8000, 0.05)
    stereo_same = np.stack([x, x], axis=1).reshape(-1)
    path = tmp_path / "s.wav"
    path.write_bytes(riff(fmt(3, 2, 8000, 32), stereo_same.astype("<f4").tobytes()))
    np.testing.assert_allclose(wav.read(path)[0], x, atol=1e-7)
    opposite = np.stack([x, -x, 0.5 * x], axis=1).reshape(-1)
    path.write_bytes(riff(fmt(3, 3, 8000, 32), opposite.astype("<f4").tobytes()))
    np.testing.assert_allclose(wav.read(path)[0], x / 6, atol=1e-7)


def test_skips_unknown_chunks_and_tolerates_truncated_data(tmp_path):
    x = (np.arange(100) - 50).astype("<i2")
    extra = b"LIST" + struct.pack("<I", 3) + b"abc\0"  # odd-sized chunk with its pad byte
    blob = riff(fmt(1, 1, 8000, 16), x.tobytes(), extra_chunks=extra)
    path = tmp_path / "x.wav"
    path.write_bytes(blob)
    np.testing.assert_array_equal(wav.load_pcm(path), x)
    path.write_bytes(blob[:-51])  # cut mid-sample: whole samples that remain are kept
    assert wav.load_pcm(path).tolist() == x[:74].tolist()


# None: refused by libsndfile in its own words; the rest are this module's messages.
@pytest.mark.parametrize("blob,message", [
    (b"", "not a RIFF/WAVE file"),
    (b"RIFX" + bytes(40), "not a RIFF/WAVE file"),
    (b"OggS" + bytes(100), None),
    (riff(fmt(2, 1, 8000, 4), bytes(10)), None),
    (riff(fmt(3, 1, 8000, 16), bytes(10)), None),
    (riff(fmt(1, 0, 8000, 16), bytes(10)), None),
    (riff(fmt(1, 1, 0, 16), bytes(10)), "unsupported sample rate"),
    # A header's rate must not make the resampler build a signal thousands of times the file.
    (riff(fmt(1, 1, 1, 16), bytes(10)), "unsupported sample rate 1 Hz"),
    (riff(fmt(1, 1, 3999, 16), bytes(10)), "unsupported sample rate 3999 Hz"),
    (riff(fmt(1, 1, 768001, 16), bytes(10)), "unsupported sample rate 768001 Hz"),
    (riff(struct.pack("<HHIIHH", 1, 1, 0xFFFFFFFF, 0, 2, 16), bytes(10)), "unsupported sample rate"),
    (riff(b"\1\0", bytes(10)), None),
    (b"RIFF" + struct.pack("<I", 4) + b"WAVE", None),
    (riff(fmt(1, 1, 8000, 16), b"")[:-8], None),
])
def test_bad_files_raise_wav_error(tmp_path, blob, message):
    path = tmp_path / "bad.wav"
    path.write_bytes(blob)
    with pytest.raises(wav.WavError, match=message or ".") as e:
        wav.read(path)
    assert "\n" not in str(e.value)


def test_wav_error_is_a_value_error():
    assert issubclass(wav.WavError, ValueError)


# --- resampling ----------------------------------------------------------------------------


@pytest.mark.parametrize("rate", [44100, 48000, 16000, 22050, 11025, 32000])
def test_tone_keeps_frequency_and_level(tmp_path, rate):
    x = tone(1000, rate, 1.0, amplitude=0.5)
    path = tmp_path / "tone.wav"
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(np.round(x * 32767).astype("<i2").tobytes())
    pcm = wav.load_pcm(path)
    assert pcm.dtype == np.int16 and pcm.size == 8000
    middle = pcm[800:7200].astype(np.float64)
    assert abs(dominant_frequency(middle, 8000) - 1000.0) < 1.0
    assert abs(rms_db(middle / 32768) - rms_db(x)) < 0.05


@pytest.mark.parametrize("rate", [4000, 44101, 767999])
def test_any_readable_rate_resamples_with_a_small_filter(tmp_path, rate):
    # 44101 and 767999 Hz reduce to no small ratio with 8000 Hz: read as the nearest one.
    x = tone(1000, rate, 0.25)
    path = tmp_path / "odd.wav"
    path.write_bytes(riff(fmt(1, 1, rate, 16), encode_samples(x, 16, False)))
    tracemalloc.start()
    try:
        pcm = wav.load_pcm(path)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert abs(pcm.size - 2000) <= 1
    assert abs(dominant_frequency(pcm[200:1800].astype(np.float64), 8000) - 1000.0) < 2.0
    assert peak < 16 * 2**20 + 64 * path.stat().st_size


@pytest.mark.parametrize("freq", [1000, 4500, 6000, 10000, 20000])
def test_streamed_44k1_file_keeps_1khz_and_removes_all_above_4khz(tmp_path, freq):
    import soundfile

    x = tone(freq, 44100, 1.0)
    path = tmp_path / "tone.wav"
    soundfile.write(path, x, 44100, subtype="FLOAT")
    # Small blocks: the resampler's state must carry across many block boundaries.
    y = np.concatenate(list(wav.iter_pcm(path, block_frames=1000)))[400:-400] / 32768
    if freq < 4000:
        assert abs(dominant_frequency(y, 8000) - freq) < 1.0
        assert abs(rms_db(y) - rms_db(x)) < 0.05
    else:
        assert rms_db(y) < rms_db(x) - 60


def test_passband_is_flat_for_speech():
    for freq in (200, 1000, 2000, 3000):
        y = wav.resample(tone(freq, 48000, 0.5), 48000, 8000)
        assert abs(rms_db(y[400:-400]) - rms_db(tone(freq, 48000, 0.5))) < 0.1, freq


def test_resample_length_and_alignment():
    x = tone(500, 44100, 0.2)
    y = wav.resample(x, 44100, 8000)
    assert y.size == -(-x.size * 8000 // 44100)
    # Aligned in time: sample k of the output is the input at time k / 8000.
    np.testing.assert_allclose(y[100:-100], tone(500, 8000, 0.2)[100:y.size - 100], atol=1e-3)


def test_up_then_down_is_nearly_identity():
    rng = np.random.default_rng(5)
    print("seed 5")
    # Band-limited test signal: sum of random tones below 3 kHz.
    t = np.arange(4000) / 8000
    x = sum(rng.uniform(0.02, 0.1) * np.sin(2 * np.pi * f * t + rng.uniform(0, 6.3)) for f in rng.uniform(100, 3000, 12))
    y = wav.resample(wav.resample(x, 8000, 16000), 16000, 8000)
    np.testing.assert_allclose(y[200:-200], x[200:-200], atol=2e-3)


def test_equal_rates_pass_through():
    x = np.random.default_rng(3).uniform(-1, 1, 1000)
    y = wav.resample(x, 8000, 8000)
    np.testing.assert_array_equal(y, x)
    assert y is not x


def test_8khz_16bit_mono_round_trips_exactly(tmp_path):
    rng = np.random.default_rng(11)
    print("seed 11")
    pcm = rng.integers(-32768, 32768, 1234, dtype=np.int16)
    path = tmp_path / "x.wav"
    wav.write(path, pcm)
    with wave.open(str(path)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (1, 2, 8000, 1234)
    np.testing.assert_array_equal(wav.load_pcm(path), pcm)


def test_write_rejects_other_arrays(tmp_path):
    with pytest.raises(ValueError):
        wav.write(tmp_path / "x.wav", np.zeros(10, dtype=np.float32))
    with pytest.raises(ValueError):
        wav.write(tmp_path / "x.wav", np.zeros((2, 10), dtype=np.int16))


def test_to_int16_rounds_and_clips():
    assert wav.to_int16(np.array([-2.0, -1.0, 0.0, 0.5, 1.0, 3.0])).tolist() == [-32768, -32768, 0, 16384, 32767, 32767]


# --- frames --------------------------------------------------------------------------------


@pytest.mark.parametrize("n,frames", [(0, 0), (1, 1), (159, 1), (160, 1), (161, 2), (480, 3)])
def test_split_frames_pads_the_last_frame(n, frames):
    pcm = np.arange(1, n + 1, dtype=np.int16)
    rows = wav.split_frames(pcm)
    assert rows.shape == (frames, 160) and rows.dtype == np.int16 and rows.flags.c_contiguous
    flat = rows.reshape(-1)
    np.testing.assert_array_equal(flat[:n], pcm)
    assert not flat[n:].any()
    np.testing.assert_array_equal(wav.join_frames(list(rows))[:n], pcm)
    assert all(row.flags.c_contiguous for row in rows)


def test_join_frames_of_nothing():
    out = wav.join_frames([])
    assert out.dtype == np.int16 and out.size == 0


def test_bundled_clip():
    path = bundled_speech()
    assert path.stat().st_size < 150_000
    with wave.open(str(path)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 8000)
        assert 3.0 <= w.getnframes() / 8000 <= 6.0
    pcm = wav.load_pcm(path)
    # Real speech: loud and quiet stretches.
    energy = np.sqrt(np.mean(wav.split_frames(pcm).astype(np.float64) ** 2, axis=1))
    assert energy.max() > 3000 and energy.min() < 300
    assert (path.parent / "ATTRIBUTION.md").is_file()
