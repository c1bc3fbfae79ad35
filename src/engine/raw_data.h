#pragma once
// Per-kind raw frames (eight DAC codes for the outputs) and lead frames (twelve leads in mV).
//
// Raw frame order: I, II, V6, V5, V4, V3, V2, V1.
// Lead frame order: I, II, III, aVR, aVL, aVF, V1-V6. Neither builder locks or allocates:
// the play thread, the output-signal thread and a preview may call them at once.

#include <cstdint>

// The reference fraction of the Wilson terminal: eleven decimals, not an exact third.
constexpr double kReferenceFraction = 0.33333333333;
// Chest output gain of the output network for the direct, mapped and generated kinds.
constexpr double kChestGain = 0.592731022038923;
// Chest divisor for the AHA and EDF kinds.
constexpr double kChestDivisor = 1.665;

// Raw frame at g_nSampleCurrent. All zero codes past the end of a record, or for an unknown kind.
void PrepareRawData(int* frame);
void DoPrepareRawDataDirectMode(int* frame);
void DoPrepareRawDataDirectModeEx(int64_t position, int* frame);
void DoPrepareRawDataMappingMode(int* frame);
void DoPrepareRawDataKestraneMode(int* frame);
void DoPrepareRawDataEDF(int* frame);
void DoPrepareRawDataAHA(int* frame);
void DoPrepareRawDataPeriodical(int* frame);

// Lead frame at position. I to aVF are cleared first; the chest values are left as
// passed where the kind gives none. Past the end of a record nothing more is written.
void PrepareSignalData(int64_t position, double* leads);
void DoPrepareSignalDataDirectMode(int64_t position, double* leads);
void DoPrepareSignalDataMappingMode(int64_t position, double* leads);
void DoPrepareSignalEDF(int64_t position, double* leads);
void DoPrepareSignalDataAHA(int64_t position, double* leads);
void DoPrepareSignalDataPeriodical(int64_t position, double* leads);
