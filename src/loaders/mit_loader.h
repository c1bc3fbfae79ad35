#pragma once
// MIT/WFDB records into the engine, in two steps: the header (channels, lead
// mapping, an empty store), then the samples in millivolts.

#include "tavo/tavo.h"

// Parses the .hea file at path, opens its signal file, installs the engine header
// and lead mapping and allocates the store (a record too long for memory is cut in
// five-second steps). Returns the caller's copy, which owns the WFDB header (release
// with FreeECGHeader); null when the header, the signal file or the store cannot be
// had, with the engine header and mapping unchanged.
ECG_HEADER* LoadMITHeader(const char* path);

// Reads the samples of header's record (on from where its stream stands) into the
// store in mV and removes a first-minute mean of 5 mV or more. Returns 1; a short
// signal file leaves zeros. Returns 0 for a null header or impossible counts
// (nothing changed), or when the store cannot be allocated (rate, count and kind
// already replaced).
int LoadMITDatabase(ECG_HEADER* header);

// Makes kind (an EDF playback kind) the playback kind of the record whose header
// LoadMITHeader installed last: set now, and set again by LoadMITDatabase with any
// copy of that header, instead of the plain MIT kind. The next LoadMITHeader, or
// the release of that record's WFDB header, forgets it.
void SetMITRecordPlaybackKind(int kind);
