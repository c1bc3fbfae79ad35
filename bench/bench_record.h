#pragma once
// The record the engine benchmarks play: eight mapped channels at 500 Hz whose values vary
// from sample to sample, so that no encoding shortcut makes a packet cheaper than a real one.

#include <cstdint>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"

constexpr uint32_t kBenchRate = 500;

inline bool MakeBenchRecord(int kind, int64_t seconds) {
    g_WaveformType = kind;
    g_nSampleRate = kBenchRate;
    g_nSampleCount = kBenchRate * seconds;
    if (!ReallocateECGDataBuffer(8)) return false;
    for (int ch = 0; ch < 8; ++ch) {
        for (int64_t i = 0; i < g_nSampleCount; ++i) g_pECGData[ch][i] = ((i * 7 + ch * 13) % 400) / 100.0 - 2.0;
    }
    for (int k = 0; k < 8; ++k) g_ECGMappingLead[k] = 7 - k;
    return true;
}
