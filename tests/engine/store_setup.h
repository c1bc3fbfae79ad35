#pragma once
// Small stores, raw frames and the delay collector shared by the engine tests.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"

using Codes = std::array<int, 8>;

// A zeroed store of the given kind, rate, length and channel count.
inline void MakeStore(int kind, uint32_t rate, int64_t count, int channels) {
    g_WaveformType = kind;
    g_nSampleRate = rate;
    g_nSampleCount = count;
    ASSERT_TRUE(ReallocateECGDataBuffer(channels));
}

// Channel c of every sample set to the c-th value.
inline void FillChannels(const std::vector<double>& values) {
    for (size_t ch = 0; ch < values.size(); ++ch) {
        for (int64_t i = 0; i < g_nSampleCount; ++i) g_pECGData[ch][i] = values[ch];
    }
}

// The output codes at position; -1 shows a code left unwritten.
inline Codes RawAt(uint64_t position) {
    g_nSampleCurrent = position;
    Codes frame;
    frame.fill(-1);
    PrepareRawData(frame.data());
    return frame;
}

// Delay reports arrive on the reply reader's thread.
inline std::mutex g_delayMutex;
inline std::vector<int> g_delays;
inline void CollectDelay(int delay) {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    g_delays.push_back(delay);
}
inline std::vector<int> Delays() {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    return g_delays;
}
