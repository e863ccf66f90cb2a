// SPDX-License-Identifier: GPL-2.0-or-later
// The channel's decoded-output settings: level control, tone-frame reading and the cautious
// call start.  Plain reads and writes; the numbers are clamped as level_control says.
#include "vocoder.h"
#include "vocoder_state.h"

namespace ostrel_mbe {

namespace level_control = enhancement::level_control;

bool Vocoder::agc() const { return state().level.agc; }
void Vocoder::set_agc(bool on) { state().level.agc = on; }
double Vocoder::agc_level() const { return state().level.agc_settings.level_dbfs; }
void Vocoder::set_agc_level(double dbfs) { state().level.agc_settings.level_dbfs = level_control::clamp_level_dbfs(dbfs); }
double Vocoder::agc_max_gain() const { return state().level.agc_settings.max_gain_db; }
void Vocoder::set_agc_max_gain(double db) { state().level.agc_settings.max_gain_db = level_control::clamp_max_gain_db(db); }
double Vocoder::output_gain() const { return state().level.output_gain_db; }
void Vocoder::set_output_gain(double db) { state().level.output_gain_db = level_control::clamp_output_gain_db(db); }
bool Vocoder::tone_copies() const { return state().tone_copies; }
void Vocoder::set_tone_copies(bool on) { state().tone_copies = on; }
bool Vocoder::mute_tones() const { return state().mute_tones; }
void Vocoder::set_mute_tones(bool on) { state().mute_tones = on; }
bool Vocoder::cautious_start() const { return state().cautious_start; }
void Vocoder::set_cautious_start(bool on) { state().cautious_start = on; }

}  // namespace ostrel_mbe
