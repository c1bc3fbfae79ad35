#pragma once
// CSE multilead records (500 Hz, leads I, II, V1-V6) in their binary DCD and text forms.

#include "tavo/tavo.h"

// LoadDatabaseCSEInDCDFmt when the lower-case path holds ".dcd", else LoadDatabaseCSEInTxtFmt.
ECG_HEADER* LoadDatabaseCSE(const char* path);

// Each stops the output, loads under the engine lock and returns a new eight-channel
// header owned by the caller (FreeECGHeader), or null with the loaded signal unchanged
// (a missing, too short or malformed file, a text line with fewer than twelve values,
// memory too short for the store).
ECG_HEADER* LoadDatabaseCSEInDCDFmt(const char* path);
ECG_HEADER* LoadDatabaseCSEInTxtFmt(const char* path);
