#pragma once
// Amplitude of each signal of a record, in ADC units: peak to peak around the
// beats when the record has annotations, RMS of fixed windows otherwise; in both
// cases a robust average of up to 300 measurements. Measuring moves the
// record's reading position and the library-wide annotation state.

#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_header.h"

// Measurement slots per signal; the lowest and highest twentieth are dropped.
constexpr int g_nRunMax = 300;
// RMS window length in samples, whatever the sampling frequency.
constexpr int g_nMovingWindowSize = 360;
// Class of each annotation code below 50; only class 1 (the beats) is measured.
extern const int wfdb_mp1[50];

// Measures an open record. Returns a new array (delete[] or WFDBMemFree) of one
// amplitude per signal and stores the signal count through numberOfSignals when
// it is not null; null (count 0) for a null header.
double* WFDBSignalAmplitude(WFDB_HEADER* header, int* numberOfSignals);

// The measurement behind both entries: stores a new array (delete[]) through
// amplitude and returns the number of signals; 0, and nothing stored, when the
// record cannot be opened or an argument is null.
int sigamp(WFDB_HEADER* pHeader, double** amplitude);
int sigamp(const char* filePath, double** amplitude);

// Fill the per-signal slot arrays pAmplitude[signal][0 .. g_nRunMax) with one
// measurement per slot, as far as the record allows; slots not reached stay as they are.
void sigamp_p2p(WFDB_HEADER* pHeader, double** pAmplitude);
void sigamp_rms(WFDB_HEADER* pHeader, double** pAmplitude);

// qsort order of doubles, ascending.
int AmplitudeCompare(const void* p1, const void* p2);
