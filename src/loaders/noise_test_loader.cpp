// Noise-test records: the noise stress test writes a temporary WFDB record, which is
// loaded like any MIT record and deleted again before the call returns.
//
// The temporary record lives in a private directory made with mkdtemp, so that two
// processes (or a planted file or link) cannot meet under the fixed temporary name.
// The loaded header keeps the signal file open; it stays readable once unlinked.

#include "loaders/noise_test_loader.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "loaders/mit_loader.h"
#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"

namespace {

// The base name of the temporary record inside a private directory; the directory
// and both record files are removed when the owner goes.
class CTemporaryRecord {
public:
    CTemporaryRecord() {
        char tempPath[kMaxPath] = {};
        if (GetTempPath(sizeof(tempPath), tempPath) == 0) return;
        // The process id in the name lets a test find what its own process left behind.
        std::string pattern = std::string(tempPath) + "/tavo-nst-" + FormatPid() + "-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) return;
        m_directory = buffer.data();
        char name[kMaxPath] = {};
        if (GetTempFileName(m_directory.c_str(), "tavo", 0, name) == 0) return;
        m_base = name;
        // Cut at a '.' of the file name only; the directory part keeps its dots.
        const size_t slash = m_base.rfind('/');
        const size_t dot = m_base.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) m_base.erase(dot);
    }
    ~CTemporaryRecord() {
        if (!m_base.empty()) {
            DeleteFile(HeaderPath().c_str());
            DeleteFile((m_base + ".dat").c_str());
        }
        if (!m_directory.empty()) rmdir(m_directory.c_str());
    }
    CTemporaryRecord(const CTemporaryRecord&) = delete;
    CTemporaryRecord& operator=(const CTemporaryRecord&) = delete;

    bool IsReady() const { return !m_base.empty(); }
    // A writable copy: the noise-test entry points take char*.
    std::vector<char> Base() const { return std::vector<char>(m_base.c_str(), m_base.c_str() + m_base.size() + 1); }
    std::string HeaderPath() const { return m_base + ".hea"; }

private:
    static std::string FormatPid() {
        char text[24];
        std::snprintf(text, sizeof(text), "%ld", static_cast<long>(getpid()));
        return text;
    }

    std::string m_directory;
    std::string m_base;
};

std::vector<char> WritableCopy(const char* text) {
    if (text == nullptr) return {};
    return std::vector<char>(text, text + std::strlen(text) + 1);
}

char* DataOrNull(std::vector<char>& text) { return text.empty() ? nullptr : text.data(); }

// Runs writeRecord(base) under the engine lock, then loads the record it wrote.
template <class WriteRecord>
ECG_HEADER* LoadNoiseTestRecord(WriteRecord writeRecord) {
    CTemporaryRecord record;
    if (!record.IsReady()) return nullptr;
    StopOutput();
    {
        CAutoCriticalSection lock(g_CriticalSection);
        std::vector<char> base = record.Base();
        if (!writeRecord(base.data())) return nullptr;
    }
    ECG_HEADER* header = LoadMITHeader(record.HeaderPath().c_str());
    if (header == nullptr) return nullptr;
    if (LoadMITDatabase(header) == 0) {
        FreeECGHeader(header);
        return nullptr;
    }
    return header;
}

}  // namespace

TAVO_API ECG_HEADER* LoadDatabaseNoiseTest(const char* signal, const char* noise, int snr) {
    try {
        std::vector<char> signalPath = WritableCopy(signal);
        std::vector<char> noisePath = WritableCopy(noise);
        return LoadNoiseTestRecord([&](char* base) {
            return WFDBNoiseTest(DataOrNull(signalPath), DataOrNull(noisePath), base, snr);
        });
    } catch (...) {
        return nullptr;
    }
}

TAVO_API ECG_HEADER* LoadDatabaseNoiseTest() {
    try {
        return LoadNoiseTestRecord([](char* base) { return WFDBNoiseTestExOutput(base); });
    } catch (...) {
        return nullptr;
    }
}
