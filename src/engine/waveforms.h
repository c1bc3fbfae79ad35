#pragma once
// Built-in test signals: periodic waves computed per sample, and sample tables for
// the calibration signals. Every load stops any output first, under the engine lock.

#include <cstdint>

#include "tavo/tavo.h"

// Parameters of the periodic kinds (129-133).
extern double g_fPeriodFrequency;
// Peak-to-peak mV per store channel I, II, V1-V6.
extern double g_fPeriodAmplitude[8];
// Pulse width in ms; 0 for the plain periodic waves.
extern int g_nPeriodPulseWidth;

// Periodic waves (sine, triangle, square) at 1000 samples per second. False for another
// type (output still stopped, store unchanged) or when the store cannot be allocated.
bool LoadWaveform(WAVEFORM_TYPE type, double frequency, double amplitude);
// As LoadWaveform, with amplitudes[0..7] per channel I, II, V1-V6. False for a null array too.
bool LoadWaveformEx(WAVEFORM_TYPE type, double frequency, const double* amplitudes);
// Pulse trains resting at -amplitude/2; pulseWidth in ms. False when memory is short.
bool LoadWaveformRectanglePulse(int pulseWidth, double frequency, double amplitude);
bool LoadWaveformTrianglePulse(int pulseWidth, double frequency, double amplitude);
// Ten seconds at 360 Hz of a square wave: 0 in the first half period, amplitude in the second.
bool LoadWaveformCalibrationMode(double frequency, double amplitude);
// 45 s staircase of 0, 0.2, 1, 2, 5, -0.2, -1, -2, -5 mV, five seconds per level, all channels.
bool LoadWaveformAutoCalibrationMode();
// (LoadWaveformFixedVoltage is declared in tavo_ext.h.)

// mV of store channel 0-7 at sample position of the loaded periodic kind; 0.0 for other kinds.
// A frequency that is not positive is a period that never ends; a zero-width pulse is rest.
double CalculatePeriodicalVoltage(int64_t position, int channel);
// The same for all eight store channels at once (values[0..7]).
void CalculatePeriodicalFrame(int64_t position, double* values);
