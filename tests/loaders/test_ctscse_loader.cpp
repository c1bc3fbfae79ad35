// Loading a built-in reference record: ten cycles in the store, the header, the noise it
// installs and what that noise does to the DAC codes, and the values it refuses.

#include "loaders/ctscse_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "loaders/ctscse_data.h"
#include "loaders/loader_test_support.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "tavo/tavo_ext.h"

namespace {

CEcgHeaderPtr Load(int record, int noise) {
    return CEcgHeaderPtr(LoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(record), static_cast<CTSCSE_Noise>(noise)));
}

std::vector<int32_t> NoiseBuffer() { return std::vector<int32_t>(g_NoiseData, g_NoiseData + kNoiseSamples); }

// A stand-in for the play thread: it ends when a stop is asked for and says whether it was.
int g_stopSeen = -1;
void* WaitForStop(void*) {
    g_stopSeen = WaitForSingleObject(&g_hStopPlayEvent, 30000) == 0 ? 1 : 0;
    return nullptr;
}

}  // namespace

// Cycle lengths from the published list, times ten; every lead is ten copies of its cycle.
TEST(LoadDatabaseCTS_CSE, StoresTenCyclesOfTheRecordAndClearsTheNoise) {
    struct Case {
        int record;
        const char* name;
        int samples;
    };
    for (const Case& c : {Case{CTSCSE_CAL05000, "CAL05000", 10000}, Case{CTSCSE_ANE20002, "ANE20002", 5000},
                          Case{CTSCSE_ANE20001, "ANE20001", 15000}, Case{CTSCSE_CAL20002, "CAL20002", 5000},
                          Case{CTSCSE_MA1_001, "MA1_001", 9400}, Case{CTSCSE_MA1_015, "MA1_015", 15920},
                          Case{CTSCSE_MA1_115, "MA1_115", 5200}}) {
        SCOPED_TRACE(c.name);
        std::fill(g_NoiseData, g_NoiseData + kNoiseSamples, 77);
        g_NoiseOn = 1;
        const CEcgHeaderPtr header = Load(c.record, CTSCSE_NOISE_NONE);
        ExpectRecord(header.get(), c.name, 8, 1000, c.samples, WaveformFixedChannels);
        ASSERT_NE(header, nullptr);
        // Read through GetWFDBHeader: the field keeps the 32-bit layout's 4-byte alignment.
        EXPECT_EQ(GetWFDBHeader(header.get()), nullptr);
        EXPECT_EQ(HeaderLabels(header.get()), "ECG 1,ECG 2,ECG V1,ECG V2,ECG V3,ECG V4,ECG V5,ECG V6");
        EXPECT_EQ(HeaderLeads(header.get()), (std::vector<int>{LEAD_I, LEAD_II, LEAD_V1, LEAD_V2, LEAD_V3, LEAD_V4,
                                                               LEAD_V5, LEAD_V6}));
        EXPECT_TRUE(ValidateECGData());
        const int cycle = c.samples / 10;
        for (int ch = 0; ch < 8; ++ch) {
            const double* table = g_Database_CTSCSE[c.record] + ch * cycle;
            const Mv got = StoreChannel(ch);
            for (int k = 0; k < c.samples; ++k) ASSERT_EQ(got[k], table[k % cycle]) << ch << " " << k;
        }
        EXPECT_EQ(g_NoiseOn, 0);
        EXPECT_EQ(NoiseBuffer(), std::vector<int32_t>(kNoiseSamples, 0));
    }
    // The calibration pulse of 0.5 mV, as its name says.
    ASSERT_NE(Load(CTSCSE_CAL05000, CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(*std::max_element(g_pECGData[0], g_pECGData[0] + 10000), 0.5);
    EXPECT_EQ(*std::min_element(g_pECGData[7], g_pECGData[7] + 10000), -0.5);
}

TEST(LoadDatabaseCTS_CSE, LastRecordLoadsAndTheValuesPastEitherEndAreRefused) {
    const CEcgHeaderPtr last = Load(CTSCSE_MA1_125, CTSCSE_NOISE_BL);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->szRecordName, "MA1_125");
    EXPECT_EQ(last->nSampleCount, 10 * g_Database_CTSCSE_SampleCount[118]);
    const double* store = g_pECGData[0];
    const std::vector<int32_t> noise = NoiseBuffer();
    for (const auto& [record, noiseIndex] : std::vector<std::pair<int, int>>{
             {119, CTSCSE_NOISE_NONE}, {-1, CTSCSE_NOISE_NONE}, {0, 15}, {0, -1}, {INT_MAX, 0}, {INT_MIN, 0}, {119, 15}}) {
        EXPECT_EQ(Load(record, noiseIndex), nullptr) << record << " " << noiseIndex;
        EXPECT_EQ(g_pECGData[0], store);
        EXPECT_EQ(g_nSampleCount, last->nSampleCount);
        EXPECT_EQ(g_nSampleRate, 1000u);
        EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
        EXPECT_EQ(g_NoiseOn, 1);
        EXPECT_EQ(NoiseBuffer(), noise);
    }
}

TEST(LoadDatabaseCTS_CSE, EachNoiseInstallsItsOwnRecord) {
    g_nNoiseCurrent = 1234;
    for (int noise = CTSCSE_NOISE_50HZ; noise <= CTSCSE_NOISE_HF_50; ++noise) {
        std::fill(g_NoiseData, g_NoiseData + kNoiseSamples, -5);
        ASSERT_NE(Load(CTSCSE_ANE20002, noise), nullptr);
        EXPECT_EQ(g_NoiseOn, 1) << noise;
        EXPECT_EQ(NoiseBuffer(), std::vector<int32_t>(g_Database_CTSCSE_Noise[noise],
                                                      g_Database_CTSCSE_Noise[noise] + kNoiseSamples)) << noise;
    }
    EXPECT_EQ(g_nNoiseCurrent, 1234u) << "the noise position keeps cycling across loads";
}

// Codes worked by hand for a 12-bit device, range 5 mV: code = 2048 + mV / 5 x 2000, truncated.
// The chest outputs carry (V + (I + II) x 0.33333333333) x 0.592731022038923, then the noise.
TEST(LoadDatabaseCTS_CSE, BaselineWanderReachesTheDacCodesOfEveryOutput) {
    ASSERT_NE(Load(CTSCSE_CAL10000, CTSCSE_NOISE_BL), nullptr);
    const double* leadI = g_pECGData[0];
    const double* top = std::find(leadI, leadI + g_nSampleCount, 1.0);
    ASSERT_NE(top, leadI + g_nSampleCount) << "CAL10000 reaches 1.0 mV on lead I";
    g_nSampleCurrent = static_cast<uint64_t>(top - leadI);
    const int64_t high = std::max_element(g_NoiseData, g_NoiseData + kNoiseSamples) - g_NoiseData;
    const int64_t low = std::min_element(g_NoiseData, g_NoiseData + kNoiseSamples) - g_NoiseData;
    ASSERT_EQ(g_NoiseData[high], 499);
    ASSERT_EQ(g_NoiseData[low], -499);
    struct Case {
        const char* what;
        int64_t noiseAt;
        bool noiseOn;
        double range;
        int limb, chest;
    };
    for (const Case& c : {Case{"1.0 + 0.499 mV", high, true, 5.0, 2647, 2642}, Case{"1.0 - 0.499 mV", low, true, 5.0, 2248, 2243},
                          Case{"switched off", high, false, 5.0, 2448, 2443},
                          Case{"limited to a 1.2 mV range", high, true, 1.2, 4048, 4048},
                          // The index wraps: 10000 past the peak is the peak.
                          Case{"wrapped index", high + kNoiseSamples, true, 5.0, 2647, 2642}}) {
        g_nNoiseCurrent = static_cast<uint64_t>(c.noiseAt);
        EnableNoise(c.noiseOn);
        g_fVoltageRange = c.range;
        int frame[8] = {};
        PrepareRawData(frame);
        EXPECT_EQ(std::vector<int>(frame, frame + 8), (std::vector<int>{c.limb, c.limb, c.chest, c.chest, c.chest,
                                                                         c.chest, c.chest, c.chest})) << c.what;
    }
    g_fVoltageRange = 5.0;
}

TEST(LoadDatabaseCTS_CSE, StopsTheRunningOutputEvenWhenItRefuses) {
    for (int record : {int(CTSCSE_CAL20000), 119}) {
        g_hStopPlayEvent.ResetEvent();
        g_stopSeen = -1;
        ASSERT_TRUE(CreateThread(&g_hPlayThread, WaitForStop, nullptr));
        EXPECT_EQ(Load(record, CTSCSE_NOISE_NONE) != nullptr, record == CTSCSE_CAL20000);
        EXPECT_EQ(g_hPlayThread, 0u) << "joined before the load returned";
        EXPECT_EQ(g_stopSeen, 1) << record;
    }
}
