// AHA text to WFDB: each valid line becomes one 3-byte format-212 group (lead 0,
// lead 1), and the header is written from the record description once all are in.

#include "wfdb/aha2mit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/decimal_text.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_output.h"
#include "wfdb/wfdb_header.h"

namespace {

constexpr int kLineLength = 128;
constexpr int kAHASignals = 2;
constexpr int kAHARate = 250;
constexpr double kAHAGain = 400.0;
constexpr int kAHAResolution = 12;

// Reads one line of at most kLineLength characters; CR, LF and CRLF each end one line,
// and a longer line goes on as the next one. False at the end of the file.
bool ReadAHALine(FILE* file, char (&line)[kLineLength + 1]) {
    int length = 0;
    int c = getc_unlocked(file);
    if (c == EOF) return false;
    while (c != EOF && c != '\r' && c != '\n') {
        line[length++] = static_cast<char>(c);
        if (length == kLineLength) {
            // A full line still owns the line end right behind it.
            c = getc_unlocked(file);
            if (c != '\r' && c != '\n') {
                if (c != EOF) ungetc(c, file);
                c = EOF;
            }
            break;
        }
        c = getc_unlocked(file);
    }
    if (c == '\r') {
        const int next = getc_unlocked(file);
        if (next != '\n' && next != EOF) ungetc(next, file);
    }
    line[length] = '\0';
    return true;
}

// A decimal integer after optional white space, as "%d" reads it (saturated at the int range).
const char* ReadInteger(const char* at, int& value) {
    const size_t taken = ScanLeadingInt(at, value);
    return taken == 0 ? nullptr : at + taken;
}

// The pattern "%d,%d,\"%c": two integers, commas, a quote and any one character.
bool ParseAHALine(const char* line, int& lead0, int& lead1) {
    const char* at = ReadInteger(line, lead0);
    if (at == nullptr || *at++ != ',') return false;
    at = ReadInteger(at, lead1);
    if (at == nullptr || *at++ != ',') return false;
    return at[0] == '"' && at[1] != '\0';
}

// Header text in the order the record-header parser reads it.
std::string HeaderText(const WFDB_HEADER& record) {
    std::string text = std::string(record.RecordName) + " " + FormatInteger(record.NumberOfSignals) + " " +
                       FormatInteger(record.SamplingFrequency) + " " +
                       FormatInteger(record.NumberOfSamplesPerSignal) + "\n";
    for (int i = 0; i < record.NumberOfSignals; ++i) {
        const WFDB_SIGNAL& signal = record.Signal[i];
        text += std::string(signal.FileName) + " " + FormatInteger(signal.Format) + " " +
                FormatGeneral12(signal.ADCGain) + " " + FormatInteger(signal.ADCResolution) + " " +
                FormatInteger(signal.ADCZero) + " " + FormatInteger(signal.InitialValue) + " " +
                FormatInteger(signal.Checksum) + " " + FormatInteger(signal.BlockSize) + " " +
                signal.Description + "\n";
    }
    return text;
}

}  // namespace

bool ahaecg2mit(const char* filePath, const char* destFolder) {
    const char* extension = PathFindExtension(filePath);
    if (extension == nullptr || std::strcmp(extension, ".txt") != 0) return false;
    RecordOutputPaths paths;
    if (!MakeRecordOutputPaths(filePath, destFolder, paths)) return false;
    const char* recordName = paths.recordName.c_str();

    CFilePtr input(OpenInputFile(filePath));
    if (!input) return false;
    CRecordOutputFiles outputs;
    if (!outputs.Create(paths.header, paths.signal)) return false;

    const size_t recordBytes = offsetof(WFDB_HEADER, Signal) + kAHASignals * sizeof(WFDB_SIGNAL);
    std::unique_ptr<WFDB_HEADER, decltype(&std::free)> record(static_cast<WFDB_HEADER*>(std::calloc(1, recordBytes)),
                                                             &std::free);
    if (!record) return false;
    std::strcpy(record->RecordName, recordName);
    record->NumberOfSignals = kAHASignals;
    record->SamplingFrequency = kAHARate;
    for (int i = 0; i < kAHASignals; ++i) {
        WFDB_SIGNAL& signal = record->Signal[i];
        std::snprintf(signal.FileName, sizeof(signal.FileName), "%s.dat", recordName);
        signal.Format = 212;
        signal.SamplesPerFrame = 1;
        signal.ADCGain = kAHAGain;
        signal.ADCResolution = kAHAResolution;
        std::snprintf(signal.Description, sizeof(signal.Description), "ECG%d", i);
    }

    char line[kLineLength + 1];
    int lead0 = 0;
    int lead1 = 0;
    int32_t& samples = record->NumberOfSamplesPerSignal;
    while (samples < INT32_MAX && ReadAHALine(input.get(), line) && ParseAHALine(line, lead0, lead1)) {
        if (samples == 0) {
            record->Signal[0].InitialValue = lead0;
            record->Signal[1].InitialValue = lead1;
        }
        // Only the low 12 bits of each value are kept.
        const unsigned a = static_cast<unsigned>(lead0) & 0xFFF;
        const unsigned b = static_cast<unsigned>(lead1) & 0xFFF;
        const unsigned char group[3] = {static_cast<unsigned char>(a & 0xFF),
                                        static_cast<unsigned char>((a >> 8) | ((b >> 8) << 4)),
                                        static_cast<unsigned char>(b & 0xFF)};
        if (std::fwrite(group, 1, sizeof(group), outputs.Signal()) != sizeof(group)) return false;
        ++samples;
    }

    return outputs.Commit(HeaderText(*record));
}

TAVO_API bool WFDBConvertAHA(const char* filePath, const char* destFolder) {
    try {
        return ahaecg2mit(filePath, destFolder);
    } catch (...) {
        return false;
    }
}
