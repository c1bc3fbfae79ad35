// WFDB header text: the record line and the signal lines, into a WFDB_HEADER.
// Sample and annotation streams are opened by the readers; this unit only closes them.

#include "wfdb/wfdb_header.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/decimal_text.h"
#include "platform/file_utils.h"
#include "platform/record_time.h"
#include "platform/text_utils.h"

namespace {

constexpr const char* kTokenDelimiters = " \t\n\r";
constexpr const char* kLineEnds = "\n\r";
constexpr double kDefaultGain = 200.0;

// strtok's splitting without its hidden state, so that two headers can be parsed at once.
class CTokenCursor {
public:
    explicit CTokenCursor(const char* text) : m_next(text) {}

    // The next run of characters outside delimiters (empty when none is left); the
    // cursor then stands after the one delimiter that ended it.
    std::string_view Next(const char* delimiters) {
        m_next += std::strspn(m_next, delimiters);
        if (*m_next == '\0') return {};
        const char* start = m_next;
        m_next += std::strcspn(m_next, delimiters);
        const std::string_view token(start, static_cast<size_t>(m_next - start));
        if (*m_next != '\0') ++m_next;
        return token;
    }

private:
    const char* m_next;
};

// Copies at most destSize - 1 characters of text and terminates.
void CopyBounded(char* dest, size_t destSize, std::string_view text) {
    const size_t length = text.size() < destSize ? text.size() : destSize - 1;
    if (length > 0) std::memcpy(dest, text.data(), length);  // an empty view may have no data pointer
    dest[length] = '\0';
}

int DefaultResolution(int format) {
    switch (format) {
        case 80: return 8;
        case 160: return 16;
        case 212: return 12;
        case 310:
        case 311: return 10;
        default: return 0;
    }
}

// The suffixes of the format field ("x" samples per frame, ":" skew, "+" byte
// offset), in any order; a suffix needs a character after its mark.
void ParseFormatSuffixes(std::string_view field, WFDB_SIGNAL* pSignal) {
    for (size_t at = 1; at + 1 < field.size(); ++at) {
        const int value = ParseLeadingInt(field.substr(at + 1));
        switch (field[at]) {
            case 'x': pSignal->SamplesPerFrame = value < 1 ? 1 : value; break;
            case ':': pSignal->Skew = value < 0 ? 0 : value; break;
            case '+': pSignal->ByteOffset = value < 0 ? 0 : value; break;
            default: break;
        }
    }
    // The skew is written in samples of this signal; frames are what a reader steps in.
    pSignal->Skew = static_cast<int>(static_cast<double>(pSignal->Skew) / pSignal->SamplesPerFrame + 0.5);
}

// Gain field: gain, then optionally "(baseline)" and "/unit". True when a baseline is written.
bool ParseGainField(std::string_view field, WFDB_SIGNAL* pSignal) {
    bool hasBaseLine = false;
    const size_t open = field.find('(');
    if (open != std::string_view::npos && field.find(')') != std::string_view::npos) {
        pSignal->ADCBaseLine = ParseLeadingInt(field.substr(open + 1));
        hasBaseLine = true;
    }
    // An overflowing gain reads as infinite; like a missing one, it takes the default.
    const double gain = ParseLeadingDouble(field);
    pSignal->ADCGain = gain == 0.0 || !std::isfinite(gain) ? kDefaultGain : gain;
    const size_t slash = field.find('/');
    if (slash != std::string_view::npos && slash + 1 < field.size()) {
        pSignal->ADCUnit = field[slash + 1];
        CopyBounded(pSignal->Units, sizeof(pSignal->Units), field.substr(slash + 1));
    }
    return hasBaseLine;
}

// Reads one line as fgets does with the 255-character limit; false at the end of the file.
bool ReadHeaderLine(FILE* file, char (&line)[kWFDBLineLength + 1]) {
    return std::fgets(line, sizeof(line), file) != nullptr;
}

WFDB_HEADER* AllocateHeader(int signalCount) {
    // Room for one entry even when none is declared keeps Signal[0] addressable.
    const size_t entries = signalCount > 0 ? static_cast<size_t>(signalCount) : 1;
    const size_t bytes = offsetof(WFDB_HEADER, Signal) + entries * sizeof(WFDB_SIGNAL);
    return static_cast<WFDB_HEADER*>(std::calloc(1, bytes));
}

}  // namespace

void ReadHeaderSignal(char* pszSignalLine, WFDB_SIGNAL* pSignal) {
    if (pszSignalLine == nullptr || pSignal == nullptr) return;
    std::memset(pSignal, 0, sizeof(*pSignal));
    pSignal->ADCGain = kDefaultGain;
    CTokenCursor cursor(pszSignalLine);

    const std::string_view fileName = cursor.Next(kTokenDelimiters);
    if (fileName.empty()) return;
    CopyBounded(pSignal->FileName, sizeof(pSignal->FileName), fileName);

    const std::string_view format = cursor.Next(kTokenDelimiters);
    if (format.empty()) return;
    pSignal->Format = ParseLeadingInt(format);
    pSignal->SamplesPerFrame = 1;
    ParseFormatSuffixes(format, pSignal);

    const std::string_view gain = cursor.Next(kTokenDelimiters);
    if (gain.empty()) return;
    const bool hasBaseLine = ParseGainField(gain, pSignal);

    const std::string_view resolution = cursor.Next(kTokenDelimiters);
    if (resolution.empty()) {
        pSignal->ADCResolution = DefaultResolution(pSignal->Format);
        return;
    }
    pSignal->ADCResolution = ParseLeadingInt(resolution);

    const std::string_view zero = cursor.Next(kTokenDelimiters);
    if (!zero.empty()) pSignal->ADCZero = ParseLeadingInt(zero);
    if (!hasBaseLine) pSignal->ADCBaseLine = pSignal->ADCZero;
    if (zero.empty()) return;

    int32_t* const trailing[] = {&pSignal->InitialValue, &pSignal->Checksum, &pSignal->BlockSize};
    for (int32_t* field : trailing) {
        const std::string_view token = cursor.Next(kTokenDelimiters);
        if (token.empty()) return;
        *field = ParseLeadingInt(token);
    }
    // The description keeps inner and leading spaces: only a line end closes it.
    CopyBounded(pSignal->Description, sizeof(pSignal->Description), cursor.Next(kLineEnds));
    StringTrimRight(pSignal->Description);
}

WFDB_HEADER* WFDBReadHeader(char* filePath) {
    if (filePath == nullptr) return nullptr;
    CFilePtr file(OpenInputFile(filePath));
    if (!file) return nullptr;

    char line[kWFDBLineLength + 1];
    if (!ReadHeaderLine(file.get(), line)) return nullptr;
    CTokenCursor cursor(line);
    std::string_view fields[4];
    for (std::string_view& field : fields) {
        field = cursor.Next(kTokenDelimiters);
        if (field.empty()) return nullptr;
    }
    const int declaredSignals = ParseLeadingInt(fields[1]);
    if (declaredSignals < 0 || declaredSignals > kMaxWFDBSignals) return nullptr;

    WFDB_HEADER* header = AllocateHeader(declaredSignals);
    if (header == nullptr) return nullptr;
    const std::string_view name = fields[0].substr(0, std::min<size_t>(fields[0].size(), 255));
    CopyBounded(header->RecordName, sizeof(header->RecordName), name.substr(0, name.find('/')));
    header->SamplingFrequency = ParseLeadingInt(fields[2]);
    header->NumberOfSamplesPerSignal = ParseLeadingInt(fields[3]);
    CopyBounded(header->BaseTime, sizeof(header->BaseTime), cursor.Next(kTokenDelimiters));
    CopyBounded(header->BaseDate, sizeof(header->BaseDate), cursor.Next(kTokenDelimiters));

    // Blank lines, comments and signal lines that name no ".dat" file do not count.
    int accepted = 0;
    while (accepted < declaredSignals && ReadHeaderLine(file.get(), line)) {
        if (line[0] == '#') continue;
        WFDB_SIGNAL* entry = &header->Signal[accepted];
        ReadHeaderSignal(line, entry);
        if (std::strstr(entry->FileName, ".dat") != nullptr) {
            ++accepted;
        } else {
            std::memset(entry, 0, sizeof(*entry));
        }
    }
    header->NumberOfSignals = accepted;
    return header;
}

void WFDBFreeHeader(WFDB_HEADER* pHeader) {
    if (pHeader == nullptr) return;
    if (pHeader->Reserved.SignalFile.pFile != nullptr) std::fclose(pHeader->Reserved.SignalFile.pFile);
    if (pHeader->Reserved.AnnotationFile.pFile != nullptr) std::fclose(pHeader->Reserved.AnnotationFile.pFile);
    std::free(pHeader);
}

FILE* GetSignalFile(WFDB_HEADER* pHeader) {
    return pHeader == nullptr ? nullptr : pHeader->Reserved.SignalFile.pFile;
}

FILE* GetAnnotationFile(WFDB_HEADER* pHeader) {
    return pHeader == nullptr ? nullptr : pHeader->Reserved.AnnotationFile.pFile;
}

time_t GetRecordTime(WFDB_HEADER* pHeader) {
    if (pHeader == nullptr) return 0;
    return GetRecordTime(pHeader->BaseTime, pHeader->BaseDate);
}
