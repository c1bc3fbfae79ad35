// Record headers handed between loaders, the application and the engine, and the
// lead mapping the raw-frame builders consult for every output sample.

#include "engine/ecg_header.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/text_utils.h"

static_assert(offsetof(ECG_HEADER, nSignals) == 16 && offsetof(ECG_HEADER, pWFDBHeader) == 28 &&
                  offsetof(ECG_HEADER, Channel) == 44,
              "the header layout is shared with the application");
static_assert(sizeof(ECG_HEADER) == 64 && sizeof(ECG_CHANNEL) == 20, "64 + 20 x n bytes");

ECG_HEADER* g_pECGHeader = nullptr;
int g_ECGMappingLead[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

namespace {

constexpr int kOutputLeads = 8;
// Keeps 64 + 20 x n within an int, the type the size travels in.
constexpr int kMaxHeaderSignals = (INT_MAX - 64) / 20;

void (*g_pfnReleaseWFDBHeader)(WFDB_HEADER*) = nullptr;

struct LeadLabel {
    char szLabel[16];
    ECG_Lead nLead;
};

// Labels met in public records. Matching is exact, so the entries with a trailing
// blank are distinct labels, not typing slips.
constexpr LeadLabel kLeadLabels[] = {
    {"ECG 1", LEAD_I},          {"ECG1", LEAD_I},          {"ECG [ECG1]", LEAD_I},     {"ECG I", LEAD_I},
    {"ECG lead 1", LEAD_I},     {"ECG lead I", LEAD_I},    {"ECG Lead I", LEAD_I},     {"ECG signal 0", LEAD_I},
    {"i", LEAD_I},              {"I ", LEAD_I},            {"I+", LEAD_I},             {"I", LEAD_I},
    {"lead I", LEAD_I},         {"MCL1 ", LEAD_I},         {"MCL1+", LEAD_I},          {"MCL1", LEAD_I},
    {"MLI", LEAD_I},            {"ST1", LEAD_I},           {"ST I_1/2", LEAD_I},       {"ST I_1/3", LEAD_I},
    {"ST I_2/2", LEAD_I},       {"ST I_2/3", LEAD_I},      {"ST I_3/3", LEAD_I},       {"ST_I", LEAD_I},
    {"Thorax_1", LEAD_I},

    {"ECG0", LEAD_II},          {"ECG 2", LEAD_II},        {"ECG2", LEAD_II},          {"ECG", LEAD_II},
    {"ECG II", LEAD_II},        {"ECG lead 2", LEAD_II},   {"ECG lead II ", LEAD_II},  {"ECG Lead II", LEAD_II},
    {"ECG LeadII", LEAD_II},    {"ECG signal 1", LEAD_II}, {"ii", LEAD_II},            {"II ", LEAD_II},
    {"II+", LEAD_II},           {"II", LEAD_II},           {"lead II", LEAD_II},       {"ML2", LEAD_II},
    {"MLII", LEAD_II},          {"ST2", LEAD_II},          {"ST II_1/2", LEAD_II},     {"ST II_1/3", LEAD_II},
    {"ST II_2/3", LEAD_II},     {"ST II_3/3", LEAD_II},    {"ST_II", LEAD_II},         {"Thorax_2", LEAD_II},

    {"ECG lead V", LEAD_V1},    {"ECG Lead V ", LEAD_V1},  {"ECG Lead V", LEAD_V1},    {"ECG V1", LEAD_V1},
    {"ECG V", LEAD_V1},         {"ECG V Lead", LEAD_V1},   {"lead V", LEAD_V1},        {"mod.V1", LEAD_V1},
    {"ST V_1/2", LEAD_V1},      {"ST V_1/3", LEAD_V1},     {"ST V_2/2", LEAD_V1},      {"ST V_2/3", LEAD_V1},
    {"ST V_3/3", LEAD_V1},      {"v1", LEAD_V1},           {"V1", LEAD_V1},            {"V1-V2", LEAD_V1},
    {"V ", LEAD_V1},            {"V+", LEAD_V1},           {"V", LEAD_V1},             {"Abdomen_1", LEAD_V1},

    {"ECG V2", LEAD_V2},        {"MV2 ", LEAD_V2},         {"MV2", LEAD_V2},           {"v2", LEAD_V2},
    {"V2", LEAD_V2},            {"V2-V3", LEAD_V2},        {"Abdomen_2", LEAD_V2},

    {"ECG Lead V3", LEAD_V3},   {"ECG V3", LEAD_V3},       {"v3", LEAD_V3},            {"V3", LEAD_V3},
    {"Abdomen_3", LEAD_V3},

    {"ECG Lead V4", LEAD_V4},   {"ECG V4", LEAD_V4},       {"v4", LEAD_V4},            {"V4", LEAD_V4},
    {"V4-V5", LEAD_V4},         {"Abdomen_4", LEAD_V4},

    {"ECG lead V5", LEAD_V5},   {"ECG Lead V5", LEAD_V5},  {"ECG V5", LEAD_V5},        {"ML5", LEAD_V5},
    {"v5", LEAD_V5},            {"V5", LEAD_V5},

    {"ECG lead V6", LEAD_V6},   {"ECG V6", LEAD_V6},       {"v6", LEAD_V6},            {"V6", LEAD_V6},
};
static_assert(sizeof(kLeadLabels) / sizeof(kLeadLabels[0]) == 97, "the label table holds 97 entries");

ECG_HEADER* NewNamedHeader(int nSignals, int nSampleRate, int nSampleCount, const std::string& name) {
    ECG_HEADER* header = NewECGHeader(nSignals);
    if (header == nullptr) return nullptr;
    // Whole or nothing: a name that does not fit leaves the field empty.
    strncpy_s(header->szRecordName, sizeof(header->szRecordName), name.c_str(), kCopyWhole);
    header->nSampleRate = nSampleRate;
    header->nSampleCount = nSampleCount;
    return header;
}

void SetChannel(ECG_HEADER* header, int index, const char* label, ECG_Lead lead) {
    strncpy_s(header->Channel[index].szLeadName, sizeof(header->Channel[index].szLeadName), label, kCopyWhole);
    header->Channel[index].nLead = lead;
}

}  // namespace

int CalcECGHeaderSize(int nSignals) { return 64 + 20 * nSignals; }

ECG_HEADER* NewECGHeader(int nSignals) {
    if (nSignals < 0 || nSignals > kMaxHeaderSignals) return nullptr;
    // Plain zeroed memory: the application hands the block back to FreeECGHeader, which uses free.
    auto* header = static_cast<ECG_HEADER*>(std::calloc(1, static_cast<size_t>(CalcECGHeaderSize(nSignals))));
    if (header != nullptr) header->nSignals = nSignals;
    return header;
}

ECG_HEADER* CopyECGHeader(const ECG_HEADER* header) {
    if (header == nullptr || header->nSignals < 0 || header->nSignals > kMaxHeaderSignals) return nullptr;
    const size_t size = static_cast<size_t>(CalcECGHeaderSize(header->nSignals));
    auto* copy = static_cast<ECG_HEADER*>(std::malloc(size));
    if (copy != nullptr) std::memcpy(copy, header, size);
    return copy;
}

ECG_HEADER* NewECGHeaderAHA(int nSampleCount, const std::string& name) {
    ECG_HEADER* header = NewNamedHeader(2, 250, nSampleCount, name);
    if (header == nullptr) return nullptr;
    SetChannel(header, 0, "ECG 1", LEAD_I);
    SetChannel(header, 1, "ECG 2", LEAD_II);
    return header;
}

ECG_HEADER* NewECGHeaderAllChannel(int nSampleRate, int nSampleCount, const std::string& name) {
    ECG_HEADER* header = NewNamedHeader(8, nSampleRate, nSampleCount, name);
    if (header == nullptr) return nullptr;
    static const char* const kLabels[8] = {"ECG 1",  "ECG 2",  "ECG V1", "ECG V2",
                                           "ECG V3", "ECG V4", "ECG V5", "ECG V6"};
    for (int i = 0; i < 8; ++i) SetChannel(header, i, kLabels[i], static_cast<ECG_Lead>(LEAD_I + i));
    return header;
}

WFDB_HEADER* GetWFDBHeader(ECG_HEADER* header) { return header == nullptr ? nullptr : header->pWFDBHeader; }

void FreeECGHeader(ECG_HEADER* header) {
    if (header == nullptr) return;
    if (header->pWFDBHeader != nullptr && g_pfnReleaseWFDBHeader != nullptr) g_pfnReleaseWFDBHeader(header->pWFDBHeader);
    std::free(header);
}

void SetWFDBHeaderReleaser(void (*release)(WFDB_HEADER*)) { g_pfnReleaseWFDBHeader = release; }

void SetEngineECGHeader(ECG_HEADER* header) {
    std::free(g_pECGHeader);
    g_pECGHeader = header;
}

ECG_Lead MappingLeadText(const char* label) {
    if (label == nullptr) return LEAD_NONE;
    for (const LeadLabel& entry : kLeadLabels) {
        // Bounded by the label size: every entry ends within its 16 bytes.
        if (std::strncmp(label, entry.szLabel, sizeof(entry.szLabel)) == 0) return entry.nLead;
    }
    return LEAD_NONE;
}

int FindMappingLeadIndex(ECG_Lead lead) {
    if (g_pECGHeader == nullptr) return -1;
    for (int i = 0; i < g_pECGHeader->nSignals; ++i) {
        if (g_pECGHeader->Channel[i].nLead == lead) return i;
    }
    return -1;
}

void UpdateMITMappingLeadIndex() {
    for (int k = 0; k < kOutputLeads; ++k) g_ECGMappingLead[k] = FindMappingLeadIndex(static_cast<ECG_Lead>(k));
}

void UpdateMappingLead(ECG_HEADER* header) {
    if (header == nullptr || g_pECGHeader == nullptr) return;
    // A header with fewer entries would be read past its end.
    if (header->nSignals < g_pECGHeader->nSignals) return;
    for (int i = 0; i < g_pECGHeader->nSignals; ++i) g_pECGHeader->Channel[i].nLead = header->Channel[i].nLead;
    UpdateMITMappingLeadIndex();
}
