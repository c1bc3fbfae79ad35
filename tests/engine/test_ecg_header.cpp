// Header blocks, the label table and the lead mapping.

#include "engine/ecg_header.h"

#include <cstring>
#include <string>

#include "store_setup.h"

namespace {

std::vector<WFDB_HEADER*> g_released;
void FakeRelease(WFDB_HEADER* header) { g_released.push_back(header); }

std::vector<int> Mapping() { return std::vector<int>(g_ECGMappingLead, g_ECGMappingLead + 8); }

// The mapping of an engine header whose channels carry the given labels, mapped through the table.
std::vector<int> MappingOf(const std::vector<std::string>& labels) {
    ECG_HEADER* header = NewECGHeader(static_cast<int>(labels.size()));
    for (size_t i = 0; i < labels.size(); ++i)
        header->Channel[i].nLead = MappingLeadText(std::strcpy(header->Channel[i].szLeadName, labels[i].c_str()));
    SetEngineECGHeader(header);
    UpdateMITMappingLeadIndex();
    return Mapping();
}

// Name, counts, then label and lead of each channel: "ECG 1/0,ECG 2/1".
std::string Describe(const ECG_HEADER* h) {
    std::string text = std::string(h->szRecordName) + " " + std::to_string(h->nSignals) + " " + std::to_string(h->nSampleRate) + " " +
                       std::to_string(h->nSampleCount);
    for (int i = 0; i < h->nSignals; ++i) text += (i ? "," : " ") + std::string(h->Channel[i].szLeadName) + "/" + std::to_string(h->Channel[i].nLead);
    return text;
}

}  // namespace

// Matching is byte for byte: trailing blanks and case count, and nothing past 16 bytes is read.
TEST(MappingLeadText, ExactLabelsGiveTheirLeadAndNearMissesNone) {
    char full[16];  // filled to its last byte without a terminator
    std::memset(full, 'V', sizeof(full));
    struct Case { const char* label; ECG_Lead lead; };
    for (const Case& c : {Case{"ECG signal 0", LEAD_I}, {"I ", LEAD_I}, {"MCL1 ", LEAD_I}, {"Thorax_1", LEAD_I}, {"ECG0", LEAD_II},
                          {"ECG lead II ", LEAD_II}, {"II ", LEAD_II}, {"MLII", LEAD_II}, {"ECG Lead V ", LEAD_V1}, {"v1", LEAD_V1},
                          {"V1", LEAD_V1}, {"V ", LEAD_V1}, {"MV2 ", LEAD_V2}, {"Abdomen_3", LEAD_V3}, {"V4-V5", LEAD_V4}, {"ML5", LEAD_V5},
                          {"ECG lead V6", LEAD_V6}, {"II  ", LEAD_NONE}, {"MlII", LEAD_NONE}, {"ECG lead II", LEAD_NONE}, {"V7", LEAD_NONE},
                          {"ECG 0", LEAD_NONE}, {"", LEAD_NONE}, {" II", LEAD_NONE}, {"Abdomen_5", LEAD_NONE}, {nullptr, LEAD_NONE},
                          {full, LEAD_NONE}})
        EXPECT_EQ(MappingLeadText(c.label), c.lead) << '"' << (c.label ? std::string(c.label, strnlen(c.label, 16)) : "null") << '"';
}

// The lower channel wins a lead; the application's copy changes the leads and nothing else,
// and a copy with fewer channels than the engine's, or no engine header, changes nothing.
// The copy owns the WFDB header: the engine's block, replaced, never releases it.
TEST(LeadMapping, FollowsTheLabelsThenTheApplicationsLeads) {
    SetWFDBHeaderReleaser(FakeRelease);
    auto* wfdb = reinterpret_cast<WFDB_HEADER*>(&g_released);  // any distinct address will do
    ECG_HEADER* eight = NewECGHeaderAllChannel(500, 10, "sixteen_chars_xx");  // a name that does not fit is left out
    EXPECT_TRUE(NewECGHeader(-1) == nullptr && NewECGHeader(200000000) == nullptr) << "64 + 20 x n bytes must fit the int it travels in";
    UpdateMappingLead(eight);
    EXPECT_EQ(std::pair(Mapping(), FindMappingLeadIndex(LEAD_I)), std::pair(std::vector<int>(8, -1), -1));
    EXPECT_EQ(Describe(eight), " 8 500 10 ECG 1/0,ECG 2/1,ECG V1/2,ECG V2/3,ECG V3/4,ECG V4/5,ECG V5/6,ECG V6/7");
    EXPECT_EQ(MappingOf({"MLII", "V5", "Resp"}), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1}));
    g_pECGHeader->pWFDBHeader = wfdb;
    ECG_HEADER* copy = CopyECGHeader(g_pECGHeader);
    ASSERT_NE(copy, nullptr);
    std::tie(copy->Channel[0].nLead, copy->Channel[1].nLead, copy->Channel[2].nLead, copy->nSampleRate) = std::tuple(LEAD_I, LEAD_NONE, LEAD_V3, 1);
    std::strcpy(copy->Channel[0].szLeadName, "changed");
    UpdateMappingLead(copy);
    EXPECT_EQ(Mapping(), (std::vector<int>{0, -1, -1, -1, 2, -1, -1, -1}));
    EXPECT_EQ(Describe(g_pECGHeader), " 3 0 0 MLII/0,V5/8,Resp/4");
    const std::vector<int> twelve{5, 2, 1, 9, 10, 11, -1, 7};
    EXPECT_EQ(MappingOf({"Resp", "V1", "ii", "MLII", "v1", "I", "ABP", "V6", "V6", "V2", "V3", "V4"}), twelve);
    UpdateMappingLead(eight);
    UpdateMappingLead(nullptr);
    EXPECT_EQ(std::pair(Mapping(), FindMappingLeadIndex(LEAD_NONE)), std::pair(twelve, 0)) << "Resp and ABP carry no lead";
    EXPECT_EQ(MappingOf({}), std::vector<int>(8, -1));
    EXPECT_TRUE(g_released.empty());
    for (ECG_HEADER* header : {eight, copy, static_cast<ECG_HEADER*>(nullptr)}) FreeECGHeader(header);
    EXPECT_EQ(g_released, std::vector<WFDB_HEADER*>{wfdb});
}
