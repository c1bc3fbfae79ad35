#pragma once
// Small stores, raw frames and the delay collector shared by the engine tests.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
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

// Delay reports arrive on the output consumer's thread.
inline std::mutex g_delayMutex;
inline std::condition_variable g_delayArrived;
inline std::vector<int> g_delays;
inline void CollectDelay(int delay) {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    g_delays.push_back(delay);
    g_delayArrived.notify_all();
}
// The reports once count have arrived, or as they are after a generous deadline.
inline std::vector<int> Delays(size_t count) {
    std::unique_lock<std::mutex> lock(g_delayMutex);
    g_delayArrived.wait_for(lock, std::chrono::seconds(20), [count] { return g_delays.size() >= count; });
    return g_delays;
}
