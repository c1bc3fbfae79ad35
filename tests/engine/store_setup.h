#pragma once
// Small stores and raw frames shared by the engine tests, and the headers they all use.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <tuple>
#include <vector>

#include "device/dac_calibration.h"
#include "device/protocol.h"
#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "tavo/tavo_ext.h"

using Codes = std::array<int, 8>;

// A zeroed store of the given kind, rate, length and channel count.
inline void MakeStore(int kind, uint32_t rate, int64_t count, int channels) {
    std::tie(g_WaveformType, g_nSampleRate, g_nSampleCount) = std::tuple(kind, rate, count);
    ASSERT_TRUE(ReallocateECGDataBuffer(channels));
}

// Channel c of every sample set to the c-th value.
inline void FillChannels(const std::vector<double>& values) {
    for (size_t ch = 0; ch < values.size(); ++ch) std::fill(g_pECGData[ch], g_pECGData[ch] + g_nSampleCount, values[ch]);
}

// The output codes at position; -1 shows a code left unwritten.
inline Codes RawAt(uint64_t position) {
    g_nSampleCurrent = position;
    Codes frame{-1, -1, -1, -1, -1, -1, -1, -1};
    PrepareRawData(frame.data());
    return frame;
}
