#pragma once
// Helpers of the loader tests: headers held by an owner, a look at the engine's store, small
// format-16 records, and a working directory changed for one test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/thread.h"
#include "support/test_support.h"
#include "tavo/tavo.h"
#include "wfdb/wfdb_test_files.h"

struct EcgHeaderDeleter {
    void operator()(ECG_HEADER* header) const { FreeECGHeader(header); }
};
// Released with FreeECGHeader, which also releases its WFDB header.
using CEcgHeaderPtr = std::unique_ptr<ECG_HEADER, EcgHeaderDeleter>;
using Mv = std::vector<double>;

// A copy of channel's samples in the store (g_nSampleCount of them); empty when absent.
inline Mv StoreChannel(int channel) {
    if (g_pECGData == nullptr || channel < 0 || channel >= g_iECGSignalNumber || !g_pECGData[channel]) return {};
    return Mv(g_pECGData[channel], g_pECGData[channel] + g_nSampleCount);
}
inline std::vector<Mv> StoreChannels(int count) {
    std::vector<Mv> channels;
    for (int c = 0; c < count; ++c) channels.push_back(StoreChannel(c));
    return channels;
}

// The caller's header, and the same record in force in the engine with the playback kind.
inline void ExpectRecord(const ECG_HEADER* header, const char* name, int signals, int rate, int count, int kind) {
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, name);
    EXPECT_EQ(std::vector<int64_t>({header->nSignals, header->nSampleRate, header->nSampleCount, g_WaveformType,
                                    g_iECGSignalNumber, g_nSampleRate, g_nSampleCount}),
              std::vector<int64_t>({signals, rate, count, kind, signals, rate, count}))
        << "signals, rate, count, kind; then the engine's signals, rate, count";
}

inline std::vector<int> MappingTable() { return std::vector<int>(g_ECGMappingLead, g_ECGMappingLead + 8); }

// Writes dir/name.hea with headText and the format-16 dir/name.dat; returns the header's path.
inline std::string WriteRecord16(const std::string& dir, const std::string& name, const std::string& headText,
                                 const std::vector<int>& samples) {
    WriteTextFile(dir + "/" + name + ".hea", headText);
    WriteBinaryFile(dir + "/" + name + ".dat", Pack16(samples));
    return dir + "/" + name + ".hea";
}

// A stand-in for a running play thread that ends when a stop is asked for; a stop joins it,
// leaving g_hPlayThread 0.
inline void StartStandInPlayThread() {
    g_hStopPlayEvent.ResetEvent();
    ASSERT_TRUE(CreateThread(&g_hPlayThread, [](void*) -> void* { WaitForSingleObject(&g_hStopPlayEvent, 30000); return nullptr; }, nullptr));
}
