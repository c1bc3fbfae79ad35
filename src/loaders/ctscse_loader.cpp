// The built-in reference records as a loaded signal: ten cycles of one record in the store,
// and the noise that the packet builder adds to every frame of this playback kind.

#include "loaders/ctscse_loader.h"

#include <cstring>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "loaders/ctscse_data.h"
#include "tavo/tavo_ext.h"

static_assert(kNoiseSamples == kCTSCSENoiseSamples, "a noise record fills the engine's noise buffer exactly");
static_assert(CTSCSE_NOISE_NONE == kCTSCSENoiseCount, "the value after the last noise means none");

ECG_HEADER* LoadDatabaseCTS_CSE(CTSCSE_Database record, CTSCSE_Noise noise) {
    // The engine lock first, then the stop: the output threads never take this lock,
    // so joining them under it cannot deadlock.
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();

    const int recordIndex = static_cast<int>(record);
    const int noiseIndex = static_cast<int>(noise);
    if (recordIndex < 0 || recordIndex >= kCTSCSERecordCount) return nullptr;
    if (noiseIndex < 0 || noiseIndex > CTSCSE_NOISE_NONE) return nullptr;

    const int64_t cycle = g_Database_CTSCSE_SampleCount[recordIndex];
    CSignalReplacement replacement;
    g_nSampleCount = kCTSCSECycles * cycle;
    g_nSampleRate = kCTSCSESampleRate;
    g_WaveformType = WaveformFixedChannels;
    if (!ReallocateECGDataBuffer(kCTSCSELeadCount)) return nullptr;

    // The table holds one cycle lead by lead; the store gets it ten times per lead, so the
    // record's own baseline joins each repeat to the next.
    const size_t cycleBytes = static_cast<size_t>(cycle) * sizeof(double);
    for (int lead = 0; lead < kCTSCSELeadCount; ++lead) {
        const double* source = g_Database_CTSCSE[recordIndex] + static_cast<size_t>(lead) * static_cast<size_t>(cycle);
        for (int repeat = 0; repeat < kCTSCSECycles; ++repeat)
            std::memcpy(g_pECGData[lead] + static_cast<size_t>(repeat) * static_cast<size_t>(cycle), source, cycleBytes);
    }

    ECG_HEADER* header = NewECGHeaderAllChannel(kCTSCSESampleRate, static_cast<int>(g_nSampleCount),
                                                g_Database_CTSCSE_Name[recordIndex]);
    if (header == nullptr) return nullptr;
    // g_nNoiseCurrent is left where it is: the noise keeps cycling across loads and runs.
    if (noiseIndex == CTSCSE_NOISE_NONE) {
        std::memset(g_NoiseData, 0, sizeof(g_NoiseData));
        g_NoiseOn = 0;
    } else {
        std::memcpy(g_NoiseData, g_Database_CTSCSE_Noise[noiseIndex], sizeof(g_NoiseData));
        g_NoiseOn = 1;
    }
    replacement.Commit();
    return header;
}
