// Paths, output files and number text of records written by the converters.

#include "wfdb/record_output.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/path_utils.h"

namespace {
constexpr size_t kMaxFolderLength = 255;
constexpr size_t kExtensionLength = 4;  // ".hea" / ".dat"
}  // namespace

bool MakeRecordOutputPaths(const char* filePath, const char* destFolder, RecordOutputPaths& paths) {
    if (filePath == nullptr || destFolder == nullptr) return false;
    // A longer folder would be cut, and the record written somewhere else.
    if (strnlen(destFolder, kMaxFolderLength + 1) > kMaxFolderLength) return false;
    char recordName[16] = {};
    GetRecordName(filePath, recordName);
    if (recordName[0] == '\0' || std::strpbrk(recordName, " \t\r\n\v\f") != nullptr) return false;
    char basePath[kMaxPath] = {};
    std::memcpy(basePath, destFolder, std::strlen(destFolder));
    if (!PathAppend(basePath, recordName) || std::strlen(basePath) + kExtensionLength >= kMaxPath) return false;
    paths.recordName = recordName;
    paths.header = std::string(basePath) + ".hea";
    paths.signal = std::string(basePath) + ".dat";
    return true;
}

bool CRecordOutputFiles::Create(const std::string& headerPath, const std::string& signalPath) {
    return m_header.Create(headerPath) && m_signal.Create(signalPath);
}

bool CRecordOutputFiles::Commit(const std::string& headerText) {
    if (std::fwrite(headerText.data(), 1, headerText.size(), m_header.Stream()) != headerText.size()) return false;
    if (!m_signal.Close() || !m_header.Close() || !m_signal.CanReplace() || !m_header.CanReplace()) return false;
    return m_signal.Commit() && m_header.Commit();
}

std::string FormatGeneral12(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 12);
    return std::string(text, result.ptr);
}

std::string FormatInteger(long long value) {
    char text[24];
    std::snprintf(text, sizeof(text), "%lld", value);
    return text;
}
