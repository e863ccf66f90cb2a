/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Tests of the C interface, written the way a C user writes: NULL handles and buffers, wrong
 * lengths, buffers that are too small, freeing and then using a NULLed handle.  Built as C11
 * with -Wall -Werror, in the sanitizer build too, and against the installed library. */
#include <ostrel_mbe/ostrel_mbe.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                      \
    do {                                                                 \
        if (!(cond)) {                                                   \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                  \
        }                                                                \
    } while (0)

#define FRAMES 8

/* A voiced test signal: harmonics of 140 Hz with a falling tilt, or a DTMF "1". */
static void make_signal(int16_t *pcm, size_t n, int dtmf) {
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i) {
        const double t = (double)i / 8000.0;
        double s = 0.0;
        if (dtmf) {
            s = 0.4 * (sin(2 * pi * 697 * t) + sin(2 * pi * 1209 * t));
        } else {
            for (int h = 1; h * 140 < 3600; ++h) s += 0.3 * sin(2 * pi * 140 * h * t) / h;
        }
        pcm[i] = (int16_t)lround(s * 16000.0);
    }
}

static void test_codes_and_geometry(void) {
    for (int code = 0; code >= -11; --code) {
        CHECK(ostrel_mbe_strerror(code) != NULL);
        if (code < 0) CHECK(strcmp(ostrel_mbe_strerror(code), ostrel_mbe_strerror(code + 1)) != 0);
    }
    CHECK(strcmp(ostrel_mbe_strerror(-11), "unknown error code") == 0);
    CHECK(strcmp(ostrel_mbe_version(), OSTREL_MBE_VERSION_STRING) == 0);
    const int bytes[4] = {18, 11, 9, 7};
    for (int rate = 0; rate < 4; ++rate) CHECK(ostrel_mbe_frame_bytes(rate) == bytes[rate]);
    CHECK(ostrel_mbe_frame_bytes(4) == OSTREL_MBE_ERR_BAD_ARGUMENT);
    CHECK(ostrel_mbe_frame_bytes(-1) == OSTREL_MBE_ERR_BAD_ARGUMENT);
}

static void test_null_handles_and_bad_creation(void) {
    int16_t pcm[160] = {0};
    uint8_t frame[18] = {0};
    double value = 0.0;
    size_t n = 0;
    ostrel_mbe_decode_report report;
    ostrel_mbe_encode_report encode_report;
    CHECK(ostrel_mbe_vocoder_encode(NULL, pcm, 160, frame, 18) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_decode(NULL, frame, 18, pcm, 160) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_reset(NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_rate(NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_set(NULL, 0, 1.0) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_get(NULL, 0, &value) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_decode_report(NULL, &report) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_encode_report(NULL, &encode_report) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_encoder_push(NULL, pcm, 160, frame, 18, &n) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_encoder_flush(NULL, frame, 18, &n) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_encoder_pending(NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_decoder_push(NULL, frame, 18, pcm, 160, &n) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_decoder_report(NULL, &report) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_transcoder_transcode(NULL, frame, 18, frame, 18) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_transcoder_reset(NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    ostrel_mbe_vocoder_free(NULL);
    ostrel_mbe_live_encoder_free(NULL);
    ostrel_mbe_live_decoder_free(NULL);
    ostrel_mbe_transcoder_free(NULL);

    int error = 1;
    CHECK(ostrel_mbe_vocoder_new(4, &error) == NULL && error == OSTREL_MBE_ERR_BAD_ARGUMENT);
    CHECK(ostrel_mbe_vocoder_new(-1, NULL) == NULL);
    CHECK(ostrel_mbe_live_decoder_new(7, &error) == NULL && error == OSTREL_MBE_ERR_BAD_ARGUMENT);
    CHECK(ostrel_mbe_transcoder_new(OSTREL_MBE_IMBE_4400X4400, OSTREL_MBE_AMBEPLUS2_2450X2450, &error) == NULL);
    CHECK(error == OSTREL_MBE_ERR_UNSUPPORTED_TRANSCODE);
    CHECK(ostrel_mbe_transcoder_new(OSTREL_MBE_IMBE_7200X4400, OSTREL_MBE_IMBE_7200X4400, &error) == NULL);
    CHECK(ostrel_mbe_transcoder_new(0, 9, &error) == NULL && error == OSTREL_MBE_ERR_BAD_ARGUMENT);
}

/* Encodes FRAMES frames of the test signal at rate into frames[], one frame_bytes apart. */
static void encode_all(int rate, uint8_t frames[FRAMES][18]) {
    int16_t pcm[160 * FRAMES];
    make_signal(pcm, 160 * FRAMES, 0);
    ostrel_mbe_vocoder *enc = ostrel_mbe_vocoder_new(rate, NULL);
    CHECK(enc != NULL);
    for (int i = 0; i < FRAMES; ++i) {
        CHECK(ostrel_mbe_vocoder_encode(enc, pcm + 160 * i, 160, frames[i], 18) == ostrel_mbe_frame_bytes(rate));
    }
    ostrel_mbe_vocoder_free(enc);
}

static void test_vocoder(int rate) {
    const int bytes = ostrel_mbe_frame_bytes(rate);
    int error = 1;
    ostrel_mbe_vocoder *v = ostrel_mbe_vocoder_new(rate, &error);
    CHECK(v != NULL && error == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_rate(v) == rate);

    int16_t pcm[161] = {0};
    uint8_t frame[18] = {0};
    CHECK(ostrel_mbe_vocoder_encode(v, pcm, 159, frame, 18) == OSTREL_MBE_ERR_WRONG_PCM_LENGTH);
    CHECK(ostrel_mbe_vocoder_encode(v, pcm, 161, frame, 18) == OSTREL_MBE_ERR_WRONG_PCM_LENGTH);
    CHECK(ostrel_mbe_vocoder_encode(v, NULL, 0, frame, 18) == OSTREL_MBE_ERR_WRONG_PCM_LENGTH);
    CHECK(ostrel_mbe_vocoder_encode(v, NULL, 160, frame, 18) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_encode(v, pcm, 160, NULL, 18) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_encode(v, pcm, 160, frame, (size_t)bytes - 1) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL);
    CHECK(ostrel_mbe_vocoder_decode(v, frame, (size_t)bytes + 1, pcm, 160) == OSTREL_MBE_ERR_WRONG_FRAME_LENGTH);
    CHECK(ostrel_mbe_vocoder_decode(v, NULL, 0, pcm, 160) == OSTREL_MBE_ERR_WRONG_FRAME_LENGTH);
    CHECK(ostrel_mbe_vocoder_decode(v, frame, (size_t)bytes, pcm, 159) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL);

    /* Refused calls change nothing: v, which saw them, decodes like a fresh channel. */
    uint8_t frames[FRAMES][18];
    encode_all(rate, frames);
    ostrel_mbe_vocoder *fresh = ostrel_mbe_vocoder_new(rate, NULL);
    ostrel_mbe_decode_report report;
    CHECK(ostrel_mbe_vocoder_decode_report(v, &report) == OSTREL_MBE_OK && report.kind == OSTREL_MBE_KIND_NONE);
    for (int i = 0; i < FRAMES; ++i) {
        int16_t a[160], b[160];
        CHECK(ostrel_mbe_vocoder_decode(v, frames[i], (size_t)bytes, a, 160) == 160);
        CHECK(ostrel_mbe_vocoder_decode(fresh, frames[i], (size_t)bytes, b, 160) == 160);
        CHECK(memcmp(a, b, sizeof a) == 0);
        CHECK(ostrel_mbe_vocoder_decode_report(v, &report) == OSTREL_MBE_OK);
        CHECK(report.kind == (i < 2 ? OSTREL_MBE_KIND_SILENCE : OSTREL_MBE_KIND_VOICE));
        CHECK(report.disposition == OSTREL_MBE_DISPOSITION_NORMAL);
        CHECK(report.code_vectors == (rate == 0 ? 8u : rate == 2 ? 4u : 0u));
    }
    CHECK(ostrel_mbe_vocoder_decode_report(v, NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    ostrel_mbe_vocoder_free(fresh);

    /* The pattern a C user writes: free, NULL the pointer, and every later call is refused. */
    ostrel_mbe_vocoder_free(v);
    v = NULL;
    CHECK(ostrel_mbe_vocoder_decode(v, frames[0], (size_t)bytes, pcm, 160) == OSTREL_MBE_ERR_NULL_POINTER);
    ostrel_mbe_vocoder_free(v);
}

static void test_settings(void) {
    ostrel_mbe_vocoder *v = ostrel_mbe_vocoder_new(OSTREL_MBE_AMBEPLUS2_3600X2450, NULL);
    double value = -5.0;
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_SPECTRAL_SUBTRACTION, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, &value) == OSTREL_MBE_OK && value == -1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_ENHANCEMENT, &value) == OSTREL_MBE_OK);
    CHECK(value == OSTREL_MBE_ENHANCEMENT_CLASSICAL);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_COUNT, &value) == OSTREL_MBE_ERR_BAD_ARGUMENT);
    CHECK(ostrel_mbe_vocoder_get(v, 0, NULL) == OSTREL_MBE_ERR_NULL_POINTER);

    /* Every setting reads back what it was given, within its range. */
    const struct { int setting; double value; } good[] = {
        {OSTREL_MBE_SETTING_TONE_DETECTION, 1.0},        {OSTREL_MBE_SETTING_CHIP_COMPAT, 1.0},
        {OSTREL_MBE_SETTING_PYIN_PITCH, 1.0},            {OSTREL_MBE_SETTING_AMP_EMA_ALPHA, 0.25},
        {OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, 4294967295.0}, {OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, 3.0},
        {OSTREL_MBE_SETTING_AMBE_PLUS2_SYNTH, OSTREL_MBE_SYNTH_BASELINE},
        {OSTREL_MBE_SETTING_ENHANCEMENT, OSTREL_MBE_ENHANCEMENT_NONE},
        {OSTREL_MBE_SETTING_FORMANT_WEIGHTING, OSTREL_MBE_FORMANT_WEIGHTING_STANDARD},
        {OSTREL_MBE_SETTING_QUANTIZER_SEARCH, 1.0},
        {OSTREL_MBE_SETTING_AGC, 1.0},                   {OSTREL_MBE_SETTING_AGC_LEVEL, -26.0},
        {OSTREL_MBE_SETTING_AGC_MAX_GAIN, 12.0},         {OSTREL_MBE_SETTING_OUTPUT_GAIN, -3.0},
        {OSTREL_MBE_SETTING_TONE_COPIES, 1.0},           {OSTREL_MBE_SETTING_MUTE_TONES, 1.0},
        {OSTREL_MBE_SETTING_CAUTIOUS_START, 1.0},        {OSTREL_MBE_SETTING_STRICT_TONE_DETECTION, 1.0},
    };
    for (size_t i = 0; i < sizeof good / sizeof good[0]; ++i) {
        CHECK(ostrel_mbe_vocoder_set(v, good[i].setting, good[i].value) == OSTREL_MBE_OK);
        CHECK(ostrel_mbe_vocoder_get(v, good[i].setting, &value) == OSTREL_MBE_OK && value == good[i].value);
    }
    const struct { int setting; double value; } bad[] = {
        {OSTREL_MBE_SETTING_TONE_DETECTION, 0.5}, {OSTREL_MBE_SETTING_TONE_DETECTION, 2.0},
        {OSTREL_MBE_SETTING_CHIP_COMPAT, NAN},    {OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, -2.0},
        {OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, 4294967296.0}, {OSTREL_MBE_SETTING_REPEAT_RESET_AFTER, 1.5},
        {OSTREL_MBE_SETTING_AMBE_PLUS2_SYNTH, 2.0}, {OSTREL_MBE_SETTING_ENHANCEMENT, -1.0},
        {OSTREL_MBE_SETTING_FORMANT_WEIGHTING, 2.0},
        {-1, 0.0}, {OSTREL_MBE_SETTING_COUNT, 0.0},
    };
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        CHECK(ostrel_mbe_vocoder_set(v, bad[i].setting, bad[i].value) == OSTREL_MBE_ERR_BAD_ARGUMENT);
    }
    CHECK(ostrel_mbe_vocoder_set(v, OSTREL_MBE_SETTING_AMP_EMA_ALPHA, 2.5) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_AMP_EMA_ALPHA, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_set(v, OSTREL_MBE_SETTING_AGC_LEVEL, 6.0) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_AGC_LEVEL, &value) == OSTREL_MBE_OK && value == 0.0);

    /* A reset keeps tone detection, the formant weighting and the quantizer search and returns
     * chip_compat to its default. */
    CHECK(ostrel_mbe_vocoder_reset(v) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_QUANTIZER_SEARCH, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_STRICT_TONE_DETECTION, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_TONE_DETECTION, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_FORMANT_WEIGHTING, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_CHIP_COMPAT, &value) == OSTREL_MBE_OK && value == 0.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_AGC, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_vocoder_get(v, OSTREL_MBE_SETTING_CAUTIOUS_START, &value) == OSTREL_MBE_OK && value == 1.0);

    /* With tone detection on, a DTMF digit goes out as a tone frame and is read back as one. */
    int16_t pcm[160 * 4];
    uint8_t frame[18];
    make_signal(pcm, 160 * 4, 1);
    ostrel_mbe_vocoder *dec = ostrel_mbe_vocoder_new(OSTREL_MBE_AMBEPLUS2_3600X2450, NULL);
    ostrel_mbe_encode_report sent;
    ostrel_mbe_decode_report received;
    for (int i = 0; i < 4; ++i) {
        int16_t out[160];
        CHECK(ostrel_mbe_vocoder_encode(v, pcm + 160 * i, 160, frame, sizeof frame) == 9);
        CHECK(ostrel_mbe_vocoder_decode(dec, frame, 9, out, 160) == 160);
    }
    CHECK(ostrel_mbe_vocoder_encode_report(v, &sent) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_decode_report(dec, &received) == OSTREL_MBE_OK);
    CHECK(sent.kind == OSTREL_MBE_KIND_TONE && sent.tone_found == 1);
    CHECK(received.kind == OSTREL_MBE_KIND_TONE && received.tone_found == 1);
    CHECK(received.tone_id == sent.tone_id && received.tone_amplitude == sent.tone_amplitude);
    CHECK(ostrel_mbe_vocoder_reset(v) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_vocoder_encode_report(v, &sent) == OSTREL_MBE_OK && sent.kind == OSTREL_MBE_KIND_NONE);
    ostrel_mbe_vocoder_free(dec);
    ostrel_mbe_vocoder_free(v);
}

/* Chunks of awkward sizes through the streaming classes give what whole frames give. */
static void test_streaming(int rate) {
    const size_t bytes = (size_t)ostrel_mbe_frame_bytes(rate);
    int16_t pcm[160 * FRAMES];
    make_signal(pcm, 160 * FRAMES, 0);
    uint8_t whole[FRAMES][18];
    encode_all(rate, whole);

    ostrel_mbe_live_encoder *enc = ostrel_mbe_live_encoder_new(rate, NULL);
    uint8_t stream[18 * FRAMES + 18];
    size_t used = 0, n = 0;
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm, 100, NULL, 0, &n) == OSTREL_MBE_OK && n == 0);
    CHECK(ostrel_mbe_live_encoder_pending(enc) == 100);
    /* Too small an output buffer consumes nothing and says how much is needed. */
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm + 100, 400, stream, bytes * 3 - 1, &n) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL);
    CHECK(n == bytes * 3 && ostrel_mbe_live_encoder_pending(enc) == 100);
    CHECK(ostrel_mbe_live_encoder_push(enc, NULL, 5, stream, sizeof stream, &n) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm + 100, 400, stream, sizeof stream, NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm + 100, 400, stream, sizeof stream, &n) == OSTREL_MBE_OK);
    CHECK(n == bytes * 3 && ostrel_mbe_live_encoder_pending(enc) == 20);
    used = n;
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm + 500, 160 * FRAMES - 500, stream + used, sizeof stream - used, &n) == 0);
    used += n;
    CHECK(used == bytes * FRAMES && ostrel_mbe_live_encoder_pending(enc) == 0);
    for (int i = 0; i < FRAMES; ++i) CHECK(memcmp(stream + bytes * (size_t)i, whole[i], bytes) == 0);
    CHECK(ostrel_mbe_live_encoder_flush(enc, stream, sizeof stream, &n) == OSTREL_MBE_OK && n == 0);
    CHECK(ostrel_mbe_live_encoder_push(enc, pcm, 1, stream, sizeof stream, &n) == OSTREL_MBE_OK && n == 0);
    CHECK(ostrel_mbe_live_encoder_flush(enc, stream, bytes - 1, &n) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL && n == bytes);
    CHECK(ostrel_mbe_live_encoder_flush(enc, stream + used, sizeof stream - used, &n) == OSTREL_MBE_OK && n == bytes);
    CHECK(ostrel_mbe_live_encoder_pending(enc) == 0);
    ostrel_mbe_encode_report sent;
    CHECK(ostrel_mbe_live_encoder_report(enc, &sent) == OSTREL_MBE_OK && sent.kind == OSTREL_MBE_KIND_VOICE);
    CHECK(ostrel_mbe_live_encoder_set(enc, OSTREL_MBE_SETTING_TONE_DETECTION, 1.0) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_live_encoder_reset(enc) == OSTREL_MBE_OK);
    ostrel_mbe_live_encoder_free(enc);

    ostrel_mbe_vocoder *v = ostrel_mbe_vocoder_new(rate, NULL);
    int16_t expected[160 * FRAMES], got[160 * FRAMES];
    for (int i = 0; i < FRAMES; ++i) ostrel_mbe_vocoder_decode(v, whole[i], bytes, expected + 160 * i, 160);
    ostrel_mbe_vocoder_free(v);
    ostrel_mbe_live_decoder *dec = ostrel_mbe_live_decoder_new(rate, NULL);
    size_t at = 0, out = 0;
    for (size_t chunk = 1; at < bytes * FRAMES; chunk = chunk * 2 + 1) {
        const size_t take = chunk < bytes * FRAMES - at ? chunk : bytes * FRAMES - at;
        CHECK(ostrel_mbe_live_decoder_push(dec, stream + at, take, got + out, 160 * FRAMES - out, &n) == 0);
        at += take;
        out += n;
    }
    CHECK(out == 160 * FRAMES && memcmp(expected, got, sizeof got) == 0);
    CHECK(ostrel_mbe_live_decoder_push(dec, stream, bytes, got, 159, &n) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL && n == 160);
    CHECK(ostrel_mbe_live_decoder_pending(dec) == 0);
    CHECK(ostrel_mbe_live_decoder_push(dec, NULL, 3, got, 160, &n) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_live_decoder_push(dec, stream, 3, NULL, 0, &n) == OSTREL_MBE_OK && n == 0);
    CHECK(ostrel_mbe_live_decoder_pending(dec) == 3);
    CHECK(ostrel_mbe_live_decoder_discard_pending(dec) == OSTREL_MBE_OK && ostrel_mbe_live_decoder_pending(dec) == 0);
    ostrel_mbe_decode_report report;
    CHECK(ostrel_mbe_live_decoder_report(dec, &report) == OSTREL_MBE_OK && report.kind == OSTREL_MBE_KIND_VOICE);
    double value = 0.0;
    CHECK(ostrel_mbe_live_decoder_get(dec, OSTREL_MBE_SETTING_ENHANCEMENT, &value) == OSTREL_MBE_OK && value == 1.0);
    CHECK(ostrel_mbe_live_decoder_reset(dec) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_live_decoder_report(dec, &report) == OSTREL_MBE_OK && report.kind == OSTREL_MBE_KIND_NONE);
    ostrel_mbe_live_decoder_free(dec);
}

static void test_transcoder(void) {
    uint8_t full[FRAMES][18];
    encode_all(OSTREL_MBE_IMBE_7200X4400, full);
    int error = 1;
    ostrel_mbe_transcoder *strip = ostrel_mbe_transcoder_new(OSTREL_MBE_IMBE_7200X4400, OSTREL_MBE_IMBE_4400X4400, &error);
    ostrel_mbe_transcoder *protect = ostrel_mbe_transcoder_new(OSTREL_MBE_IMBE_4400X4400, OSTREL_MBE_IMBE_7200X4400, NULL);
    ostrel_mbe_transcoder *half = ostrel_mbe_transcoder_new(OSTREL_MBE_IMBE_7200X4400, OSTREL_MBE_AMBEPLUS2_3600X2450, NULL);
    CHECK(strip != NULL && protect != NULL && half != NULL && error == OSTREL_MBE_OK);
    for (int i = 0; i < FRAMES; ++i) {
        uint8_t bare[11], again[18], phase2[9];
        CHECK(ostrel_mbe_transcoder_transcode(strip, full[i], 18, bare, sizeof bare) == 11);
        CHECK(ostrel_mbe_transcoder_transcode(protect, bare, 11, again, sizeof again) == 18);
        CHECK(memcmp(again, full[i], 18) == 0);
        CHECK(ostrel_mbe_transcoder_transcode(half, full[i], 18, phase2, sizeof phase2) == 9);
    }
    uint8_t out[18];
    CHECK(ostrel_mbe_transcoder_transcode(strip, full[0], 17, out, 18) == OSTREL_MBE_ERR_WRONG_FRAME_LENGTH);
    CHECK(ostrel_mbe_transcoder_transcode(strip, full[0], 18, out, 10) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL);
    CHECK(ostrel_mbe_transcoder_transcode(strip, NULL, 18, out, 18) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_transcoder_reset(half) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_transcoder_envelope_mix(half) == OSTREL_MBE_ENVELOPE_MIX_NONE);
    CHECK(ostrel_mbe_transcoder_set_envelope_mix(half, 2) == OSTREL_MBE_ERR_BAD_ARGUMENT);
    CHECK(ostrel_mbe_transcoder_set_envelope_mix(half, OSTREL_MBE_ENVELOPE_MIX_PREVIOUS) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_transcoder_envelope_mix(half) == OSTREL_MBE_ENVELOPE_MIX_PREVIOUS);
    CHECK(ostrel_mbe_transcoder_envelope_mix(NULL) == OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_transcoder_quantizer_search(half) == 0);
    CHECK(ostrel_mbe_transcoder_set_quantizer_search(half, 1) == OSTREL_MBE_OK);
    CHECK(ostrel_mbe_transcoder_quantizer_search(half) == 1);
    CHECK(ostrel_mbe_transcoder_set_quantizer_search(NULL, 1) == OSTREL_MBE_ERR_NULL_POINTER);
    ostrel_mbe_transcoder_free(strip);
    ostrel_mbe_transcoder_free(protect);
    ostrel_mbe_transcoder_free(half);
}

/* Soft values of a frame: +1 for each 1 bit, -1 for each 0 bit, decode exactly like its bytes;
 * bad soft input is refused before the channel moves; lost frames repeat, then mute. */
static void test_soft_and_lost(int rate) {
    int error = 0;
    ostrel_mbe_vocoder *enc = ostrel_mbe_vocoder_new(rate, &error);
    ostrel_mbe_vocoder *hard = ostrel_mbe_vocoder_new(rate, &error);
    ostrel_mbe_vocoder *soft = ostrel_mbe_vocoder_new(rate, &error);
    int16_t pcm[160], a[160], b[160];
    uint8_t frame[18];
    float values[144];
    const size_t bytes = (size_t)ostrel_mbe_frame_bytes(rate);
    make_signal(pcm, 160, 0);
    for (int i = 0; i < 6; ++i) {
        CHECK(ostrel_mbe_vocoder_encode(enc, pcm, 160, frame, sizeof frame) == (int)bytes);
        for (size_t k = 0; k < 8 * bytes; ++k) values[k] = ((frame[k / 8] >> (7 - k % 8)) & 1) ? 1.0f : -1.0f;
        values[0] = NAN;
        CHECK(ostrel_mbe_vocoder_decode_soft(soft, values, 8 * bytes, b, 160) == OSTREL_MBE_ERR_BAD_ARGUMENT);
        values[0] = (frame[0] & 0x80) ? 1.0f : -1.0f;
        CHECK(ostrel_mbe_vocoder_decode_soft(soft, values, 8 * bytes - 1, b, 160) == OSTREL_MBE_ERR_WRONG_FRAME_LENGTH);
        CHECK(ostrel_mbe_vocoder_decode(hard, frame, bytes, a, 160) == 160);
        CHECK(ostrel_mbe_vocoder_decode_soft(soft, values, 8 * bytes, b, 160) == 160);
        CHECK(memcmp(a, b, sizeof a) == 0);
    }
    CHECK(ostrel_mbe_vocoder_set(soft, OSTREL_MBE_SETTING_LOST_FRAME_REPEATS, 1.0) == OSTREL_MBE_OK);
    ostrel_mbe_decode_report report;
    const int expected[] = {OSTREL_MBE_DISPOSITION_REPEAT, OSTREL_MBE_DISPOSITION_MUTE};
    for (int i = 0; i < 2; ++i) {
        CHECK(ostrel_mbe_vocoder_decode_lost(soft, b, 160) == 160);
        CHECK(ostrel_mbe_vocoder_decode_report(soft, &report) == OSTREL_MBE_OK);
        CHECK(report.kind == OSTREL_MBE_KIND_LOST && report.disposition == expected[i]);
    }
    ostrel_mbe_live_decoder *stream = ostrel_mbe_live_decoder_new(rate, &error);
    int16_t out[3 * 160];
    size_t n = 0;
    CHECK(ostrel_mbe_live_decoder_push_soft(stream, values, 8 * bytes, out, 3 * 160, &n) == OSTREL_MBE_OK && n == 160);
    CHECK(ostrel_mbe_live_decoder_push_lost(stream, 3, out, 2 * 160, &n) == OSTREL_MBE_ERR_BUFFER_TOO_SMALL && n == 480);
    CHECK(ostrel_mbe_live_decoder_push_lost(stream, 3, out, 3 * 160, &n) == OSTREL_MBE_OK && n == 480);
    ostrel_mbe_live_decoder_free(stream);
    ostrel_mbe_vocoder_free(enc);
    ostrel_mbe_vocoder_free(hard);
    ostrel_mbe_vocoder_free(soft);
}

/* Whole-buffer calls equal one call per frame; their checks come before any frame. */
static void test_whole_buffer(int rate) {
    const size_t bytes = (size_t)ostrel_mbe_frame_bytes(rate);
    int error = 0;
    ostrel_mbe_vocoder *whole = ostrel_mbe_vocoder_new(rate, &error), *single = ostrel_mbe_vocoder_new(rate, &error);
    int16_t pcm[FRAMES * 160], expected[FRAMES * 160], decoded[FRAMES * 160];
    uint8_t bits[FRAMES * 18], frame[18];
    const uint8_t lost[FRAMES] = {0, 0, 1, 0, 1, 1, 0, 0};
    size_t done = 99;
    make_signal(pcm, FRAMES * 160, 0);
    CHECK(ostrel_mbe_vocoder_encode_frames(whole, pcm, FRAMES * 160 - 1, bits, sizeof bits, &done) ==
              OSTREL_MBE_ERR_WRONG_PCM_LENGTH && done == 0);
    CHECK(ostrel_mbe_vocoder_encode_frames(whole, pcm, FRAMES * 160, bits, FRAMES * bytes - 1, &done) ==
              OSTREL_MBE_ERR_BUFFER_TOO_SMALL && done == 0);
    CHECK(ostrel_mbe_vocoder_encode_frames(whole, pcm, FRAMES * 160, bits, sizeof bits, &done) == OSTREL_MBE_OK &&
          done == FRAMES);
    for (size_t i = 0; i < FRAMES; ++i) {
        CHECK(ostrel_mbe_vocoder_encode(single, pcm + 160 * i, 160, frame, sizeof frame) == (int)bytes);
        CHECK(memcmp(frame, bits + bytes * i, bytes) == 0);
    }
    for (size_t i = 0; i < FRAMES; ++i) {
        int16_t *out = expected + 160 * i;
        CHECK((lost[i] ? ostrel_mbe_vocoder_decode_lost(single, out, 160)
                       : ostrel_mbe_vocoder_decode(single, bits + bytes * i, bytes, out, 160)) == 160);
    }
    CHECK(ostrel_mbe_vocoder_decode_frames(whole, bits, FRAMES * bytes + 1, lost, decoded, FRAMES * 160, &done) ==
          OSTREL_MBE_ERR_WRONG_FRAME_LENGTH);
    CHECK(ostrel_mbe_vocoder_decode_frames(whole, bits, FRAMES * bytes, lost, decoded, FRAMES * 160, NULL) ==
          OSTREL_MBE_ERR_NULL_POINTER);
    CHECK(ostrel_mbe_vocoder_decode_frames(whole, bits, FRAMES * bytes, lost, decoded, FRAMES * 160, &done) ==
              OSTREL_MBE_OK && done == FRAMES);
    CHECK(memcmp(decoded, expected, sizeof decoded) == 0);
    /* A soft value that is not finite fails its frame; the frames before it are written. */
    float soft[3 * 18 * 8];
    for (size_t i = 0; i < 3 * bytes * 8; ++i) soft[i] = (bits[i / 8] >> (7 - i % 8)) & 1 ? 1.0f : -1.0f;
    soft[bytes * 8 + 5] = NAN;
    CHECK(ostrel_mbe_vocoder_decode_soft_frames(whole, soft, 3 * bytes * 8, NULL, decoded, 3 * 160, &done) ==
              OSTREL_MBE_ERR_BAD_ARGUMENT && done == 1);
    ostrel_mbe_vocoder_free(whole);
    ostrel_mbe_vocoder_free(single);
    if (rate == 1 || rate == 3) return;
    ostrel_mbe_transcoder *t = ostrel_mbe_transcoder_new(rate, 2 - rate, &error);
    uint8_t converted[FRAMES * 18];
    CHECK(ostrel_mbe_transcoder_transcode_frames(t, bits, FRAMES * bytes, lost, converted, sizeof converted, &done) ==
              OSTREL_MBE_OK && done == FRAMES);
    ostrel_mbe_transcoder_free(t);
}

int main(void) {
    test_codes_and_geometry();
    test_null_handles_and_bad_creation();
    for (int rate = 0; rate < 4; ++rate) {
        test_vocoder(rate);
        test_streaming(rate);
        test_soft_and_lost(rate);
        test_whole_buffer(rate);
    }
    test_settings();
    test_transcoder();
    if (failures) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("C interface: all checks passed\n");
    return 0;
}
