#pragma once
// The maker's own text record: rate, length, "start", then up to eight labelled sections.

#include "tavo/tavo.h"

// Loads the record file at path into the eight-channel store (playback kind 4).
// Returns a new header owned by the caller (FreeECGHeader); null, with nothing
// changed, for an unreadable file, a third line other than "start", or a rate or
// count that cannot size a store; null after the kind, rate and count are set when
// the store cannot be allocated.
ECG_HEADER* LoadDatabaseKestrane(const char* path);
