/* SPDX-License-Identifier: GPL-2.0-or-later */
/* C interface of ostrel_mbe, the P25 IMBE full-rate and AMBE+2 half-rate speech codec
 * (TIA-102.BABA).  Plain C99; usable from C++ and through any foreign-function interface.
 *
 * Frames are 20 ms: 160 signed 16-bit PCM samples at 8000 samples/s, or one wire frame of
 * 18, 11, 9 or 7 bytes depending on the rate.
 *
 * Conventions:
 * - Objects are opaque handles made by ..._new and released by ..._free.  ..._free accepts
 *   NULL and does nothing; set your pointer to NULL after freeing it, and every later call with
 *   it returns OSTREL_MBE_ERR_NULL_POINTER instead of touching freed memory.
 * - Every buffer is passed with its length (in elements: samples or bytes) beside it.  A NULL
 *   buffer is accepted only with length 0.
 * - Functions return OSTREL_MBE_OK (0) or a count (>= 0) on success and a negative
 *   OSTREL_MBE_ERR_... code on failure; ostrel_mbe_strerror gives each code's text.  A failed
 *   call changes nothing unless its description says otherwise.
 * - No C++ exception and no memory allocated by one side and released by the other crosses
 *   this interface.
 * - A handle is used by one thread at a time; distinct handles may be used concurrently.
 */
#ifndef OSTREL_MBE_H
#define OSTREL_MBE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OSTREL_MBE_VERSION_STRING "0.1.0"
/* The library's version, for example "0.1.0". */
const char *ostrel_mbe_version(void);

/* ---- Return codes ------------------------------------------------------------------------ */

#define OSTREL_MBE_OK 0
#define OSTREL_MBE_ERR_NULL_POINTER (-1)       /* a handle or a required pointer is NULL */
#define OSTREL_MBE_ERR_BAD_ARGUMENT (-2)       /* unknown rate or setting, or a value out of range */
#define OSTREL_MBE_ERR_WRONG_PCM_LENGTH (-3)   /* a PCM frame is not 160 samples */
#define OSTREL_MBE_ERR_WRONG_FRAME_LENGTH (-4) /* a wire frame is not the rate's frame length */
#define OSTREL_MBE_ERR_BUFFER_TOO_SMALL (-5)   /* the output buffer cannot hold the output */
#define OSTREL_MBE_ERR_ANALYSIS (-6)           /* the analysis encoder refused the frame */
#define OSTREL_MBE_ERR_QUANTIZE (-7)           /* the parameter quantizer refused the frame */
#define OSTREL_MBE_ERR_UNSUPPORTED_TRANSCODE (-8) /* no transcoder for this pair of rates */
#define OSTREL_MBE_ERR_OUT_OF_MEMORY (-9)      /* a handle could not be allocated */
#define OSTREL_MBE_ERR_INTERNAL (-10)          /* an internal fault; please report it */

/* A static, never NULL text for any code, for example "wrong wire frame length". */
const char *ostrel_mbe_strerror(int code);

/* ---- Rates and frame geometry ------------------------------------------------------------ */

typedef enum ostrel_mbe_rate {
    OSTREL_MBE_IMBE_7200X4400 = 0,      /* IMBE full rate with FEC: 18-byte frames */
    OSTREL_MBE_IMBE_4400X4400 = 1,      /* IMBE full rate without FEC: 11-byte frames */
    OSTREL_MBE_AMBEPLUS2_3600X2450 = 2, /* AMBE+2 half rate with FEC: 9-byte frames */
    OSTREL_MBE_AMBEPLUS2_2450X2450 = 3  /* AMBE+2 half rate without FEC: 7-byte frames */
} ostrel_mbe_rate;

#define OSTREL_MBE_FRAME_SAMPLES 160
#define OSTREL_MBE_MAX_FRAME_BYTES 18

/* Wire bytes per frame of a rate (18, 11, 9 or 7), or OSTREL_MBE_ERR_BAD_ARGUMENT. */
int ostrel_mbe_frame_bytes(int rate);

/* ---- Settings ---------------------------------------------------------------------------- */

/* The channel settings, one row each: X(NAME, accessor, choices).  NAME gives the constant
 * OSTREL_MBE_SETTING_<NAME>; accessor is the setting's name in the C++ and Python interfaces;
 * choices is the number of values of a boolean (2) or enumerated setting, 0 for a number.
 * Values pass as double: booleans 0 or 1, enumerations their constants below,
 * REPEAT_RESET_AFTER a count 0..4294967295 or -1 for none, LOST_FRAME_REPEATS a count
 * 0..4294967295 (default 3, kept by reset), AMP_EMA_ALPHA any number (NaN
 * and infinities store 0, the rest is clamped to 0..1).  A reset keeps TONE_DETECTION,
 * AMBE_PLUS2_SYNTH, ENHANCEMENT, FORMANT_WEIGHTING, QUANTIZER_SEARCH and STRICT_TONE_DETECTION and
 * returns the others to their defaults, except the decoded-output settings below, which it also
 * keeps.
 * Decoded output (all off by default): AGC brings active speech toward AGC_LEVEL (dBFS RMS,
 * -60..0, default -20) with at most AGC_MAX_GAIN dB (0..40, default 18); OUTPUT_GAIN adds a
 * fixed gain in dB (-60..40); with AGC on or OUTPUT_GAIN not 0 a peak limiter ends the chain,
 * so nothing clips.  TONE_COPIES decides half-rate tone frames by every copy of the index and
 * conceals unreadable ones; MUTE_TONES plays tone frames as silence; CAUTIOUS_START mutes what
 * precedes the first clean frame after a reset and fades that frame in.  Numbers out of range
 * are clamped, NaN restores the default.
 * New settings are appended, so the constants keep their values. */
#define OSTREL_MBE_SETTINGS(X)                                  \
    X(TONE_DETECTION, tone_detection, 2)                        \
    X(SPECTRAL_SUBTRACTION, spectral_subtraction, 2)            \
    X(SILENCE_DISPATCH, silence_dispatch, 2)                    \
    X(CHIP_COMPAT, chip_compat, 2)                              \
    X(CHIP_COMPAT_SPECTRAL_CLAMP, chip_compat_spectral_clamp, 2) \
    X(PITCH_SILENCE_OVERRIDE, pitch_silence_override, 2)        \
    X(DEFAULT_PITCH_ON_SILENCE, default_pitch_on_silence, 2)    \
    X(PYIN_PITCH, pyin_pitch, 2)                                \
    X(AMP_EMA_ALPHA, amp_ema_alpha, 0)                          \
    X(REPEAT_RESET_AFTER, repeat_reset_after, 0)                \
    X(AMBE_PLUS2_SYNTH, ambe_plus2_synth, 2)                    \
    X(ENHANCEMENT, enhancement, 2)                              \
    X(FORMANT_WEIGHTING, formant_weighting, 2)                  \
    X(QUANTIZER_SEARCH, quantizer_search, 2)                    \
    X(LOST_FRAME_REPEATS, lost_frame_repeats, 0)                      \
    X(AGC, agc, 2)                                              \
    X(AGC_LEVEL, agc_level, 0)                                  \
    X(AGC_MAX_GAIN, agc_max_gain, 0)                            \
    X(OUTPUT_GAIN, output_gain, 0)                              \
    X(TONE_COPIES, tone_copies, 2)                              \
    X(MUTE_TONES, mute_tones, 2)                                \
    X(CAUTIOUS_START, cautious_start, 2)                        \
    X(STRICT_TONE_DETECTION, strict_tone_detection, 2)

typedef enum ostrel_mbe_setting {
#define OSTREL_MBE_SETTING_CONSTANT_(name, accessor, choices) OSTREL_MBE_SETTING_##name,
    OSTREL_MBE_SETTINGS(OSTREL_MBE_SETTING_CONSTANT_)
#undef OSTREL_MBE_SETTING_CONSTANT_
    OSTREL_MBE_SETTING_COUNT
} ostrel_mbe_setting;

/* Values of OSTREL_MBE_SETTING_AMBE_PLUS2_SYNTH. */
#define OSTREL_MBE_SYNTH_AMBE_PLUS 0 /* default: half-rate synthesis with phase regeneration */
#define OSTREL_MBE_SYNTH_BASELINE 1
/* Values of OSTREL_MBE_SETTING_ENHANCEMENT. */
#define OSTREL_MBE_ENHANCEMENT_NONE 0      /* decoded PCM passes unchanged */
#define OSTREL_MBE_ENHANCEMENT_CLASSICAL 1 /* default: high-pass and peaking-EQ chain */
/* Values of OSTREL_MBE_SETTING_FORMANT_WEIGHTING, the decoder's formant sharpening. */
#define OSTREL_MBE_FORMANT_WEIGHTING_COMPAT 0   /* default: the library's level-dependent weight */
#define OSTREL_MBE_FORMANT_WEIGHTING_STANDARD 1 /* TIA-102.BABA's level-independent weight */

/* ---- Frame reports ----------------------------------------------------------------------- */

/* What a frame was.  Encoding gives VOICE, SILENCE or TONE; decoding any of them. */
typedef enum ostrel_mbe_frame_kind {
    OSTREL_MBE_KIND_NONE = 0,    /* no frame since creation or reset */
    OSTREL_MBE_KIND_VOICE = 1,   /* speech parameters */
    OSTREL_MBE_KIND_SILENCE = 2, /* the encoder's silence frame, or the half-rate silence tone */
    OSTREL_MBE_KIND_TONE = 3,    /* a half-rate tone frame (single tone or DTMF) */
    OSTREL_MBE_KIND_ERASURE = 4, /* a half-rate erasure frame: played as silence */
    OSTREL_MBE_KIND_INVALID = 5, /* parameters the decoder refuses: played as silence */
    OSTREL_MBE_KIND_LOST = 6     /* a frame that never arrived: repeated or muted */
} ostrel_mbe_frame_kind;

/* What the decoder's concealment did with the last frame it synthesized. */
typedef enum ostrel_mbe_disposition {
    OSTREL_MBE_DISPOSITION_NORMAL = 0, /* played as received */
    OSTREL_MBE_DISPOSITION_REPEAT = 1, /* too many bit errors: the previous frame repeated */
    OSTREL_MBE_DISPOSITION_MUTE = 2,   /* too many in a row: muted */
    OSTREL_MBE_DISPOSITION_NONE = 3    /* no frame synthesized since creation or reset */
} ostrel_mbe_disposition;

typedef struct ostrel_mbe_encode_report {
    int kind;                /* ostrel_mbe_frame_kind: NONE, VOICE, SILENCE or TONE */
    int tone_found;          /* 1 when tone detection is on and found a tone, else 0 */
    unsigned tone_id;        /* the tone's index when tone_found */
    unsigned tone_amplitude; /* its 7-bit amplitude when tone_found */
} ostrel_mbe_encode_report;

typedef struct ostrel_mbe_decode_report {
    int kind;        /* ostrel_mbe_frame_kind of the last decoded frame */
    int disposition; /* ostrel_mbe_disposition of the last synthesized frame; ERASURE and
                        INVALID frames are not synthesized and leave it as it was */
    unsigned code_vectors; /* entries of errors[] in use: 8 at IMBE 7200, 4 at AMBE+2 3600,
                              0 without FEC */
    unsigned errors[8];    /* bit errors the FEC corrected in each code vector c0, c1, ...;
                              255 in errors[0] at AMBE+2 3600 when c0 was uncorrectable */
    unsigned e0;           /* errors of c0 as concealment counted them (uncorrectable: 4) */
    unsigned total;        /* errors of the frame as concealment counted them, at most 255 */
    int tone_found;        /* 1 for TONE frames and the silence tone, else 0 */
    unsigned tone_id;
    unsigned tone_amplitude;
} ostrel_mbe_decode_report;

/* ---- Vocoder: one full-duplex channel ---------------------------------------------------- */

typedef struct ostrel_mbe_vocoder ostrel_mbe_vocoder;

/* A channel at `rate`; NULL on failure, with the code in *error when error is not NULL. */
ostrel_mbe_vocoder *ostrel_mbe_vocoder_new(int rate, int *error);
void ostrel_mbe_vocoder_free(ostrel_mbe_vocoder *vocoder);

/* The channel's rate, or a negative code. */
int ostrel_mbe_vocoder_rate(const ostrel_mbe_vocoder *vocoder);

/* Encodes pcm_len == 160 samples into frame (capacity frame_capacity bytes); returns the
 * frame's length in bytes. */
int ostrel_mbe_vocoder_encode(ostrel_mbe_vocoder *vocoder, const int16_t *pcm, size_t pcm_len,
                              uint8_t *frame, size_t frame_capacity);

/* Decodes one wire frame of exactly the rate's length into pcm (capacity pcm_capacity
 * samples); returns 160.  Damaged frames are concealed, not refused. */
int ostrel_mbe_vocoder_decode(ostrel_mbe_vocoder *vocoder, const uint8_t *frame, size_t frame_len,
                              int16_t *pcm, size_t pcm_capacity);

/* Clears every cross-frame state (see the settings for what a reset keeps). */
int ostrel_mbe_vocoder_reset(ostrel_mbe_vocoder *vocoder);

int ostrel_mbe_vocoder_set(ostrel_mbe_vocoder *vocoder, int setting, double value);
int ostrel_mbe_vocoder_get(const ostrel_mbe_vocoder *vocoder, int setting, double *value);

/* The report of the last successful encode, and of the last decode. */
/* Soft-decision decode: soft_len must be 8 times the rate's frame bytes, one value per wire bit
 * in the order of the frame's bytes (byte 0 first, most significant bit first); positive means
 * 1, the magnitude is the confidence on any scale, 0 no idea (negate log-likelihood ratios whose
 * positive means 0).  Another length fails with OSTREL_MBE_ERR_WRONG_FRAME_LENGTH, a NaN or an
 * infinity with OSTREL_MBE_ERR_BAD_ARGUMENT, both before anything changes.  Returns 160. */
int ostrel_mbe_vocoder_decode_soft(ostrel_mbe_vocoder *vocoder, const float *soft, size_t soft_len, int16_t *pcm,
                                   size_t pcm_capacity);
/* 160 samples for a frame that never arrived: the last frame repeated up to LOST_FRAME_REPEATS
 * times in a row, then comfort noise until a frame is decoded.  Returns 160. */
int ostrel_mbe_vocoder_decode_lost(ostrel_mbe_vocoder *vocoder, int16_t *pcm, size_t pcm_capacity);
int ostrel_mbe_vocoder_encode_report(const ostrel_mbe_vocoder *vocoder, ostrel_mbe_encode_report *report);
int ostrel_mbe_vocoder_decode_report(const ostrel_mbe_vocoder *vocoder, ostrel_mbe_decode_report *report);

/* ---- Whole buffers: every frame of a buffer in one call ---------------------------------- */
/* The channel runs through the frames in order, exactly as one call per frame would.  The input
 * holds whole frames (else OSTREL_MBE_ERR_WRONG_PCM_LENGTH or ..._WRONG_FRAME_LENGTH) and the
 * output must hold all of theirs (else OSTREL_MBE_ERR_BUFFER_TOO_SMALL); both are checked before
 * any frame, with *frames_done 0.  A frame that fails stops the call, which returns its code:
 * *frames_done frames before it were written.  On success *frames_done is the frame count.
 * `lost` is NULL or holds one flag per frame of the input: a nonzero flag marks a frame that
 * never arrived, whose slot of the input is not read and which is concealed as by
 * ostrel_mbe_vocoder_decode_lost (ostrel_mbe_transcoder_transcode_lost). */
int ostrel_mbe_vocoder_encode_frames(ostrel_mbe_vocoder *vocoder, const int16_t *pcm, size_t pcm_len, uint8_t *out,
                                     size_t out_capacity, size_t *frames_done);
int ostrel_mbe_vocoder_decode_frames(ostrel_mbe_vocoder *vocoder, const uint8_t *bits, size_t bits_len,
                                     const uint8_t *lost, int16_t *pcm, size_t pcm_capacity, size_t *frames_done);
/* soft_len a multiple of 8 times the rate's frame bytes (see ostrel_mbe_vocoder_decode_soft). */
int ostrel_mbe_vocoder_decode_soft_frames(ostrel_mbe_vocoder *vocoder, const float *soft, size_t soft_len,
                                          const uint8_t *lost, int16_t *pcm, size_t pcm_capacity,
                                          size_t *frames_done);

/* ---- Streaming encoder: PCM in chunks of any size ---------------------------------------- */

typedef struct ostrel_mbe_live_encoder ostrel_mbe_live_encoder;

ostrel_mbe_live_encoder *ostrel_mbe_live_encoder_new(int rate, int *error);
void ostrel_mbe_live_encoder_free(ostrel_mbe_live_encoder *encoder);

/* Appends pcm_len samples and encodes every frame they complete, writing the frames one after
 * the other into out and their total length in bytes to *out_len; fewer than 160 samples stay
 * pending.  When out cannot hold every completed frame, nothing is consumed and the call
 * fails with OSTREL_MBE_ERR_BUFFER_TOO_SMALL, *out_len set to the bytes needed.  A frame that
 * fails to encode is left out of the output and the frames after it are still encoded; the
 * call then returns the first such frame's code, with *out_len counting the frames written. */
int ostrel_mbe_live_encoder_push(ostrel_mbe_live_encoder *encoder, const int16_t *pcm, size_t pcm_len,
                                 uint8_t *out, size_t out_capacity, size_t *out_len);

/* Pads the pending samples with zeros to a frame and encodes it into out; *out_len is the
 * frame's length, or 0 when nothing was pending.  On an encode error the padded frame stays
 * pending. */
int ostrel_mbe_live_encoder_flush(ostrel_mbe_live_encoder *encoder, uint8_t *out, size_t out_capacity,
                                  size_t *out_len);

/* Samples pending (0..159), or a negative code. */
int ostrel_mbe_live_encoder_pending(const ostrel_mbe_live_encoder *encoder);
/* Drops the pending samples; the channel's state stays. */
int ostrel_mbe_live_encoder_discard_pending(ostrel_mbe_live_encoder *encoder);
/* Resets the channel and drops the pending samples. */
int ostrel_mbe_live_encoder_reset(ostrel_mbe_live_encoder *encoder);
int ostrel_mbe_live_encoder_set(ostrel_mbe_live_encoder *encoder, int setting, double value);
int ostrel_mbe_live_encoder_get(const ostrel_mbe_live_encoder *encoder, int setting, double *value);
/* The report of the last frame encoded. */
int ostrel_mbe_live_encoder_report(const ostrel_mbe_live_encoder *encoder, ostrel_mbe_encode_report *report);

/* ---- Streaming decoder: wire bytes in chunks of any size --------------------------------- */

typedef struct ostrel_mbe_live_decoder ostrel_mbe_live_decoder;

ostrel_mbe_live_decoder *ostrel_mbe_live_decoder_new(int rate, int *error);
void ostrel_mbe_live_decoder_free(ostrel_mbe_live_decoder *decoder);

/* Appends frame_bytes_len bytes and decodes every frame they complete, writing 160 samples
 * per frame into pcm and the number of samples written to *pcm_len; less than a frame stays
 * pending.  When pcm cannot hold them all, nothing is consumed and the call fails with
 * OSTREL_MBE_ERR_BUFFER_TOO_SMALL, *pcm_len set to the samples needed. */
int ostrel_mbe_live_decoder_push(ostrel_mbe_live_decoder *decoder, const uint8_t *bytes, size_t bytes_len,
                                 int16_t *pcm, size_t pcm_capacity, size_t *pcm_len);

/* The same for soft values (see ostrel_mbe_vocoder_decode_soft), any number of them, pending
 * apart from bytes; a NaN or an infinity fails with OSTREL_MBE_ERR_BAD_ARGUMENT before anything
 * is consumed. */
int ostrel_mbe_live_decoder_push_soft(ostrel_mbe_live_decoder *decoder, const float *values, size_t values_len,
                                      int16_t *pcm, size_t pcm_capacity, size_t *pcm_len);
/* count lost frames: 160 samples each (see ostrel_mbe_vocoder_decode_lost); pending input is
 * dropped.  *pcm_len as for push. */
int ostrel_mbe_live_decoder_push_lost(ostrel_mbe_live_decoder *decoder, size_t count, int16_t *pcm,
                                      size_t pcm_capacity, size_t *pcm_len);
/* Bytes pending (less than one frame), or a negative code. */
int ostrel_mbe_live_decoder_pending(const ostrel_mbe_live_decoder *decoder);
int ostrel_mbe_live_decoder_discard_pending(ostrel_mbe_live_decoder *decoder);
int ostrel_mbe_live_decoder_reset(ostrel_mbe_live_decoder *decoder);
int ostrel_mbe_live_decoder_set(ostrel_mbe_live_decoder *decoder, int setting, double value);
int ostrel_mbe_live_decoder_get(const ostrel_mbe_live_decoder *decoder, int setting, double *value);
/* The report of the last frame decoded. */
int ostrel_mbe_live_decoder_report(const ostrel_mbe_live_decoder *decoder, ostrel_mbe_decode_report *report);

/* ---- Transcoder: wire frames of one rate to another, without PCM ------------------------- */

typedef struct ostrel_mbe_transcoder ostrel_mbe_transcoder;

/* Six directions: IMBE 7200 <-> IMBE 4400, AMBE+2 3600 <-> AMBE+2 2450 and IMBE 7200 <->
 * AMBE+2 3600.  Other pairs fail with OSTREL_MBE_ERR_UNSUPPORTED_TRANSCODE. */
ostrel_mbe_transcoder *ostrel_mbe_transcoder_new(int from_rate, int to_rate, int *error);
void ostrel_mbe_transcoder_free(ostrel_mbe_transcoder *transcoder);

/* One frame of the source rate (exactly its length) to one frame of the destination rate in
 * out; returns the output frame's length in bytes. */
int ostrel_mbe_transcoder_transcode(ostrel_mbe_transcoder *transcoder, const uint8_t *in, size_t in_len,
                                    uint8_t *out, size_t out_capacity);
/* One source frame as soft values (see ostrel_mbe_vocoder_decode_soft), soft_len 8 times the
 * source's frame bytes; returns the output frame's length. */
int ostrel_mbe_transcoder_transcode_soft(ostrel_mbe_transcoder *transcoder, const float *soft, size_t soft_len,
                                         uint8_t *out, size_t out_capacity);
/* The destination's frame for a source frame that never arrived (the half rate's erasure frame,
 * at the full rate a frame receivers drop); returns its length. */
int ostrel_mbe_transcoder_transcode_lost(ostrel_mbe_transcoder *transcoder, uint8_t *out, size_t out_capacity);
int ostrel_mbe_transcoder_reset(ostrel_mbe_transcoder *transcoder);
/* Every frame of in (a multiple of the source's frame bytes) to out, as the whole-buffer calls
 * of the vocoder do (see there for lost, the checks and *frames_done). */
int ostrel_mbe_transcoder_transcode_frames(ostrel_mbe_transcoder *transcoder, const uint8_t *in, size_t in_len,
                                           const uint8_t *lost, uint8_t *out, size_t out_capacity,
                                           size_t *frames_done);

/* Values of the transcoder's envelope mix, used by the IMBE 7200 <-> AMBE+2 3600 directions
 * when the fundamental moves by more than 1 % between frames. */
#define OSTREL_MBE_ENVELOPE_MIX_NONE 0     /* default: each frame's own amplitudes */
#define OSTREL_MBE_ENVELOPE_MIX_PREVIOUS 1 /* mixed with the previous output's envelope */
/* Sets the envelope mix and resets the transcoder; returns OSTREL_MBE_OK. */
int ostrel_mbe_transcoder_set_envelope_mix(ostrel_mbe_transcoder *transcoder, int mix);
/* The envelope mix, or a negative code. */
int ostrel_mbe_transcoder_envelope_mix(const ostrel_mbe_transcoder *transcoder);

/* IMBE 7200 -> AMBE+2 3600: on (nonzero) chooses the half-rate quantizer indices by the
 * spectrum a decoder rebuilds (better quality, slower), off (default) the nearest entries; any
 * decoder reads either.  Resets the transcoder; the other directions ignore it.  Returns
 * OSTREL_MBE_OK. */
int ostrel_mbe_transcoder_set_quantizer_search(ostrel_mbe_transcoder *transcoder, int on);
/* 1 when the quantizer search is on, 0 when off, or a negative code. */
int ostrel_mbe_transcoder_quantizer_search(const ostrel_mbe_transcoder *transcoder);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_MBE_H */
