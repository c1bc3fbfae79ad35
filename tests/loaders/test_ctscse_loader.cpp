// Loading a built-in reference record: ten cycles in the store, the header, the noise it
// installs and what that noise does to the DAC codes, and the values it refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "loaders/ctscse_data.h"
#include "loaders/ctscse_loader.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "tavo/tavo_ext.h"

namespace {

struct HeaderFree {
    void operator()(ECG_HEADER* header) const { FreeECGHeader(header); }
};
using CHeader = std::unique_ptr<ECG_HEADER, HeaderFree>;

CHeader Load(int record, int noise) {
    return CHeader(LoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(record), static_cast<CTSCSE_Noise>(noise)));
}

std::vector<int32_t> NoiseBuffer() { return std::vector<int32_t>(g_NoiseData, g_NoiseData + kNoiseSamples); }

std::vector<int32_t> NoiseTable(int noise) {
    return std::vector<int32_t>(g_Database_CTSCSE_Noise[noise], g_Database_CTSCSE_Noise[noise] + kNoiseSamples);
}

// A stand-in for the play thread: it ends when a stop is asked for and says whether it was.
int g_stopSeen = -1;
void* WaitForStop(void*) {
    g_stopSeen = WaitForSingleObject(&g_hStopPlayEvent, 30000) == 0 ? 1 : 0;
    return nullptr;
}

}  // namespace

TEST(LoadDatabaseCTS_CSE, Cal05000WithoutNoiseIsTenCopiesOfItsCycle) {
    std::fill(g_NoiseData, g_NoiseData + kNoiseSamples, 77);
    g_NoiseOn = 1;
    const CHeader header = Load(CTSCSE_CAL05000, CTSCSE_NOISE_NONE);
    ASSERT_NE(header, nullptr);

    EXPECT_STREQ(header->szRecordName, "CAL05000");
    EXPECT_EQ(header->nSignals, 8);
    EXPECT_EQ(header->nSampleRate, 1000);
    EXPECT_EQ(header->nSampleCount, 10000);
    // Read through GetWFDBHeader: the field keeps the 32-bit layout's 4-byte alignment.
    EXPECT_EQ(GetWFDBHeader(header.get()), nullptr);
    const char* const labels[8] = {"ECG 1", "ECG 2", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"};
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_STREQ(header->Channel[ch].szLeadName, labels[ch]);
        EXPECT_EQ(header->Channel[ch].nLead, LEAD_I + ch);
    }

    EXPECT_EQ(g_nSampleCount, 10000);
    EXPECT_EQ(g_nSampleRate, 1000u);
    EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
    ASSERT_EQ(g_iECGSignalNumber, 8);
    EXPECT_TRUE(ValidateECGData());
    const double* table = g_Database_CTSCSE[CTSCSE_CAL05000];
    for (int ch = 0; ch < 8; ++ch)
        for (int repeat = 0; repeat < 10; ++repeat)
            ASSERT_EQ(std::memcmp(g_pECGData[ch] + repeat * 1000, table + ch * 1000, 1000 * sizeof(double)), 0)
                << "lead " << ch << " cycle " << repeat;
    // The calibration pulse of 0.5 mV, as its name says.
    EXPECT_EQ(*std::max_element(g_pECGData[0], g_pECGData[0] + 10000), 0.5);
    EXPECT_EQ(*std::min_element(g_pECGData[7], g_pECGData[7] + 10000), -0.5);

    EXPECT_EQ(g_NoiseOn, 0);
    EXPECT_EQ(NoiseBuffer(), std::vector<int32_t>(kNoiseSamples, 0));
}

// Cycle lengths from the published list, times ten.
TEST(LoadDatabaseCTS_CSE, StoresTenTimesTheCycleOfEachRecord) {
    struct Case {
        int record;
        const char* name;
        int samples;
    };
    for (const Case& c : {Case{CTSCSE_ANE20002, "ANE20002", 5000}, Case{CTSCSE_ANE20001, "ANE20001", 15000},
                          Case{CTSCSE_CAL20002, "CAL20002", 5000}, Case{CTSCSE_MA1_001, "MA1_001", 9400},
                          Case{CTSCSE_MA1_015, "MA1_015", 15920}, Case{CTSCSE_MA1_115, "MA1_115", 5200}}) {
        const CHeader header = Load(c.record, CTSCSE_NOISE_NONE);
        ASSERT_NE(header, nullptr) << c.name;
        EXPECT_STREQ(header->szRecordName, c.name);
        EXPECT_EQ(header->nSampleCount, c.samples) << c.name;
        EXPECT_EQ(g_nSampleCount, c.samples) << c.name;
        // The last sample of the store is the last sample of the cycle, lead V6.
        const int cycle = c.samples / 10;
        EXPECT_EQ(g_pECGData[7][c.samples - 1], g_Database_CTSCSE[c.record][8 * cycle - 1]) << c.name;
        EXPECT_EQ(g_pECGData[2][c.samples - cycle], g_Database_CTSCSE[c.record][2 * cycle]) << c.name;
    }
}

TEST(LoadDatabaseCTS_CSE, LastRecordLoadsAndTheValuesPastEitherEndAreRefused) {
    const CHeader last = Load(CTSCSE_MA1_125, CTSCSE_NOISE_BL);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->szRecordName, "MA1_125");
    EXPECT_EQ(last->nSampleCount, 10 * g_Database_CTSCSE_SampleCount[118]);
    const double* store = g_pECGData[0];
    const std::vector<int32_t> noise = NoiseBuffer();

    struct Case {
        int record, noise;
    };
    for (const Case& c : {Case{119, CTSCSE_NOISE_NONE}, Case{-1, CTSCSE_NOISE_NONE}, Case{0, 15}, Case{0, -1},
                          Case{INT_MAX, 0}, Case{INT_MIN, 0}, Case{119, 15}}) {
        EXPECT_EQ(Load(c.record, c.noise), nullptr) << c.record << " " << c.noise;
        // Nothing of the loaded record changed.
        EXPECT_EQ(g_pECGData[0], store);
        EXPECT_EQ(g_nSampleCount, last->nSampleCount);
        EXPECT_EQ(g_nSampleRate, 1000u);
        EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
        EXPECT_EQ(g_NoiseOn, 1);
        EXPECT_EQ(NoiseBuffer(), noise);
    }
}

TEST(LoadDatabaseCTS_CSE, EachNoiseInstallsItsOwnRecordAndNoneClearsIt) {
    g_nNoiseCurrent = 1234;
    for (int noise = CTSCSE_NOISE_50HZ; noise <= CTSCSE_NOISE_HF_50; ++noise) {
        std::fill(g_NoiseData, g_NoiseData + kNoiseSamples, -5);
        ASSERT_NE(Load(CTSCSE_ANE20002, noise), nullptr);
        EXPECT_EQ(g_NoiseOn, 1) << noise;
        EXPECT_EQ(NoiseBuffer(), NoiseTable(noise)) << noise;
    }
    ASSERT_NE(Load(CTSCSE_ANE20002, CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(g_NoiseOn, 0);
    EXPECT_EQ(NoiseBuffer(), std::vector<int32_t>(kNoiseSamples, 0));
    // The noise position keeps cycling across loads.
    EXPECT_EQ(g_nNoiseCurrent, 1234u);
}

// Codes worked by hand for a 12-bit device, range 5 mV: code = 2048 + mV / 5 x 2000, truncated.
// The chest outputs carry (V + (I + II) x 0.33333333333) x 0.592731022038923, then the noise.
TEST(LoadDatabaseCTS_CSE, BaselineWanderReachesTheDacCodesOfEveryOutput) {
    ASSERT_NE(Load(CTSCSE_CAL10000, CTSCSE_NOISE_BL), nullptr);
    const double* leadI = g_pECGData[0];
    const double* top = std::find(leadI, leadI + g_nSampleCount, 1.0);
    ASSERT_NE(top, leadI + g_nSampleCount) << "CAL10000 reaches 1.0 mV on lead I";
    g_nSampleCurrent = static_cast<uint64_t>(top - leadI);
    const int32_t* high = std::max_element(g_NoiseData, g_NoiseData + kNoiseSamples);
    const int32_t* low = std::min_element(g_NoiseData, g_NoiseData + kNoiseSamples);
    ASSERT_EQ(*high, 499);
    ASSERT_EQ(*low, -499);

    struct Case {
        const char* what;
        int64_t noiseAt;
        bool noiseOn;
        double range;
        int limb, chest;
    };
    const Case cases[] = {
        {"1.0 + 0.499 mV", high - g_NoiseData, true, 5.0, 2647, 2642},
        {"1.0 - 0.499 mV", low - g_NoiseData, true, 5.0, 2248, 2243},
        {"switched off", high - g_NoiseData, false, 5.0, 2448, 2443},
        {"limited to a 1.2 mV range", high - g_NoiseData, true, 1.2, 4048, 4048},
        // The index wraps: 10000 past the peak is the peak.
        {"wrapped index", (high - g_NoiseData) + kNoiseSamples, true, 5.0, 2647, 2642},
    };
    for (const Case& c : cases) {
        g_nNoiseCurrent = static_cast<uint64_t>(c.noiseAt);
        EnableNoise(c.noiseOn);
        g_fVoltageRange = c.range;
        int frame[8] = {};
        PrepareRawData(frame);
        EXPECT_EQ(frame[0], c.limb) << c.what;
        EXPECT_EQ(frame[1], c.limb) << c.what;
        for (int ch = 2; ch < 8; ++ch) EXPECT_EQ(frame[ch], c.chest) << c.what << " channel " << ch;
    }
    g_fVoltageRange = 5.0;
}

TEST(LoadDatabaseCTS_CSE, StopsTheRunningOutputEvenWhenItRefuses) {
    for (int record : {int(CTSCSE_CAL20000), 119}) {
        g_hStopPlayEvent.ResetEvent();
        g_stopSeen = -1;
        ASSERT_TRUE(CreateThread(&g_hPlayThread, WaitForStop, nullptr));
        const CHeader header = Load(record, CTSCSE_NOISE_NONE);
        EXPECT_EQ(header != nullptr, record == CTSCSE_CAL20000);
        // Joined before the load returned.
        EXPECT_EQ(g_hPlayThread, 0u);
        EXPECT_EQ(g_stopSeen, 1) << record;
    }
}
