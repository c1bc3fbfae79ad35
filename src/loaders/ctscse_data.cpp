// The tables over the embedded reference data. The arrays themselves come from the generated
// ctscse_blob.cpp, which defines them in assembly under these names with hidden visibility.

#include "loaders/ctscse_data.h"

extern "C" {
#pragma GCC visibility push(hidden)
#define TAVO_DECLARE_RECORD(symbol, name, samples, fixed) extern const double CTSCSE_Database_##symbol[];
TAVO_CTSCSE_RECORDS(TAVO_DECLARE_RECORD)
#undef TAVO_DECLARE_RECORD
#define TAVO_DECLARE_NOISE(symbol) extern const int32_t CTSCSE_Noise_##symbol[];
TAVO_CTSCSE_NOISES(TAVO_DECLARE_NOISE)
#undef TAVO_DECLARE_NOISE
#pragma GCC visibility pop
}

#define TAVO_RECORD_ARRAY(symbol, name, samples, fixed) CTSCSE_Database_##symbol,
const double* const g_Database_CTSCSE[kCTSCSERecordCount] = {TAVO_CTSCSE_RECORDS(TAVO_RECORD_ARRAY)};
#undef TAVO_RECORD_ARRAY

#define TAVO_RECORD_NAME(symbol, name, samples, fixed) name,
const char* const g_Database_CTSCSE_Name[kCTSCSERecordCount] = {TAVO_CTSCSE_RECORDS(TAVO_RECORD_NAME)};
#undef TAVO_RECORD_NAME

#define TAVO_NOISE_ARRAY(symbol) CTSCSE_Noise_##symbol,
const int32_t* const g_Database_CTSCSE_Noise[kCTSCSENoiseCount] = {TAVO_CTSCSE_NOISES(TAVO_NOISE_ARRAY)};
#undef TAVO_NOISE_ARRAY
