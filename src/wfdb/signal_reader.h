#pragma once
// Signal files of formats 16 and 212: opening, frame-by-frame reading and
// positioning for a parsed header. The header holds the cursor (stream position
// and 212 pairing state); one header is read by one thread at a time.

#include <cstdint>

#include "wfdb/wfdb_header.h"

// One format's operations. Seek positions in whole seconds, SeekEx in samples
// per signal; both rewind to the start for a position past the record's end.
using SignalNextSample = int (*)(WFDB_HEADER* pHeader, double* values, int count);
using SignalNextSampleEx = int (*)(WFDB_HEADER* pHeader, int* values, int count);
using SignalSeek = bool (*)(WFDB_HEADER* pHeader, int position);

struct SIGNAL_HANDLER {
    SignalNextSample NextSample;      // count frames of physical values (mean per frame)
    SignalNextSampleEx NextSampleEx;  // count frames of raw ADC values (integer mean per frame)
    SignalSeek Seek;
    SignalSeek SeekEx;
    SignalNextSample NextFrameSamples;  // count frames of every sample's physical value
};

extern const SIGNAL_HANDLER g_SignalHandler16;
extern const SIGNAL_HANDLER g_SignalHandler212;

// Opens the first signal's file, in directory pathName ("" opens the file name
// as written), as the header's signal stream; all signals are read from it.
// False, and the header unchanged, for a null header, a header without
// signals, or a file that cannot be opened.
bool WFDBLoadSignal(const char* pathName, WFDB_HEADER* pHeader);

// The table for the first signal's format (16 or 212), which stands for all;
// null for another format, a null header, no signals, or a signal without a
// format field (no samples per frame).
const SIGNAL_HANDLER* GetSignalHandler(WFDB_HEADER* pHeader);

// Non-zero when the header has an open signal stream and a readable format.
int IsReadableHeader(WFDB_HEADER* pHeader);

// count frames of physical values into values (count x NumberOfSignals).
// Returns the frames completed; 0 at the end, for a header that is not
// readable, a null values or a count below 1.
int WFDBNextSample(WFDB_HEADER* pHeader, double* values, int count);

// count frames of every sample: each frame holds, signal after signal, the physical
// values of the signal's SamplesPerFrame samples. Returns the frames completed, as
// WFDBNextSample does.
int WFDBNextFrameSamples(WFDB_HEADER* pHeader, double* values, int count);

// Complete frames the open signal file holds, from its size; -1 when the header is not
// readable or the size is unknown.
int64_t WFDBFramesInFile(WFDB_HEADER* pHeader);

// Positions the reader at second position. False when the header is not
// readable, position is negative, the record has no sampling frequency, or
// the stream cannot be moved; the cursor is then unchanged.
bool WFDBSeek(WFDB_HEADER* pHeader, int position);

// One frame in ADC units (physical value x gain + baseline, one value per
// signal); a result within 1e-6 of a whole number is that number, so a stored
// sample comes back exactly. False, with pSamples unspecified, unless a whole
// frame was read.
bool GetNextSampleWithoutDAC(WFDB_HEADER* pHeader, double* pSamples);
