#pragma once
// Helpers of the loader tests: headers held by an owner, a look at the engine's
// store, and a working directory changed for one test.

#include <memory>
#include <string>
#include <vector>

#include "tavo/tavo.h"

struct EcgHeaderDeleter {
    void operator()(ECG_HEADER* header) const;
};
// Released with FreeECGHeader, which also releases its WFDB header.
using CEcgHeaderPtr = std::unique_ptr<ECG_HEADER, EcgHeaderDeleter>;

// A copy of channel's samples in the store (g_nSampleCount of them); empty when absent.
std::vector<double> StoreChannel(int channel);

// The labels and leads of a header's channels.
std::vector<std::string> HeaderLabels(const ECG_HEADER* header);
std::vector<int> HeaderLeads(const ECG_HEADER* header);
std::vector<int> MappingTable();

// Descriptors open in this process (for leak checks around a load and release).
int OpenDescriptorCount();

// Changes the working directory for the owner's lifetime.
class CWorkingDirectory {
public:
    explicit CWorkingDirectory(const std::string& path);
    ~CWorkingDirectory();
    CWorkingDirectory(const CWorkingDirectory&) = delete;
    CWorkingDirectory& operator=(const CWorkingDirectory&) = delete;

private:
    std::string m_previous;
};
