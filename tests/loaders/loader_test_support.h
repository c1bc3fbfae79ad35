#pragma once
// Helpers of the loader tests: headers held by an owner, a look at the engine's store,
// and a working directory changed for one test.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "tavo/tavo.h"

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

inline void ExpectNear(const Mv& got, const Mv& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(got[i], want[i], 1e-12) << what << " sample " << i;
}

// The caller's header, and the same record in force in the engine with the playback kind.
inline void ExpectRecord(const ECG_HEADER* header, const char* name, int signals, int rate, int count, int kind) {
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, name);
    EXPECT_EQ(header->nSignals, signals);
    EXPECT_EQ(header->nSampleRate, rate);
    EXPECT_EQ(header->nSampleCount, count);
    EXPECT_EQ(g_WaveformType, kind);
    EXPECT_EQ(g_iECGSignalNumber, signals);
    EXPECT_EQ(g_nSampleRate, static_cast<uint32_t>(rate));
    EXPECT_EQ(g_nSampleCount, count);
}

// The channels' labels joined with commas, and their leads.
inline std::string HeaderLabels(const ECG_HEADER* header) {
    std::string labels;
    for (int i = 0; i < header->nSignals; ++i) labels += (i ? "," : "") + std::string(header->Channel[i].szLeadName);
    return labels;
}
inline std::vector<int> HeaderLeads(const ECG_HEADER* header) {
    std::vector<int> leads;
    for (int i = 0; i < header->nSignals; ++i) leads.push_back(header->Channel[i].nLead);
    return leads;
}

inline std::vector<int> MappingTable() { return std::vector<int>(g_ECGMappingLead, g_ECGMappingLead + 8); }

inline int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// Changes the working directory for the owner's lifetime.
class CWorkingDirectory {
public:
    explicit CWorkingDirectory(const std::string& path) : m_previous(std::filesystem::current_path()) {
        if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed");
    }
    ~CWorkingDirectory() { (void)!chdir(m_previous.c_str()); }
    CWorkingDirectory(const CWorkingDirectory&) = delete;
    CWorkingDirectory& operator=(const CWorkingDirectory&) = delete;

private:
    std::string m_previous;
};
