// The embedded reference tables: names, order and cycle lengths as published for the set, the
// total size, and the arrays as embedded (their content is the generator's, pinned by its checksum).

#include "loaders/ctscse_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "reference_set.h"
#include "tavo/tavo.h"

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
    EXPECT_EQ(int(CTSCSE_MA1_125), 118);
    const std::map<std::string, int> fixed = {{"ANE20000", 1000}, {"ANE20001", 1500}, {"ANE20002", 500},
                                              {"CAL20002", 500},  {"CAL20502", 500},  {"MA1_001", 940},
                                              {"MA1_002", 532},   {"MA1_015", 1592},  {"MA1_115", 520}};
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

// Every array aligned for its type (the board faults on a misaligned double) and distinct; with
// the stand-ins built in, byte for byte what the generator makes.
TEST(CtsCseData, ArraysAreAlignedDistinctAndTheGeneratorsStandIns) {
    std::set<const void*> seen;
    for (int record = 0; record < 119; ++record) {
        const double* data = g_Database_CTSCSE[record];
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignof(double), 0u);
        EXPECT_TRUE(seen.insert(data).second) << record;
    }
    for (int noise = 0; noise < 14; ++noise) {
        ASSERT_NE(g_Database_CTSCSE_Noise[noise], nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(g_Database_CTSCSE_Noise[noise]) % alignof(int32_t), 0u);
    }
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const REFERENCE_SET set = MakeStandInSet();
    for (int record = 0; record < 119; ++record) {
        const size_t bytes = 64 * size_t(g_Database_CTSCSE_SampleCount[record]);
        EXPECT_EQ(std::memcmp(set.records[record].data(), g_Database_CTSCSE[record], bytes), 0) << record;
    }
    for (int noise = 0; noise < 14; ++noise)
        EXPECT_EQ(std::memcmp(set.noises[noise].data(), g_Database_CTSCSE_Noise[noise], 40000), 0) << noise;
}
