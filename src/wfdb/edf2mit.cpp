// EDF to WFDB: the head is checked field by field, the data records are re-ordered
// into frames, and the header is written last, from the records really converted.
// EDF+ annotation signals hold text, not samples: they are passed over.

#include "wfdb/edf2mit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common_rate.h"
#include "platform/decimal_text.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_output.h"

namespace {

constexpr char kVersion[8] = {'0', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr size_t kHeadBytes = 256;
constexpr size_t kSampleBytes = 2;
constexpr std::string_view kAnnotationLabel = "EDF Annotations";
constexpr char kSourcePrefix[] = "#EDF source:";

// Offsets and widths of the signal-header fields, in file order.
struct SignalField {
    size_t offset;
    size_t width;
};
constexpr SignalField kSignalFields[] = {
    {offsetof(EDF_SIGNSAL, Label), 16},
    {offsetof(EDF_SIGNSAL, TransducerType), 80},
    {offsetof(EDF_SIGNSAL, PhysicalDimension), 8},
    {offsetof(EDF_SIGNSAL, PhysicalMinimum), 8},
    {offsetof(EDF_SIGNSAL, PhysicalMaximum), 8},
    {offsetof(EDF_SIGNSAL, DigitalMinimum), 8},
    {offsetof(EDF_SIGNSAL, DigitalMaximum), 8},
    {offsetof(EDF_SIGNSAL, Prefiltering), 80},
    {offsetof(EDF_SIGNSAL, NumberOfSamplesPerRecord), 8},
    {offsetof(EDF_SIGNSAL, FreeSpace), 32},
};

// A field's text up to its first NUL, never past its width.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

template <size_t N>
double FieldReal(const char (&field)[N]) {
    return ParseLeadingDouble(FieldText(field));
}

template <size_t N>
int FieldInt(const char (&field)[N]) {
    return ParseLeadingInt(FieldText(field));
}

bool IsAnnotationSignal(const EDF_SIGNSAL* signal) { return FieldText(signal->Label) == kAnnotationLabel; }

// What the conversion needs of one signal, checked to describe a real signal. Offsets
// and sizes are 64-bit: on the 32-bit target a size_t sum of file fields would wrap.
struct SignalPlan {
    int samplesPerRecord;
    int samplesPerFrame;
    uint64_t recordOffset;  // bytes before this signal in a data record
    std::string line;       // the header's signal line
};

struct ConversionPlan {
    int frameFrequency = 0;
    int framesPerRecord = 0;
    uint64_t recordBytes = 0;  // every signal's samples, annotation signals' included
    std::vector<SignalPlan> signals;
};

// Field text as one line of header text: control characters, which could end the line
// or forge another, become '_'; in a unit also blanks, which would split the token,
// and parentheses, which would read as a baseline.
std::string HeaderText(std::string_view field, bool isUnit) {
    std::string text(field);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (isUnit && (c == ' ' || c == '(' || c == ')'))) c = '_';
    }
    return text;
}

// The header's signal line for signal i, or false when its numbers describe no
// conversion (equal limits, a gain or baseline beyond what the header can carry).
bool BuildSignalLine(const std::string& recordName, EDF_SIGNSAL* signal, int samplesPerFrame, std::string& line) {
    const double physicalMin = FieldReal(signal->PhysicalMinimum);
    const double physicalMax = FieldReal(signal->PhysicalMaximum);
    const int digitalMin = FieldInt(signal->DigitalMinimum);
    const int digitalMax = FieldInt(signal->DigitalMaximum);
    const int64_t adcRange = static_cast<int64_t>(digitalMax) - digitalMin;
    if (adcRange <= 0 || physicalMax == physicalMin) return false;
    const double gain = static_cast<double>(adcRange) / (physicalMax - physicalMin);
    const double baseline = std::trunc(digitalMax - physicalMax * gain + 1.0);
    if (!std::isfinite(gain) || !(baseline >= INT_MIN && baseline <= INT_MAX)) return false;
    const int adcZero = static_cast<int>((static_cast<int64_t>(digitalMax) + 1 + digitalMin) / 2);
    int adcResolution = 0;
    for (int64_t halved = adcRange; halved > 1; halved /= 2) ++adcResolution;

    // Appended piece by piece: "x" + string would be an insert at the front.
    line = recordName + ".dat 16";
    if (samplesPerFrame > 1) line.append("x").append(FormatInteger(samplesPerFrame));
    line.append(" ").append(FormatGeneral12(gain));
    if (static_cast<int>(baseline) != adcZero) line.append("(").append(FormatInteger(static_cast<int>(baseline))).append(")");
    line.append("/").append(HeaderText(FieldText(signal->PhysicalDimension), true));
    line.append(" ").append(FormatInteger(adcResolution)).append(" ").append(FormatInteger(adcZero)).append(" 0 0 0");
    line.append(" ").append(HeaderText(FieldText(signal->Label), false)).append("\n");
    return true;
}

// Works out frames and signal lines. False for a file whose records cannot be put in
// frames truthfully: no duration, no signal but annotations, a signal without samples, a
// frame frequency below 1, no whole frame in a record, or samples per frame that would
// take more from a record than it holds.
bool PlanConversion(EDF_HEADER* header, const std::string& recordName, ConversionPlan& plan) {
    const int signalCount = GetEDFSignalCount(header);
    const double duration = FieldReal(header->DurationOfEachDataRecordInSeconds);
    if (!(duration > 0.0) || !std::isfinite(duration)) return false;
    const double frequency = CalcSamplingFrequency(header);
    if (!(frequency >= 1.0 && frequency < INT_MAX)) return false;
    plan.frameFrequency = static_cast<int>(frequency);

    for (int i = 0; i < signalCount; ++i) {
        EDF_SIGNSAL* signal = GetEDFSignal(header, i);
        SignalPlan entry{};
        entry.samplesPerRecord = FieldInt(signal->NumberOfSamplesPerRecord);
        if (entry.samplesPerRecord < 1) return false;
        entry.recordOffset = plan.recordBytes;
        plan.recordBytes += static_cast<uint64_t>(entry.samplesPerRecord) * kSampleBytes;
        if (IsAnnotationSignal(signal)) continue;
        const double perFrame = entry.samplesPerRecord / duration / plan.frameFrequency + 0.5;
        if (!(perFrame >= 1.0 && perFrame < INT_MAX)) return false;
        entry.samplesPerFrame = static_cast<int>(perFrame);
        if (!BuildSignalLine(recordName, signal, entry.samplesPerFrame, entry.line)) return false;
        plan.signals.push_back(std::move(entry));
    }
    if (plan.signals.empty()) return false;
    plan.framesPerRecord = plan.signals[0].samplesPerRecord / plan.signals[0].samplesPerFrame;
    if (plan.framesPerRecord < 1) return false;
    for (const SignalPlan& entry : plan.signals) {
        if (static_cast<int64_t>(plan.framesPerRecord) * entry.samplesPerFrame > entry.samplesPerRecord) return false;
    }
    return true;
}

// Bytes of the file after the signal headers, where the data records lie; -1 when unknown.
int64_t DataBytes(FILE* file, int signalCount) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size) - static_cast<int64_t>(kHeadBytes) * (signalCount + 1);
}

// Writes the records in frame order; returns how many complete records were converted
// (a record cut short ends the conversion), or -1 on a write error. The caller has
// bounded the record size by the file and the address space.
int64_t ConvertRecords(FILE* input, FILE* output, const ConversionPlan& plan, int64_t records) {
    const auto recordBytes = static_cast<size_t>(plan.recordBytes);
    std::unique_ptr<unsigned char[]> record(new (std::nothrow) unsigned char[recordBytes]);
    std::unique_ptr<unsigned char[]> frames(new (std::nothrow) unsigned char[recordBytes]);
    if (!record || !frames) return -1;
    int64_t done = 0;
    for (; done < records; ++done) {
        if (std::fread(record.get(), 1, recordBytes, input) != recordBytes) break;
        unsigned char* out = frames.get();
        for (int f = 0; f < plan.framesPerRecord; ++f) {
            for (const SignalPlan& signal : plan.signals) {
                // Format 16 keeps EDF's byte order, so samples move as bytes.
                const size_t bytes = static_cast<size_t>(signal.samplesPerFrame) * kSampleBytes;
                std::memcpy(out, record.get() + static_cast<size_t>(signal.recordOffset) + f * bytes, bytes);
                out += bytes;
            }
        }
        const size_t written = static_cast<size_t>(out - frames.get());
        if (std::fwrite(frames.get(), 1, written, output) != written) return -1;
    }
    return done;
}

}  // namespace

void TrimString(char* psz, int size) {
    if (psz == nullptr) return;
    for (int i = size - 1; i >= 0 && psz[i] == ' '; --i) psz[i] = '\0';
}

int GetEDFSignalCount(const EDF_HEADER* pHeader) { return pHeader == nullptr ? 0 : FieldInt(pHeader->NumberOfSignals); }

EDF_SIGNSAL* GetEDFSignal(EDF_HEADER* pHeader, int index) { return reinterpret_cast<EDF_SIGNSAL*>(pHeader + 1) + index; }

EDF_HEADER* ReadHeader(FILE* pFile) {
    if (pFile == nullptr) return nullptr;
    EDF_HEADER head;
    if (std::fread(&head, 1, sizeof(head), pFile) != sizeof(head)) return nullptr;
    if (std::memcmp(head.DataFormat, kVersion, sizeof(kVersion)) != 0) return nullptr;
    // Four characters hold at most 9999 signals, so the block stays below 2.6 MB.
    const int signalCount = FieldInt(head.NumberOfSignals);
    if (signalCount < 1) return nullptr;

    const size_t blockBytes = sizeof(EDF_HEADER) + static_cast<size_t>(signalCount) * sizeof(EDF_SIGNSAL);
    std::unique_ptr<EDF_HEADER, decltype(&std::free)> block(static_cast<EDF_HEADER*>(std::calloc(1, blockBytes)),
                                                            &std::free);
    if (!block) return nullptr;
    std::memcpy(block.get(), &head, sizeof(head));
    for (const SignalField& field : kSignalFields) {
        for (int i = 0; i < signalCount; ++i) {
            char* at = reinterpret_cast<char*>(GetEDFSignal(block.get(), i)) + field.offset;
            if (std::fread(at, 1, field.width, pFile) != field.width) return nullptr;
        }
    }

    EDF_HEADER* header = block.get();
    TrimString(header->DataFormat, sizeof(header->DataFormat));
    TrimString(header->PatientID, sizeof(header->PatientID));
    TrimString(header->RecordingID, sizeof(header->RecordingID));
    TrimString(header->RecordingDate, sizeof(header->RecordingDate));
    TrimString(header->RecordingTime, sizeof(header->RecordingTime));
    TrimString(header->NumberOfBytesInHeaderRecord, sizeof(header->NumberOfBytesInHeaderRecord));
    TrimString(header->FreeSpace, sizeof(header->FreeSpace));
    TrimString(header->NumberOfDataRecords, sizeof(header->NumberOfDataRecords));
    TrimString(header->DurationOfEachDataRecordInSeconds, sizeof(header->DurationOfEachDataRecordInSeconds));
    TrimString(header->NumberOfSignals, sizeof(header->NumberOfSignals));
    for (int i = 0; i < signalCount; ++i) {
        char* entry = reinterpret_cast<char*>(GetEDFSignal(header, i));
        for (const SignalField& field : kSignalFields) TrimString(entry + field.offset, static_cast<int>(field.width));
    }
    return block.release();
}

double CalcSamplingFrequency(EDF_HEADER* pHeader) {
    const int signalCount = GetEDFSignalCount(pHeader);
    if (signalCount < 1) return 0.0;
    const double duration = FieldReal(pHeader->DurationOfEachDataRecordInSeconds);
    double frequency = 0.0;
    for (int i = 0; i < signalCount; ++i) {
        const EDF_SIGNSAL* signal = GetEDFSignal(pHeader, i);
        if (IsAnnotationSignal(signal)) continue;
        const double rate = FieldReal(signal->NumberOfSamplesPerRecord) / duration;
        if (frequency == 0.0) {
            if (!std::isfinite(rate) || rate <= 0.0) return 0.0;
            frequency = rate;
        } else if (rate != frequency) {
            frequency = gcd(frequency, rate);
        }
    }
    return frequency;
}

bool ReadEDFSourceStamp(int fd, std::string& stamp) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    EDF_HEADER head;
    if (pread(fd, &head, sizeof(head), 0) != static_cast<ssize_t>(sizeof(head))) return false;
    const int signalCount = FieldInt(head.NumberOfSignals);
    if (signalCount < 1) return false;
    // Four characters hold at most 9999 signals: the whole head is below 2.6 MB.
    std::vector<unsigned char> block(kHeadBytes * (static_cast<size_t>(signalCount) + 1));
    if (pread(fd, block.data(), block.size(), 0) != static_cast<ssize_t>(block.size())) return false;
    uint64_t hash = 0xCBF29CE484222325u;  // FNV-1a, 64 bits
    for (unsigned char byte : block) hash = (hash ^ byte) * 0x100000001B3u;
    char text[128];
    // The device and inode tell apart two files written alike within one clock tick.
    std::snprintf(text, sizeof(text), "%s file %llx:%llx, %lld bytes, modified %lld.%09ld, head %016llx", kSourcePrefix,
                  static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino),
                  static_cast<long long>(info.st_size), static_cast<long long>(info.st_mtim.tv_sec),
                  static_cast<long>(info.st_mtim.tv_nsec), static_cast<unsigned long long>(hash));
    stamp = text;
    return true;
}

bool edf2mit(const char* filePath, const char* destFolder) {
    const char* extension = PathFindExtension(filePath);
    if (extension == nullptr || std::strcmp(extension, ".edf") != 0) return false;
    RecordOutputPaths paths;
    if (!MakeRecordOutputPaths(filePath, destFolder, paths)) return false;
    const std::string& recordName = paths.recordName;

    CFilePtr input(OpenInputFile(filePath));
    if (!input) return false;
    std::unique_ptr<EDF_HEADER, decltype(&std::free)> header(ReadHeader(input.get()), &std::free);
    if (!header) return false;
    ConversionPlan plan;
    std::string stamp;
    if (!PlanConversion(header.get(), recordName, plan) || !ReadEDFSourceStamp(fileno(input.get()), stamp)) return false;

    // Only complete records are converted: an unknown count (negative) means all of
    // them, a claim beyond the file means those it holds. A record larger than the file,
    // or than the address space, is none. The frame count must stay within what the
    // header's int can say.
    const int64_t dataBytes = DataBytes(input.get(), GetEDFSignalCount(header.get()));
    if (dataBytes < 0 || plan.recordBytes > static_cast<uint64_t>(dataBytes) || plan.recordBytes > SIZE_MAX) return false;
    int64_t records = dataBytes / static_cast<int64_t>(plan.recordBytes);
    const int claimed = FieldInt(header->NumberOfDataRecords);
    if (claimed >= 0 && claimed < records) records = claimed;
    records = std::min<int64_t>(records, INT_MAX / plan.framesPerRecord);
    if (records < 1) return false;

    CRecordOutputFiles outputs;
    if (!outputs.Create(paths.header, paths.signal)) return false;

    const int64_t converted = ConvertRecords(input.get(), outputs.Signal(), plan, records);
    if (converted < 1) return false;

    std::string text = recordName + " " + FormatInteger(static_cast<long long>(plan.signals.size())) + " " +
                       FormatInteger(plan.frameFrequency) + " " +
                       FormatInteger(plan.framesPerRecord * converted) + "\n";
    for (const SignalPlan& signal : plan.signals) text += signal.line;
    text += stamp + "\n";
    return outputs.Commit(text);
}

TAVO_API bool WFDBConvertEDF(const char* filePath, const char* destFolder) {
    try {
        return edf2mit(filePath, destFolder);
    } catch (...) {
        return false;
    }
}
