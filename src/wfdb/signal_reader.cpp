// Opens a record's signal file and dispatches reads and seeks to the reader of its format.
// The byte-level work of each format lives in signal_16.cpp and signal_212.cpp.

#include "wfdb/signal_reader.h"

#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/file_utils.h"
#include "wfdb/signal_format.h"

namespace {

// Division by the gain and multiplication back rarely land on the exact ADC
// value (995 may come back as 994.9999999999999), and callers truncate; a
// result this close to a whole number is that number.
constexpr double kWholeValueTolerance = 1e-6;

double RestoreWholeValue(double value) {
    const double nearest = std::nearbyint(value);
    return std::fabs(value - nearest) <= kWholeValueTolerance ? nearest : value;
}

// Samples stored before the frame that position names, counted over all signals.
bool GetSeekSampleIndex(const WFDB_HEADER* pHeader, int position, bool isSeconds, int64_t* sampleIndex) {
    if (position < 0) return false;
    int64_t frame = position;
    if (isSeconds) {
        const int frequency = pHeader->SamplingFrequency;
        if (frequency <= 0) return false;
        const double recordSeconds = static_cast<double>(pHeader->NumberOfSamplesPerSignal) / frequency;
        if (static_cast<double>(position) > recordSeconds) frame = 0;
        frame *= frequency;
    } else if (position > pHeader->NumberOfSamplesPerSignal) {
        frame = 0;
    }
    int64_t samplesPerFrame = 0;
    for (int i = 0; i < pHeader->NumberOfSignals; ++i) samplesPerFrame += pHeader->Signal[i].SamplesPerFrame;
    return !__builtin_mul_overflow(frame, samplesPerFrame, sampleIndex);
}

}  // namespace

bool CanWalkFrames(const WFDB_HEADER* pHeader) {
    if (pHeader == nullptr || pHeader->Reserved.SignalFile.pFile == nullptr || pHeader->NumberOfSignals < 1) {
        return false;
    }
    for (int i = 0; i < pHeader->NumberOfSignals; ++i) {
        if (pHeader->Signal[i].SamplesPerFrame < 1) return false;
    }
    return true;
}

bool SeekToGroup(WFDB_HEADER* pHeader, int position, bool isSeconds, int samplesPerGroup, int groupBytes,
                 int64_t& sampleIndex) {
    int64_t index = 0;
    int64_t byte = 0;
    if (!CanWalkFrames(pHeader) || !GetSeekSampleIndex(pHeader, position, isSeconds, &index) ||
        __builtin_mul_overflow(index / samplesPerGroup, groupBytes, &byte) || byte > std::numeric_limits<off_t>::max()) {
        return false;
    }
    if (fseeko(pHeader->Reserved.SignalFile.pFile, static_cast<off_t>(byte), SEEK_SET) != 0) return false;
    pHeader->Reserved.LastValue = 0;
    pHeader->Reserved.HasLastValue = 0;
    sampleIndex = index;
    return true;
}

bool WFDBLoadSignal(const char* pathName, WFDB_HEADER* pHeader) {
    if (pathName == nullptr || pHeader == nullptr || pHeader->NumberOfSignals < 1) return false;
    std::string path(pathName);
    if (!path.empty() && path.back() != '/') path += '/';
    path += pHeader->Signal[0].FileName;
    FILE* file = OpenInputFile(path.c_str()).release();
    if (file == nullptr) return false;
    // A second load replaces the stream rather than leaking it.
    if (pHeader->Reserved.SignalFile.pFile != nullptr) std::fclose(pHeader->Reserved.SignalFile.pFile);
    pHeader->Reserved.SignalFile.pFile = file;
    pHeader->Reserved.LastValue = 0;
    pHeader->Reserved.HasLastValue = 0;
    return true;
}

const SIGNAL_HANDLER* GetSignalHandler(WFDB_HEADER* pHeader) {
    if (pHeader == nullptr || pHeader->NumberOfSignals < 1) return nullptr;
    // A signal line without a format field has no samples per frame; the
    // frame walk would divide by it.
    for (int i = 0; i < pHeader->NumberOfSignals; ++i) {
        if (pHeader->Signal[i].SamplesPerFrame < 1) return nullptr;
    }
    switch (pHeader->Signal[0].Format) {
        case 16: return &g_SignalHandler16;
        case 212: return &g_SignalHandler212;
        default: return nullptr;
    }
}

int IsReadableHeader(WFDB_HEADER* pHeader) {
    return pHeader != nullptr && pHeader->Reserved.SignalFile.pFile != nullptr && GetSignalHandler(pHeader) != nullptr;
}

int WFDBNextSample(WFDB_HEADER* pHeader, double* values, int count) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    return handler == nullptr ? 0 : handler->NextSample(pHeader, values, count);
}

int WFDBNextFrameSamples(WFDB_HEADER* pHeader, double* values, int count) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    return handler == nullptr ? 0 : handler->NextFrameSamples(pHeader, values, count);
}

int64_t WFDBFramesInFile(WFDB_HEADER* pHeader) {
    struct stat info {};
    if (!IsReadableHeader(pHeader) || fstat(fileno(pHeader->Reserved.SignalFile.pFile), &info) != 0) return -1;
    const int64_t bytes = info.st_size;
    // A 212 file of an odd sample count closes with a two-byte group holding one sample.
    const int64_t samples = pHeader->Signal[0].Format == 16 ? bytes / 2 : bytes / 3 * 2 + (bytes % 3 == 2 ? 1 : 0);
    int64_t samplesPerFrame = 0;
    for (int i = 0; i < pHeader->NumberOfSignals; ++i) samplesPerFrame += pHeader->Signal[i].SamplesPerFrame;
    return samples / samplesPerFrame;
}

bool WFDBSeek(WFDB_HEADER* pHeader, int position) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    return handler != nullptr && handler->Seek(pHeader, position);
}

bool GetNextSampleWithoutDAC(WFDB_HEADER* pHeader, double* pSamples) {
    if (pSamples == nullptr || WFDBNextSample(pHeader, pSamples, 1) != 1) return false;
    for (int i = 0; i < pHeader->NumberOfSignals; ++i) {
        const WFDB_SIGNAL& signal = pHeader->Signal[i];
        pSamples[i] = RestoreWholeValue(pSamples[i] * signal.ADCGain + signal.ADCBaseLine);
    }
    return true;
}
