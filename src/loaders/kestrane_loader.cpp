// Maker's-format records: a head of rate, length and "start", then sections of
// microvolt samples under a lead label, in any order. Played resampled (kind 4).

#include "loaders/kestrane_loader.h"

#include <strings.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/decimal_text.h"

#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/text_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_path.h"

namespace {

constexpr unsigned int kLineBytes = 256;
constexpr int kChannels = 8;
constexpr double kMicrovoltsPerMillivolt = 1000.0;

// Section labels in store-channel order.
constexpr const char* kLabels[kChannels] = {"Lead I", "Lead II", "V1", "V2", "V3", "V4", "V5", "V6"};

struct CFileBuffer {
    unsigned char* data = nullptr;
    unsigned int size = 0;
    ~CFileBuffer() { delete[] data; }
};

// The channel a label line selects, or -1. A line starting with a digit is always a sample.
int LabelChannel(const char* line) {
    if (line[0] >= '0' && line[0] <= '9') return -1;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (strcasecmp(line, kLabels[ch]) == 0) return ch;
    }
    return -1;
}

// The integer part of a head line's number; false when it cannot be an int at all.
bool ReadHeadInteger(const char* line, int64_t& value) {
    const double number = std::trunc(ParseLeadingDouble(line));
    if (!(number >= INT_MIN && number <= INT_MAX)) return false;
    value = static_cast<int64_t>(number);
    return true;
}

}  // namespace

ECG_HEADER* LoadDatabaseKestrane(const char* path) {
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    CFileBuffer file;
    if (path == nullptr || !ReadFileBinaryData(path, &file.data, &file.size)) return nullptr;
    unsigned char* cursor = file.data;
    unsigned char* const end = file.data + file.size;

    // A file that ends within the head goes on with zeros for what it lacks.
    char line[kLineBytes];
    int64_t rate = 0;
    int64_t count = 0;
    if (ReadTextLine(cursor, end, line, kLineBytes) && !ReadHeadInteger(line, rate)) return nullptr;
    if (ReadTextLine(cursor, end, line, kLineBytes) && !ReadHeadInteger(line, count)) return nullptr;
    if (ReadTextLine(cursor, end, line, kLineBytes)) {
        StringTrim(line);
        if (strcasecmp(line, "start") != 0) return nullptr;
    }
    // Neither a negative rate nor a negative length can describe a store.
    if (rate < 0 || count < 0) return nullptr;

    CSignalReplacement replacement;
    g_nSampleCount = count;
    g_WaveformType = WaveformKestrane;
    g_nSampleRate = static_cast<uint32_t>(rate);
    if (!ReallocateECGDataBuffer(kChannels)) return nullptr;

    int channel = -1;
    int64_t s = 0;
    while (ReadTextLine(cursor, end, line, kLineBytes)) {
        const int selected = LabelChannel(line);
        if (selected >= 0) {
            channel = selected;  // a repeated label starts its channel over
            s = 0;
        } else if (channel >= 0 && s < count) {
            g_pECGData[channel][s++] = ParseLeadingDouble(line) / kMicrovoltsPerMillivolt;
        }
    }
    return replacement.CommitIf(
        NewECGHeaderAllChannel(static_cast<int>(rate), static_cast<int>(count), GetRecordBaseName(path)));
}
