// Helpers of the loader tests.

#include "loaders/loader_test_support.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"

void EcgHeaderDeleter::operator()(ECG_HEADER* header) const { FreeECGHeader(header); }

std::vector<double> StoreChannel(int channel) {
    if (g_pECGData == nullptr || channel < 0 || channel >= g_iECGSignalNumber || g_pECGData[channel] == nullptr) {
        return {};
    }
    return std::vector<double>(g_pECGData[channel], g_pECGData[channel] + g_nSampleCount);
}

std::vector<std::string> HeaderLabels(const ECG_HEADER* header) {
    std::vector<std::string> labels;
    for (int i = 0; i < header->nSignals; ++i) labels.emplace_back(header->Channel[i].szLeadName);
    return labels;
}

std::vector<int> HeaderLeads(const ECG_HEADER* header) {
    std::vector<int> leads;
    for (int i = 0; i < header->nSignals; ++i) leads.push_back(header->Channel[i].nLead);
    return leads;
}

std::vector<int> MappingTable() { return std::vector<int>(g_ECGMappingLead, g_ECGMappingLead + 8); }

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

CWorkingDirectory::CWorkingDirectory(const std::string& path) {
    m_previous = std::filesystem::current_path().string();
    if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed");
}

CWorkingDirectory::~CWorkingDirectory() {
    if (chdir(m_previous.c_str()) != 0) return;  // nothing more a destructor can do
}
