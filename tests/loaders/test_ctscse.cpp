// The embedded reference set (names and cycle lengths as published) and a record loaded from it:
// ten cycles in the store and the noise it installs. Its refusals are rows of the failed-load walk.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "loaders/ctscse_data.h"
#include "loaders/ctscse_loader.h"
#include "loaders/loader_test_support.h"
#include "tavo/tavo_ext.h"

// Names typed from the published record list, not from the catalogue.
TEST(CtsCseData, NamesAndCycleLengthsAreThoseOfTheSet) {
    std::vector<std::string> names = {"ANE20000", "ANE20001", "ANE20002", "CAL05000", "CAL10000", "CAL15000", "CAL20000",
                                      "CAL20002", "CAL20100", "CAL20110", "CAL20160", "CAL20200", "CAL20210", "CAL20260",
                                      "CAL20500", "CAL20502", "CAL30000", "CAL40000", "CAL50000"};
    const std::string numbers =
        "001 002 003 004 005 007 008 009 011 012 013 014 015 016 017 019 021 022 024 025 026 027 028 029 030 "
        "031 032 033 034 035 036 037 038 039 040 041 042 043 044 046 047 048 049 051 053 055 058 059 060 061 "
        "062 063 064 065 066 068 069 071 072 073 074 075 076 077 078 079 080 081 082 083 084 085 086 087 088 "
        "090 091 095 096 097 098 099 101 102 103 104 105 106 107 108 110 112 113 114 115 116 118 123 124 125";
    for (size_t at = 0; at < numbers.size(); at += 4) names.push_back("MA1_" + numbers.substr(at, 3));
    ASSERT_EQ(names.size(), 119u);
    const std::map<std::string, int> fixed = {{"ANE20000", 1000}, {"ANE20001", 1500}, {"ANE20002", 500}, {"CAL20002", 500},
                                              {"CAL20502", 500}, {"MA1_001", 940}, {"MA1_002", 532}, {"MA1_015", 1592}, {"MA1_115", 520}};
    int64_t total = 0;
    for (int record = 0; record < 119; ++record) {
        const std::string name = g_Database_CTSCSE_Name[record];
        const int samples = g_Database_CTSCSE_SampleCount[record];
        EXPECT_EQ(name, names[record]) << record;
        if (fixed.count(name)) EXPECT_EQ(samples, fixed.at(name)) << name;
        else if (record >= CTSCSE_CAL05000 && record <= CTSCSE_CAL50000) EXPECT_EQ(samples, 1000) << name;
        else EXPECT_TRUE(samples >= 520 && samples <= 1592) << name;
        total += samples;
    }
    EXPECT_EQ(total, 105664);
}

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
