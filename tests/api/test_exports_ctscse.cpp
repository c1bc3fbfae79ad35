// The reference-record export: what an application gets back, what it cannot break, and
// what a failed load of any kind leaves of it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/sample_store.h"
#include "support/test_support.h"
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

namespace {

std::vector<std::vector<double>> g_frames;

std::vector<std::vector<double>> PreviewFirstSecond() {
    g_frames.clear();
    EXPECT_TRUE(TAVOGetWaveformSignal(0, 1, [](double, double* leads, bool) { g_frames.emplace_back(leads, leads + 12); }));
    return g_frames;
}

}  // namespace

// After MA1_001, every load that fails leaves the record, its playback kind and so its
// preview exactly as they were.
TEST(FailedLoads, LeaveTheLoadedRecordAsItWas) {
    CTempDir dir;
    WriteTextFile(dir.File("short.txt"), "1000 2 3 4 5 6 7 8 9 10 11 12\n1 2 3 4 5 6 7 8 9 10 11\n");
    WriteTextFile(dir.File("nostart.kes"), "1000\n10\nbegin\n");
    WriteTextFile(dir.File("nodat.hea"), "nodat 1 100 2\nnodat.dat 16 100 16 0 0 0 0 I\n");
    g_pszRepository = dir.Path().c_str();
    TAVOFreeECGHeader(TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_001, CTSCSE_NOISE_NONE));
    const std::vector<std::vector<double>> before = PreviewFirstSecond();
    ASSERT_EQ(before.size(), 1001u);
    const std::string missing = dir.File("missing");
    const std::pair<const char*, std::function<bool()>> failures[] = {
        {"AHA text, missing file", [&] { return TAVOLoadDatabaseAHA((missing + ".txt").c_str()) != nullptr; }},
        {"AHA binary, missing file", [&] { return TAVOLoadDatabaseAHA((missing + ".ecg").c_str()) != nullptr; }},
        {"AHA, neither form", [&] { return TAVOLoadDatabaseAHA(dir.File("nodat.hea").c_str()) != nullptr; }},
        {"CSE, missing file", [&] { return TAVOLoadDatabaseCSE((missing + ".dcd").c_str()) != nullptr; }},
        {"CSE text, a short line", [&] { return TAVOLoadDatabaseCSE(dir.File("short.txt").c_str()) != nullptr; }},
        {"maker's format, no start", [&] { return TAVOLoadDatabaseKestrane(dir.File("nostart.kes").c_str()) != nullptr; }},
        {"MIT header, no signal file", [&] { return TAVOLoadMITHeader(dir.File("nodat.hea").c_str()) != nullptr; }},
        {"EDF, missing file", [&] { return LoadDatabaseEDF((missing + ".edf").c_str(), WaveformEDF) != nullptr; }},
        {"noise test, missing records", [&] { return LoadDatabaseNoiseTest(missing.c_str(), missing.c_str(), 12) != nullptr; }},
        {"noise test, nothing set up", [] { return LoadDatabaseNoiseTest() != nullptr; }},
        {"waveform, unknown type", [] { return TAVOLoadWaveform(static_cast<WAVEFORM_TYPE>(7), 1.0, 1.0); }},
        {"reference record out of range", [] { return TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(119), CTSCSE_NOISE_NONE) != nullptr; }},
    };
    for (const auto& [what, load] : failures) {
        TAVOFreeECGHeader(TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_001, CTSCSE_NOISE_NONE));
        EXPECT_FALSE(load()) << what;
        EXPECT_EQ(g_WaveformType, WaveformFixedChannels) << what;
        EXPECT_TRUE(PreviewFirstSecond() == before) << what;
    }
}
