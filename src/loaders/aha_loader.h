#pragma once
// Two-lead AHA records (250 Hz) read directly in their text and binary forms.

#include "tavo/tavo.h"

// Loads the record at path: text form when its lower-case path holds ".txt", else the
// binary form when it holds ".ecg". Returns a new two-channel header owned by the caller
// (FreeECGHeader); null for another path, an unreadable file or a store that cannot be
// allocated. The playback kind is the AHA kind from the start of the call.
ECG_HEADER* LoadDatabaseAHA(const char* path);

// The two form readers; the caller holds the engine lock.
ECG_HEADER* DoLoadDatabaseAHAFormatTxt(const char* path);
ECG_HEADER* DoLoadDatabaseAHAFormatECG(const char* path);
