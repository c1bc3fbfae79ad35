#pragma once
// Loading one of the built-in reference records into the engine's store.

#include "tavo/tavo.h"

// Number of times the record's cycle is repeated in the store.
constexpr int kCTSCSECycles = 10;

// Stops any output, then fills the store with ten cycles of `record` (eight leads, 1000 Hz,
// playback kind 1) and installs `noise` (or clears it for CTSCSE_NOISE_NONE). Returns a new
// eight-channel header (release with FreeECGHeader). Null for a record or noise out of range,
// or memory too short, with nothing changed but the stopped output.
ECG_HEADER* LoadDatabaseCTS_CSE(CTSCSE_Database record, CTSCSE_Noise noise);
