// The reference-record export: what an application gets back, and what it cannot break.

#include <gtest/gtest.h>

#include <tuple>

#include "engine/sample_store.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

TEST(TAVOLoadDatabaseCTS_CSE, HandsBackAHeaderTheApplicationReleases) {
    ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_002, CTSCSE_NOISE_HF_50);
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "MA1_002");
    EXPECT_EQ(std::tuple(header->nSignals, header->nSampleRate, header->nSampleCount), std::tuple(8, 1000, 5320));
    EXPECT_STREQ(header->Channel[7].szLeadName, "ECG V6");
    EXPECT_EQ(std::tuple(header->Channel[7].nLead, g_NoiseOn.load(), g_WaveformType),
              std::tuple(LEAD_V6, 1, int(WaveformFixedChannels)));
    header->nSampleCount = 1;  // the header is the application's, not the loaded record
    EXPECT_EQ(g_nSampleCount, 5320);
    TAVOFreeECGHeader(header);
    TAVOEnableNoise(false);  // keeps the loaded noise for switching it on again
    EXPECT_EQ(g_NoiseOn, 0);
    EXPECT_NE(g_NoiseData[0] | g_NoiseData[1] | g_NoiseData[2] | g_NoiseData[3], 0);

    double** const store = g_pECGData;
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(119), CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(-1), CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(CTSCSE_ANE20000, static_cast<CTSCSE_Noise>(15)), nullptr);
    EXPECT_EQ(std::tuple(g_pECGData, g_nSampleCount), std::tuple(store, int64_t{5320})) << "refusals change nothing";
}
