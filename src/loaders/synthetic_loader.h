#pragma once
// Loading a synthetic ECG into the engine's store.

#include "tavo/tavo_ext.h"

// Stops any output and fills the store with the synthetic loop of params (eight channels
// I, II, V1-V6, 1000 Hz, playback kind 5). Returns a new eight-channel header (release with
// FreeECGHeader). Null with nothing changed when a field is out of range or memory is short
// before the store is replaced; null with the store refused by ValidateECGData when it is
// short after.
ECG_HEADER* LoadSyntheticECG(const TAVO_SYNTHETIC_ECG& params);
