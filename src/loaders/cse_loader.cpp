// CSE records into the fixed eight-channel store, from DCD files (16-bit big-endian
// groups after a 3000-byte head) or from text lines of twelve values.

#include "loaders/cse_loader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "loaders/record_form.h"
#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/text_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_path.h"

namespace {

constexpr uint32_t kCSERate = 500;
constexpr int kChannels = 8;
constexpr double kMicrovoltsPerMillivolt = 1000.0;

constexpr unsigned int kMinimumDCDBytes = 41;
constexpr size_t kCountOffset = 36;
constexpr size_t kCountChars = 4;
constexpr int64_t kGroupsOffset = 3000;
constexpr int64_t kFrameBytes = 6;  // three 16-bit samples
constexpr int64_t kGroups = 4;      // A (I, II), B (unused), C (V1-V3), D (V4-V6)

constexpr int kTextLineBytes = 1024;
constexpr int kTextFields = 12;
// Text fields of channels 0-7: I, II, then V1-V6 after four unused values.
constexpr int kTextFieldOfChannel[kChannels] = {0, 1, 6, 7, 8, 9, 10, 11};

struct CFileBuffer {
    unsigned char* data = nullptr;
    unsigned int size = 0;
    ~CFileBuffer() { delete[] data; }
};

// The four characters at offset 36 as atoi reads them, without looking past them.
int64_t ReadDCDCount(const unsigned char* field) {
    size_t at = 0;
    while (at < kCountChars && (field[at] == ' ' || (field[at] >= '\t' && field[at] <= '\r'))) ++at;
    bool isNegative = false;
    if (at < kCountChars && (field[at] == '+' || field[at] == '-')) isNegative = field[at++] == '-';
    int64_t value = 0;
    for (; at < kCountChars && field[at] >= '0' && field[at] <= '9'; ++at) value = value * 10 + (field[at] - '0');
    return isNegative ? -value : value;
}

double BigEndianSample(const unsigned char* bytes) {
    return ToInt16(256 * bytes[0] + bytes[1]) / kMicrovoltsPerMillivolt;
}

// Non-empty lines before the first empty one (after trimming) or the end.
int64_t CountTextLines(FILE* file) {
    char line[kTextLineBytes];
    int64_t count = 0;
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        StringTrim(line);
        if (line[0] == '\0') break;
        ++count;
    }
    return count;
}

}  // namespace

ECG_HEADER* LoadDatabaseCSE(const char* path) {
    return PathContainsNoCase(path, ".dcd") ? LoadDatabaseCSEInDCDFmt(path) : LoadDatabaseCSEInTxtFmt(path);
}

ECG_HEADER* LoadDatabaseCSEInDCDFmt(const char* path) {
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    CSignalReplacement replacement;
    CFileBuffer file;
    if (path == nullptr || !ReadFileBinaryData(path, &file.data, &file.size)) return nullptr;
    if (file.size < kMinimumDCDBytes) return nullptr;

    // Four digits cannot overflow, but a sign can make the count negative.
    const int64_t n = ReadDCDCount(file.data + kCountOffset);
    if (n < 0 || kGroupsOffset + kGroups * kFrameBytes * n >= static_cast<int64_t>(file.size)) return nullptr;

    g_WaveformType = WaveformFixedChannels;
    g_nSampleRate = kCSERate;
    g_nSampleCount = n;
    if (!ReallocateECGDataBuffer(kChannels)) return nullptr;

    const unsigned char* groupA = file.data + kGroupsOffset;
    const unsigned char* groupC = groupA + 2 * kFrameBytes * n;
    const unsigned char* groupD = groupA + 3 * kFrameBytes * n;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t frame = kFrameBytes * k;
        g_pECGData[0][k] = BigEndianSample(groupA + frame);
        g_pECGData[1][k] = BigEndianSample(groupA + frame + 2);
        for (int i = 0; i < 3; ++i) {
            g_pECGData[2 + i][k] = BigEndianSample(groupC + frame + 2 * i);
            g_pECGData[5 + i][k] = BigEndianSample(groupD + frame + 2 * i);
        }
    }
    return replacement.CommitIf(NewECGHeaderAllChannel(kCSERate, static_cast<int>(n), GetRecordBaseName(path)));
}

ECG_HEADER* LoadDatabaseCSEInTxtFmt(const char* path) {
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    CSignalReplacement replacement;
    if (path == nullptr) return nullptr;
    CFilePtr file(OpenInputFile(path));
    if (!file) return nullptr;

    const int64_t lines = CountTextLines(file.get());
    if (lines > INT32_MAX) return nullptr;
    std::rewind(file.get());
    g_WaveformType = WaveformFixedChannels;
    g_nSampleRate = kCSERate;
    g_nSampleCount = lines;
    if (!ReallocateECGDataBuffer(kChannels)) return nullptr;

    char line[kTextLineBytes];
    std::vector<std::string> fields;
    // Bounded by the first count as well: the file may have grown since.
    for (int64_t s = 0; s < lines && std::fgets(line, sizeof(line), file.get()) != nullptr; ++s) {
        StringTrim(line);
        if (line[0] == '\0') break;
        fields.clear();
        StringToken(line, " \t\r", fields);
        if (fields.size() < static_cast<size_t>(kTextFields)) return nullptr;
        for (int ch = 0; ch < kChannels; ++ch) {
            const long value = std::strtol(fields[kTextFieldOfChannel[ch]].c_str(), nullptr, 10);
            g_pECGData[ch][s] = static_cast<double>(value) / kMicrovoltsPerMillivolt;
        }
    }
    return replacement.CommitIf(NewECGHeaderAllChannel(kCSERate, static_cast<int>(lines), GetRecordBaseName(path)));
}
