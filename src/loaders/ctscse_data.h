#pragma once
// The built-in reference records and noises, as constant tables indexed by the CTSCSE_Database
// and CTSCSE_Noise values. The arrays are embedded at build time (tools/refdata).

#include <cstdint>

#include "loaders/ctscse_catalog.h"

// Record k: 8 x g_Database_CTSCSE_SampleCount[k] doubles in millivolts at 1000 Hz, lead by lead
// (I, II, V1-V6), one cycle.
extern const double* const g_Database_CTSCSE[kCTSCSERecordCount];
extern const char* const g_Database_CTSCSE_Name[kCTSCSERecordCount];
extern const int32_t g_Database_CTSCSE_SampleCount[kCTSCSERecordCount];
// Noise n: 10000 int32 microvolts at 1000 Hz, played in a loop.
extern const int32_t* const g_Database_CTSCSE_Noise[kCTSCSENoiseCount];
// True when the records are the synthetic stand-ins, false when licensed records were imported.
extern const bool g_bCTSCSEStandIns;
