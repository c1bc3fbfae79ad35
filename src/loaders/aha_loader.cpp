// AHA records straight into the two-channel store: text lines of two values, or
// 5-byte binary records. Conversion to WFDB is aha2mit's business, not this unit's.

#include "loaders/aha_loader.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/decimal_text.h"
#include "loaders/record_form.h"
#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/text_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_path.h"

namespace {

constexpr uint32_t kAHARate = 250;
constexpr double kUnitsPerMillivolt = 400.0;
constexpr unsigned int kLineBytes = 256;
constexpr unsigned int kRecordBytes = 5;

struct CFileBuffer {
    unsigned char* data = nullptr;
    unsigned int size = 0;
    ~CFileBuffer() { delete[] data; }
    bool Read(const char* path) { return ReadFileBinaryData(path, &data, &size); }
    unsigned char* End() const { return data + size; }
};

bool IsDelimiter(char c) { return c == ',' || c == ' '; }

// The first two fields of line, split at commas and spaces as StringToken splits
// them, read as numbers. False when the line holds fewer than two fields.
bool ParseTwoFields(const char* line, double& first, double& second) {
    const std::string_view text(line);
    std::string_view fields[2];
    size_t at = 0;
    for (std::string_view& field : fields) {
        while (at < text.size() && IsDelimiter(text[at])) ++at;
        if (at == text.size()) return false;
        const size_t start = at;
        while (at < text.size() && !IsDelimiter(text[at])) ++at;
        field = text.substr(start, at - start);
    }
    first = ParseLeadingDouble(fields[0]);
    second = ParseLeadingDouble(fields[1]);
    return true;
}

}  // namespace

ECG_HEADER* DoLoadDatabaseAHAFormatTxt(const char* path) {
    CFileBuffer file;
    if (!file.Read(path)) return nullptr;

    char line[kLineBytes];
    int64_t lines = 0;
    for (unsigned char* cursor = file.data; ReadTextLine(cursor, file.End(), line, kLineBytes);) ++lines;
    if (lines > INT_MAX) return nullptr;

    g_nSampleRate = kAHARate;
    g_nSampleCount = lines;
    if (!ReallocateECGDataBuffer(2)) return nullptr;

    // Lines without two fields were counted: the store keeps a zero at its end for each.
    int64_t s = 0;
    for (unsigned char* cursor = file.data; s < lines && ReadTextLine(cursor, file.End(), line, kLineBytes);) {
        double lead0 = 0.0;
        double lead1 = 0.0;
        if (!ParseTwoFields(line, lead0, lead1)) continue;
        g_pECGData[0][s] = lead0 / kUnitsPerMillivolt;
        g_pECGData[1][s] = lead1 / kUnitsPerMillivolt;
        ++s;
    }
    return NewECGHeaderAHA(static_cast<int>(lines), GetRecordBaseName(path));
}

ECG_HEADER* DoLoadDatabaseAHAFormatECG(const char* path) {
    CFileBuffer file;
    if (!file.Read(path)) return nullptr;

    // A trailing part of a record is ignored.
    const int64_t records = file.size / kRecordBytes;
    g_nSampleCount = records;
    g_nSampleRate = kAHARate;
    if (records > INT_MAX || !ReallocateECGDataBuffer(2)) return nullptr;

    const unsigned char* r = file.data;
    for (int64_t s = 0; s < records; ++s, r += kRecordBytes) {
        g_pECGData[0][s] = ToInt16(r[0] + 256 * r[1]) / kUnitsPerMillivolt;
        g_pECGData[1][s] = ToInt16(r[2] + 256 * r[3]) / kUnitsPerMillivolt;
    }
    return NewECGHeaderAHA(static_cast<int>(records), GetRecordBaseName(path));
}

ECG_HEADER* LoadDatabaseAHA(const char* path) {
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    CSignalReplacement replacement;
    g_WaveformType = WaveformAHA;
    if (path == nullptr) return nullptr;
    // Text is tried first, so a path that holds both forms loads as text.
    if (PathContainsNoCase(path, ".txt")) return replacement.CommitIf(DoLoadDatabaseAHAFormatTxt(path));
    if (PathContainsNoCase(path, ".ecg")) return replacement.CommitIf(DoLoadDatabaseAHAFormatECG(path));
    return nullptr;
}
