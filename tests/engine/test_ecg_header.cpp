// Header blocks, the label table and the lead mapping.

#include "engine/ecg_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<WFDB_HEADER*> g_released;
void FakeRelease(WFDB_HEADER* header) { g_released.push_back(header); }

// An engine header whose channels carry the given labels, mapped through the table.
void InstallEngineHeader(const std::vector<std::string>& labels) {
    ECG_HEADER* header = NewECGHeader(static_cast<int>(labels.size()));
    ASSERT_NE(header, nullptr);
    for (size_t i = 0; i < labels.size(); ++i) {
        std::strcpy(header->Channel[i].szLeadName, labels[i].c_str());
        header->Channel[i].nLead = MappingLeadText(labels[i].c_str());
    }
    SetEngineECGHeader(header);
    UpdateMITMappingLeadIndex();
}

std::vector<int> Mapping() { return std::vector<int>(g_ECGMappingLead, g_ECGMappingLead + 8); }

bool AllZero(const void* block, size_t from, size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(block) + from;
    return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

}  // namespace

TEST(EcgHeader, SizeIsSixtyFourPlusTwentyPerChannel) {
    EXPECT_EQ(CalcECGHeaderSize(0), 64);
    EXPECT_EQ(CalcECGHeaderSize(8), 224);
    EXPECT_EQ(NewECGHeader(-1), nullptr);
    EXPECT_EQ(NewECGHeader(200000000), nullptr) << "64 + 20 x n must fit the int it travels in";
}

// Byte offsets: 28-43 pointer and reserved, channels from 44, 20 bytes each.
TEST(EcgHeader, FixedHeadersHoldTheirChannelsAndZeroElsewhere) {
    ECG_HEADER* aha = NewECGHeaderAHA(1800, "fifteen_chars_x");
    ECG_HEADER* all = NewECGHeaderAllChannel(500, 5000, "sixteen_chars_xx");
    ASSERT_TRUE(aha && all);
    EXPECT_STREQ(aha->szRecordName, "fifteen_chars_x");
    EXPECT_EQ(std::tuple(aha->nSignals, aha->nSampleRate, aha->nSampleCount), std::tuple(2, 250, 1800));
    EXPECT_EQ(GetWFDBHeader(aha), nullptr);
    EXPECT_TRUE(AllZero(aha, 28, 16) && AllZero(aha, 84, 20) && AllZero(aha, 44 + 6, 10)) << "reserved, spare, tail";
    EXPECT_STREQ(all->szRecordName, "") << "a name that does not fit is not copied at all";
    EXPECT_EQ(std::tuple(all->nSignals, all->nSampleRate, all->nSampleCount), std::tuple(8, 500, 5000));
    const char* labels[8] = {"ECG 1", "ECG 2", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"};
    auto channel = [](ECG_HEADER* h, int i) { return std::tuple(std::string(h->Channel[i].szLeadName), h->Channel[i].nLead); };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(channel(all, i), std::tuple(labels[i], i));
        if (i < 2) {
            EXPECT_EQ(channel(aha, i), std::tuple(labels[i], i));
        }
    }
    EXPECT_TRUE(AllZero(all, 204, 20)) << "the spare channel slot";
    for (ECG_HEADER* header : {aha, all}) FreeECGHeader(header);
}

// The documented label list, in lead order I, II, V1 ... V6; then near misses.
TEST(MappingLeadText, EveryListedLabelGivesItsLeadAndNearMissesNone) {
    const std::vector<std::vector<const char*>> groups = {
        {"ECG 1", "ECG1", "ECG [ECG1]", "ECG I", "ECG lead 1", "ECG lead I", "ECG Lead I", "ECG signal 0", "i", "I ",
         "I+", "I", "lead I", "MCL1 ", "MCL1+", "MCL1", "MLI", "ST1", "ST I_1/2", "ST I_1/3", "ST I_2/2", "ST I_2/3",
         "ST I_3/3", "ST_I", "Thorax_1"},
        {"ECG0", "ECG 2", "ECG2", "ECG", "ECG II", "ECG lead 2", "ECG lead II ", "ECG Lead II", "ECG LeadII",
         "ECG signal 1", "ii", "II ", "II+", "II", "lead II", "ML2", "MLII", "ST2", "ST II_1/2", "ST II_1/3",
         "ST II_2/3", "ST II_3/3", "ST_II", "Thorax_2"},
        {"ECG lead V", "ECG Lead V ", "ECG Lead V", "ECG V1", "ECG V", "ECG V Lead", "lead V", "mod.V1", "ST V_1/2",
         "ST V_1/3", "ST V_2/2", "ST V_2/3", "ST V_3/3", "v1", "V1", "V1-V2", "V ", "V+", "V", "Abdomen_1"},
        {"ECG V2", "MV2 ", "MV2", "v2", "V2", "V2-V3", "Abdomen_2"},
        {"ECG Lead V3", "ECG V3", "v3", "V3", "Abdomen_3"},
        {"ECG Lead V4", "ECG V4", "v4", "V4", "V4-V5", "Abdomen_4"},
        {"ECG lead V5", "ECG Lead V5", "ECG V5", "ML5", "v5", "V5"},
        {"ECG lead V6", "ECG V6", "v6", "V6"}};
    size_t total = 0;
    for (size_t lead = 0; lead < groups.size(); ++lead) {
        for (const char* label : groups[lead]) EXPECT_EQ(MappingLeadText(label), lead) << '"' << label << '"';
        total += groups[lead].size();
    }
    EXPECT_EQ(total, 97u);
    for (const char* label : {"II  ", "MlII", "mlii", "ECG lead II", "ECG Lead V  ", "I  ", "V7", "ECG signal 2",
                              "ECG 0", "", " II", "Abdomen_5", "ii ", "ECG LEAD I", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(MappingLeadText(label), LEAD_NONE) << (label ? label : "null");
    }
    char full[16];  // filled to its last byte without a terminator: read no further
    std::memset(full, 'V', sizeof(full));
    EXPECT_EQ(MappingLeadText(full), LEAD_NONE);
}

TEST(LeadMapping, LowerChannelWinsAndUnknownLabelsFeedNothing) {
    for (int k = 0; k < 8; ++k) EXPECT_EQ(FindMappingLeadIndex(static_cast<ECG_Lead>(k)), -1) << "no header loaded";
    InstallEngineHeader({"MLII", "V5"});
    EXPECT_EQ(Mapping(), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1}));
    InstallEngineHeader({"Resp", "V1", "ii", "MLII", "v1", "I", "ABP", "V6", "V6", "V2", "V3", "V4"});
    EXPECT_EQ(Mapping(), (std::vector<int>{5, 2, 1, 9, 10, 11, -1, 7}));
    EXPECT_EQ(FindMappingLeadIndex(LEAD_NONE), 0) << "Resp and ABP carry no lead";
    InstallEngineHeader({});
    EXPECT_EQ(Mapping(), std::vector<int>(8, -1));
}

TEST(UpdateMappingLead, TakesOnlyTheLeadsOfAWholeCopy) {
    ECG_HEADER* eight = NewECGHeaderAllChannel(500, 10, "x");
    ASSERT_NE(eight, nullptr);
    UpdateMappingLead(eight);  // no engine header yet
    EXPECT_EQ(Mapping(), std::vector<int>(8, -1));

    InstallEngineHeader({"MLII", "V5", "Resp"});
    ECG_HEADER* copy = CopyECGHeader(g_pECGHeader);
    ASSERT_NE(copy, nullptr);
    copy->Channel[0].nLead = LEAD_I;
    copy->Channel[1].nLead = LEAD_NONE;
    copy->Channel[2].nLead = LEAD_V3;
    std::strcpy(copy->Channel[0].szLeadName, "changed");
    copy->nSampleRate = 1;
    UpdateMappingLead(copy);
    EXPECT_EQ(Mapping(), (std::vector<int>{0, -1, -1, -1, 2, -1, -1, -1}));
    EXPECT_STREQ(g_pECGHeader->Channel[0].szLeadName, "MLII") << "labels stay the engine's";
    EXPECT_EQ(g_pECGHeader->nSampleRate, 0);

    InstallEngineHeader({"I", "II", "V1", "V2", "V3", "V4", "V5", "V6", "Resp"});
    const std::vector<int> before = Mapping();
    for (int i = 0; i < 8; ++i) eight->Channel[i].nLead = LEAD_NONE;
    UpdateMappingLead(eight);  // eight entries for a nine-channel engine header
    UpdateMappingLead(nullptr);
    EXPECT_EQ(Mapping(), before);
    EXPECT_EQ(g_pECGHeader->Channel[0].nLead, LEAD_I);
    FreeECGHeader(eight);
    FreeECGHeader(copy);
}

TEST(FreeECGHeader, ReleasesTheWfdbHeaderOnceAndOnlyWhenPresent) {
    SetWFDBHeaderReleaser(FakeRelease);
    FreeECGHeader(nullptr);
    FreeECGHeader(NewECGHeaderAHA(10, "plain"));
    EXPECT_TRUE(g_released.empty());
    auto* wfdb = reinterpret_cast<WFDB_HEADER*>(&g_released);  // any distinct address will do
    ECG_HEADER* header = NewECGHeader(3);
    ASSERT_NE(header, nullptr);
    header->pWFDBHeader = wfdb;
    ECG_HEADER* copy = CopyECGHeader(header);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GetWFDBHeader(copy), wfdb);
    EXPECT_EQ(std::memcmp(copy, header, static_cast<size_t>(CalcECGHeaderSize(3))), 0);
    SetEngineECGHeader(header);
    SetEngineECGHeader(nullptr);  // the engine's block never owns the WFDB header
    EXPECT_TRUE(g_released.empty());
    FreeECGHeader(copy);
    EXPECT_EQ(g_released, std::vector<WFDB_HEADER*>{wfdb});
}
