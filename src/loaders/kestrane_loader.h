#pragma once
// The maker's own text record: rate, length, "start", then up to eight labelled sections.

#include "tavo/tavo.h"

// Loads the record file at path into the eight-channel store (playback kind 4).
// Returns a new header owned by the caller (FreeECGHeader); null, with the loaded
// signal unchanged, for an unreadable file, a third line other than "start", a rate
// or count that cannot size a store, or memory too short for it.
ECG_HEADER* LoadDatabaseKestrane(const char* path);
