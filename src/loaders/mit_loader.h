#pragma once
// MIT/WFDB records into the engine, in two steps: the header (channels, lead
// mapping, an empty store), then the samples in millivolts.

#include "tavo/tavo.h"

// Parses the .hea file at path, opens its signal file, installs the engine header
// and lead mapping and allocates the store: the record line's frames x the largest
// samples per frame, at frame rate x that (a record too long for memory is cut to
// what its file holds, then in five-second steps). Returns the caller's copy, which
// owns the WFDB header (release with FreeECGHeader); null when the header, the signal
// file or the store cannot be had, with the engine as it was.
ECG_HEADER* LoadMITHeader(const char* path);

// Reads the samples of header's record (on from where its stream stands) into the
// store in mV at the record's highest rate, a signal of fewer samples per frame
// repeating each, a skewed signal moved back by its skew; then removes a first-minute
// mean of 5 mV or more. Returns 1; a short signal file leaves zeros. Returns 0, with
// the engine as it was, for a null header, impossible counts or a store that cannot
// be allocated.
int LoadMITDatabase(ECG_HEADER* header);

// Makes kind (an EDF playback kind) the playback kind of the record whose header
// LoadMITHeader installed last: set now, and set again by LoadMITDatabase with any
// copy of that header, instead of the plain MIT kind. The next LoadMITHeader, or
// the release of that record's WFDB header, forgets it.
void SetMITRecordPlaybackKind(int kind);
