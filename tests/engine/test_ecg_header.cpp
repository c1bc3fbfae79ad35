// Header blocks, the label table and the lead mapping.

#include "engine/ecg_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

bool AllZero(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

}  // namespace

TEST(EcgHeader, SizeIsSixtyFourPlusTwentyPerChannel) {
    EXPECT_EQ(CalcECGHeaderSize(0), 64);
    EXPECT_EQ(CalcECGHeaderSize(2), 104);
    EXPECT_EQ(CalcECGHeaderSize(8), 224);
    EXPECT_EQ(NewECGHeader(-1), nullptr);
    EXPECT_EQ(NewECGHeader(200000000), nullptr) << "64 + 20 x n must fit the int it travels in";
}

TEST(EcgHeader, AhaHeaderHoldsTwoLimbChannelsAndZeroElsewhere) {
    ECG_HEADER* header = NewECGHeaderAHA(1800, "aha1201");
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "aha1201");
    EXPECT_EQ(header->nSignals, 2);
    EXPECT_EQ(header->nSampleRate, 250);
    EXPECT_EQ(header->nSampleCount, 1800);
    EXPECT_EQ(GetWFDBHeader(header), nullptr);
    EXPECT_STREQ(header->Channel[0].szLeadName, "ECG 1");
    EXPECT_EQ(header->Channel[0].nLead, LEAD_I);
    EXPECT_STREQ(header->Channel[1].szLeadName, "ECG 2");
    EXPECT_EQ(header->Channel[1].nLead, LEAD_II);
    const auto* bytes = reinterpret_cast<const unsigned char*>(header);
    EXPECT_TRUE(AllZero(bytes + 28, 16)) << "pointer and reserved bytes";
    EXPECT_TRUE(AllZero(bytes + 84, 20)) << "the spare channel slot";
    EXPECT_TRUE(AllZero(bytes + 44 + 6, 10)) << "label tail after \"ECG 1\"";
    FreeECGHeader(header);
}

TEST(EcgHeader, AllChannelHeaderHoldsTheFixedEightChannelOrder) {
    ECG_HEADER* header = NewECGHeaderAllChannel(500, 5000, "MA1_001");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSignals, 8);
    EXPECT_EQ(header->nSampleRate, 500);
    EXPECT_EQ(header->nSampleCount, 5000);
    const char* labels[8] = {"ECG 1", "ECG 2", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"};
    const ECG_Lead leads[8] = {LEAD_I, LEAD_II, LEAD_V1, LEAD_V2, LEAD_V3, LEAD_V4, LEAD_V5, LEAD_V6};
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(header->Channel[i].szLeadName, labels[i]);
        EXPECT_EQ(header->Channel[i].nLead, leads[i]);
    }
    EXPECT_TRUE(AllZero(reinterpret_cast<const unsigned char*>(header) + 204, 20)) << "the spare channel slot";
    FreeECGHeader(header);
}

TEST(EcgHeader, RecordNameIsCopiedWholeOrNotAtAll) {
    ECG_HEADER* fits = NewECGHeaderAHA(1, "fifteen_chars_x");
    ECG_HEADER* tooLong = NewECGHeaderAllChannel(500, 1, "sixteen_chars_xx");
    ASSERT_NE(fits, nullptr);
    ASSERT_NE(tooLong, nullptr);
    EXPECT_STREQ(fits->szRecordName, "fifteen_chars_x");
    EXPECT_STREQ(tooLong->szRecordName, "");
    EXPECT_EQ(tooLong->nSignals, 8) << "the rest of the header is still built";
    FreeECGHeader(fits);
    FreeECGHeader(tooLong);
}

// The documented label list, grouped by lead.
TEST(MappingLeadText, EveryListedLabelGivesItsLead) {
    struct Group {
        ECG_Lead lead;
        std::vector<const char*> labels;
    };
    const std::vector<Group> groups = {
        {LEAD_I, {"ECG 1", "ECG1", "ECG [ECG1]", "ECG I", "ECG lead 1", "ECG lead I", "ECG Lead I", "ECG signal 0",
                  "i", "I ", "I+", "I", "lead I", "MCL1 ", "MCL1+", "MCL1", "MLI", "ST1", "ST I_1/2", "ST I_1/3",
                  "ST I_2/2", "ST I_2/3", "ST I_3/3", "ST_I", "Thorax_1"}},
        {LEAD_II, {"ECG0", "ECG 2", "ECG2", "ECG", "ECG II", "ECG lead 2", "ECG lead II ", "ECG Lead II",
                   "ECG LeadII", "ECG signal 1", "ii", "II ", "II+", "II", "lead II", "ML2", "MLII", "ST2",
                   "ST II_1/2", "ST II_1/3", "ST II_2/3", "ST II_3/3", "ST_II", "Thorax_2"}},
        {LEAD_V1, {"ECG lead V", "ECG Lead V ", "ECG Lead V", "ECG V1", "ECG V", "ECG V Lead", "lead V", "mod.V1",
                   "ST V_1/2", "ST V_1/3", "ST V_2/2", "ST V_2/3", "ST V_3/3", "v1", "V1", "V1-V2", "V ", "V+", "V",
                   "Abdomen_1"}},
        {LEAD_V2, {"ECG V2", "MV2 ", "MV2", "v2", "V2", "V2-V3", "Abdomen_2"}},
        {LEAD_V3, {"ECG Lead V3", "ECG V3", "v3", "V3", "Abdomen_3"}},
        {LEAD_V4, {"ECG Lead V4", "ECG V4", "v4", "V4", "V4-V5", "Abdomen_4"}},
        {LEAD_V5, {"ECG lead V5", "ECG Lead V5", "ECG V5", "ML5", "v5", "V5"}},
        {LEAD_V6, {"ECG lead V6", "ECG V6", "v6", "V6"}},
    };
    size_t total = 0;
    for (const Group& group : groups) {
        for (const char* label : group.labels) EXPECT_EQ(MappingLeadText(label), group.lead) << '"' << label << '"';
        total += group.labels.size();
    }
    EXPECT_EQ(total, 97u);
}

TEST(MappingLeadText, NearMissesFeedNoOutput) {
    for (const char* label : {"II  ", "MlII", "mlii", "ECG lead II", "ECG Lead V  ", "I  ", "V7", "ECG signal 2",
                              "ECG 0", "", " II", "Abdomen_5", "ii ", "ECG LEAD I"}) {
        EXPECT_EQ(MappingLeadText(label), LEAD_NONE) << '"' << label << '"';
    }
    EXPECT_EQ(MappingLeadText(nullptr), LEAD_NONE);
    // A label field filled to its last byte, without a terminator, is read no further.
    char full[16];
    std::memset(full, 'V', sizeof(full));
    EXPECT_EQ(MappingLeadText(full), LEAD_NONE);
}

TEST(LeadMapping, MliiAndV5FeedLeadIIAndV5) {
    InstallEngineHeader({"MLII", "V5"});
    EXPECT_EQ(Mapping(), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1}));
}

TEST(LeadMapping, LowerChannelWinsAndUnknownLabelsFeedNothing) {
    InstallEngineHeader({"Resp", "V1", "ii", "MLII", "v1", "I", "ABP", "V6", "V6", "V2", "V3", "V4"});
    EXPECT_EQ(Mapping(), (std::vector<int>{5, 2, 1, 9, 10, 11, -1, 7}));
    EXPECT_EQ(FindMappingLeadIndex(LEAD_NONE), 0) << "Resp and ABP carry no lead";
}

TEST(LeadMapping, NoHeaderOrNoChannelsGivesMinusOneEverywhere) {
    for (int k = 0; k < 8; ++k) EXPECT_EQ(FindMappingLeadIndex(static_cast<ECG_Lead>(k)), -1) << "no header loaded";
    InstallEngineHeader({"MLII", "V5"});
    InstallEngineHeader({});
    EXPECT_EQ(Mapping(), std::vector<int>(8, -1));
}

TEST(UpdateMappingLead, TakesOnlyTheLeadsOfTheCallersCopy) {
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
    FreeECGHeader(copy);
}

TEST(UpdateMappingLead, IgnoresShortCopiesAndAMissingEngineHeader) {
    ECG_HEADER* caller = NewECGHeaderAllChannel(500, 10, "x");
    ASSERT_NE(caller, nullptr);
    UpdateMappingLead(caller);  // no engine header yet
    EXPECT_EQ(Mapping(), std::vector<int>(8, -1));

    InstallEngineHeader({"I", "II", "V1", "V2", "V3", "V4", "V5", "V6", "Resp"});
    const std::vector<int> before = Mapping();
    for (int i = 0; i < 8; ++i) caller->Channel[i].nLead = LEAD_NONE;
    UpdateMappingLead(caller);  // eight entries for a nine-channel engine header
    EXPECT_EQ(Mapping(), before);
    EXPECT_EQ(g_pECGHeader->Channel[0].nLead, LEAD_I);
    UpdateMappingLead(nullptr);
    EXPECT_EQ(Mapping(), before);
    FreeECGHeader(caller);
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
    ASSERT_EQ(g_released.size(), 1u);
    EXPECT_EQ(g_released[0], wfdb);
}
