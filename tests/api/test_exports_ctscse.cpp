// The reference-record export: what an application gets back, and what it cannot break.

#include <gtest/gtest.h>

#include "engine/sample_store.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

TEST(TAVOLoadDatabaseCTS_CSE, HandsBackAHeaderTheApplicationReleases) {
    ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_002, CTSCSE_NOISE_HF_50);
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "MA1_002");
    EXPECT_EQ(header->nSignals, 8);
    EXPECT_EQ(header->nSampleRate, 1000);
    EXPECT_EQ(header->nSampleCount, 5320);
    EXPECT_STREQ(header->Channel[7].szLeadName, "ECG V6");
    EXPECT_EQ(header->Channel[7].nLead, LEAD_V6);
    EXPECT_EQ(g_NoiseOn, 1);
    EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
    // The header is the application's: changing it does not touch the loaded record.
    header->nSampleCount = 1;
    EXPECT_EQ(g_nSampleCount, 5320);
    TAVOFreeECGHeader(header);

    // Switching the noise off afterwards keeps the loaded noise for switching it on again.
    TAVOEnableNoise(false);
    EXPECT_EQ(g_NoiseOn, 0);
    EXPECT_NE(g_NoiseData[0] | g_NoiseData[1] | g_NoiseData[2] | g_NoiseData[3], 0);
}

TEST(TAVOLoadDatabaseCTS_CSE, RefusesValuesOutsideTheEnumerations) {
    double** const store = g_pECGData;
    const int64_t samples = g_nSampleCount;
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(119), CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(-1), CTSCSE_NOISE_NONE), nullptr);
    EXPECT_EQ(TAVOLoadDatabaseCTS_CSE(CTSCSE_ANE20000, static_cast<CTSCSE_Noise>(15)), nullptr);
    EXPECT_EQ(g_pECGData, store);
    EXPECT_EQ(g_nSampleCount, samples);
}
