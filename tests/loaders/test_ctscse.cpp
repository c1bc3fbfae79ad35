// A record loaded from the embedded reference set: ten cycles in the store and the noise it installs. Its refusals are rows of the failed-load walk.

#include <gtest/gtest.h>

#include <algorithm>

#include "loaders/ctscse_data.h"
#include "loaders/ctscse_loader.h"
#include "loaders/loader_test_support.h"
#include "tavo/tavo_ext.h"

// Cycle lengths from the published list, times ten; every lead is ten copies of its cycle. No
// noise clears the noise record and switches it off; a noise installs its own record and
// switches it on, and the noise position keeps cycling across loads.
TEST(LoadDatabaseCTS_CSE, StoresTenCyclesOfTheRecordAndInstallsItsNoise) {
    struct Case { int record; const char* name; int samples, noise; };
    g_nNoiseCurrent = 1234;
    for (const Case& c : {Case{CTSCSE_CAL05000, "CAL05000", 10000, CTSCSE_NOISE_NONE}, Case{CTSCSE_ANE20001, "ANE20001", 15000, CTSCSE_NOISE_50HZ},
                          Case{CTSCSE_CAL20002, "CAL20002", 5000, CTSCSE_NOISE_NONE}, Case{CTSCSE_MA1_001, "MA1_001", 9400, CTSCSE_NOISE_BL_HF},
                          Case{CTSCSE_MA1_125, "MA1_125", 10 * g_Database_CTSCSE_SampleCount[118], CTSCSE_NOISE_HF_50}}) {
        SCOPED_TRACE(c.name);
        std::fill(g_NoiseData, g_NoiseData + kNoiseSamples, 77);
        g_NoiseOn = c.noise == CTSCSE_NOISE_NONE;
        const CEcgHeaderPtr header(LoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(c.record), static_cast<CTSCSE_Noise>(c.noise)));
        ExpectRecord(header.get(), c.name, 8, 1000, c.samples, WaveformFixedChannels);
        EXPECT_EQ(GetWFDBHeader(header.get()), nullptr);  // by value: the field is only 4-byte aligned
        EXPECT_TRUE(ValidateECGData());
        const int cycle = c.samples / 10;
        for (int ch = 0; ch < 8; ++ch)
            for (int k = 0; k < c.samples; ++k) ASSERT_EQ(g_pECGData[ch][k], g_Database_CTSCSE[c.record][ch * cycle + k % cycle]) << ch << " " << k;
        const bool isNoisy = c.noise != CTSCSE_NOISE_NONE;
        EXPECT_EQ(g_NoiseOn, isNoisy ? 1 : 0);
        const int32_t* noise = isNoisy ? g_Database_CTSCSE_Noise[c.noise] : nullptr;
        EXPECT_EQ(std::vector<int32_t>(g_NoiseData, g_NoiseData + kNoiseSamples),
                  isNoisy ? std::vector<int32_t>(noise, noise + kNoiseSamples) : std::vector<int32_t>(kNoiseSamples, 0));
    }
    EXPECT_EQ(g_nNoiseCurrent, 1234u);
}
