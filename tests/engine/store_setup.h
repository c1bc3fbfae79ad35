#pragma once
// Builds small stores for the engine tests without a loader.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "engine/sample_store.h"

// A zeroed store of the given kind, rate, length and channel count.
inline void MakeStore(int kind, uint32_t rate, int64_t count, int channels) {
    g_WaveformType = kind;
    g_nSampleRate = rate;
    g_nSampleCount = count;
    ASSERT_TRUE(ReallocateECGDataBuffer(channels));
}

// Every sample of channel ch set to mV.
inline void FillChannel(int ch, double mV) {
    for (int64_t i = 0; i < g_nSampleCount; ++i) g_pECGData[ch][i] = mV;
}

// Channel c of every sample set to the c-th value.
inline void FillChannels(std::initializer_list<double> values) {
    int ch = 0;
    for (double mV : values) FillChannel(ch++, mV);
}
