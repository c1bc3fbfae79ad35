#pragma once
// Two-lead AHA records (250 Hz) read directly in their text and binary forms.

#include "tavo/tavo.h"

// Loads the record at path: text form when its lower-case path holds ".txt", else the
// binary form when it holds ".ecg". Returns a new two-channel header owned by the caller
// (FreeECGHeader); null, with the loaded signal and its playback kind unchanged, for
// another path, an unreadable file or a store that cannot be allocated.
ECG_HEADER* LoadDatabaseAHA(const char* path);

// The two form readers; the caller holds the engine lock.
ECG_HEADER* DoLoadDatabaseAHAFormatTxt(const char* path);
ECG_HEADER* DoLoadDatabaseAHAFormatECG(const char* path);
