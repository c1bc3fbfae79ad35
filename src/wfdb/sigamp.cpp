// Signal amplitude measurement for the noise stress test: peak to peak over
// beat windows, or windowed RMS, averaged robustly per signal.

#include "wfdb/sigamp.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "wfdb/annotation.h"
#include "wfdb/record_path.h"
#include "wfdb/signal_reader.h"

// Codes 1-4, 7-9, 11-13, 25, 34, 35 and 38 are beats of class 1; 5, 10, 31
// and 41 ventricular (class 5); 6 is class 6 and 30 class 30.
const int wfdb_mp1[50] = {0, 1, 1, 1, 1, 5, 6, 1, 1, 1,   //  0- 9
                          5, 1, 1, 1, 0, 0, 0, 0, 0, 0,   // 10-19
                          0, 0, 0, 0, 0, 1, 0, 0, 0, 0,   // 20-29
                          30, 5, 0, 0, 1, 1, 0, 0, 1, 0,  // 30-39
                          0, 5, 0, 0, 0, 0, 0, 0, 0, 0};  // 40-49

namespace {

constexpr int kTrimmedSlots = g_nRunMax / 20;
constexpr double kDecimals = 100000.0;

bool IsMeasuredBeat(const WFDB_ANNOTATION& annotation) {
    return annotation.Type < 50 && wfdb_mp1[annotation.Type] == 1;
}

// Mean of the middle slots, truncated to 5 decimals. The truncation runs in 64
// bits: a 32-bit one cannot hold amplitudes of 21474.83648 and above.
double RobustAverage(double* slots) {
    std::qsort(slots, g_nRunMax, sizeof(double), AmplitudeCompare);
    double sum = 0.0;
    for (int k = kTrimmedSlots; k < g_nRunMax - kTrimmedSlots; ++k) sum += slots[k];
    const double mean = sum / (g_nRunMax - 2 * kTrimmedSlots);
    return static_cast<double>(static_cast<int64_t>(mean * kDecimals)) / kDecimals;
}

}  // namespace

int AmplitudeCompare(const void* p1, const void* p2) {
    const double first = *static_cast<const double*>(p1);
    const double second = *static_cast<const double*>(p2);
    if (first > second) return 1;
    if (first < second) return -1;
    return 0;
}

void sigamp_p2p(WFDB_HEADER* pHeader, double** pAmplitude) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    if (handler == nullptr || pAmplitude == nullptr) return;
    const int signals = pHeader->NumberOfSignals;
    WFDBAnnotationSeekBegin(pHeader);
    // A tenth of a second centred on the beat: 18 samples each side at 360 Hz.
    const int from = static_cast<int>(pHeader->SamplingFrequency * -0.05);
    const int to = -from;
    std::vector<int> frame(static_cast<size_t>(signals));
    std::vector<int> highest(static_cast<size_t>(signals));
    std::vector<int> lowest(static_cast<size_t>(signals));
    WFDB_ANNOTATION annotation;
    for (int stored = 0; stored < g_nRunMax && WFDBNextAnnotation(pHeader, &annotation);) {
        if (!IsMeasuredBeat(annotation)) continue;
        // A window that starts before the record, or a beat past its end (which
        // a seek would take back to the start), ends the measuring.
        const int64_t start = static_cast<int64_t>(annotation.Time) + from;
        if (start < 0 || start > pHeader->NumberOfSamplesPerSignal) break;
        if (!handler->SeekEx(pHeader, static_cast<int>(start))) break;
        if (handler->NextSampleEx(pHeader, frame.data(), 1) != 1) break;
        highest = frame;
        lowest = frame;
        for (int k = 0; k < to - from && handler->NextSampleEx(pHeader, frame.data(), 1) == 1; ++k) {
            for (int s = 0; s < signals; ++s) {
                if (frame[s] > highest[s]) highest[s] = frame[s];
                if (frame[s] < lowest[s]) lowest[s] = frame[s];
            }
        }
        for (int s = 0; s < signals; ++s) pAmplitude[s][stored] = static_cast<double>(highest[s]) - lowest[s];
        ++stored;
    }
}

void sigamp_rms(WFDB_HEADER* pHeader, double** pAmplitude) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    if (handler == nullptr || pAmplitude == nullptr) return;
    const size_t signals = static_cast<size_t>(pHeader->NumberOfSignals);
    constexpr int kWindow = g_nMovingWindowSize;
    if (!handler->SeekEx(pHeader, 0)) return;
    // Each window is read once and kept for its second pass: the same frames a
    // seek back would read again, without a seek that a short header could send
    // to the record's start.
    std::vector<int> window(kWindow * signals);
    std::vector<int64_t> sums(signals);
    std::vector<double> squares(signals);
    for (int slot = 0; slot < g_nRunMax; ++slot) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int k = 0; k < kWindow; ++k) {
            int* frame = &window[static_cast<size_t>(k) * signals];
            if (handler->NextSampleEx(pHeader, frame, 1) != 1) return;  // an unfinished window is not stored
            for (size_t s = 0; s < signals; ++s) sums[s] += frame[s];
        }
        std::fill(squares.begin(), squares.end(), 0.0);
        for (size_t s = 0; s < signals; ++s) {
            const double mean = static_cast<double>(sums[s]) / kWindow;
            for (int k = 0; k < kWindow; ++k) {
                const int64_t deviation = static_cast<int64_t>(window[static_cast<size_t>(k) * signals + s] - mean);
                squares[s] += static_cast<double>(deviation * deviation);
            }
            pAmplitude[s][slot] = std::sqrt(squares[s] / kWindow);
        }
    }
}

int sigamp(WFDB_HEADER* pHeader, double** amplitude) {
    if (pHeader == nullptr || amplitude == nullptr) return 0;
    const int signals = pHeader->NumberOfSignals;
    std::vector<std::vector<double>> slots(static_cast<size_t>(signals), std::vector<double>(g_nRunMax, 0.0));
    std::vector<double*> slotArrays;
    for (std::vector<double>& signalSlots : slots) slotArrays.push_back(signalSlots.data());
    if (GetAnnotationFile(pHeader) != nullptr) {
        sigamp_p2p(pHeader, slotArrays.data());
    } else {
        sigamp_rms(pHeader, slotArrays.data());
    }
    std::unique_ptr<double[]> result(new double[static_cast<size_t>(signals > 0 ? signals : 0)]);
    for (int s = 0; s < signals; ++s) result[s] = RobustAverage(slotArrays[s]);
    *amplitude = result.release();
    return signals;
}

int sigamp(const char* filePath, double** amplitude) {
    if (filePath == nullptr || amplitude == nullptr) return 0;
    const std::string directory = GetRecordDirectory(filePath);
    std::string headerPath = JoinRecordPath(directory, GetRecordBaseName(filePath)) + ".hea";
    CWFDBHeaderPtr header(WFDBReadHeader(headerPath.data()));
    if (header == nullptr || !WFDBLoadSignal(directory.c_str(), header.get())) return 0;
    // Without an annotation file the amplitude is measured by RMS.
    const std::string annotationPath = JoinRecordPath(directory, header->RecordName) + ".atr";
    WFDBLoadAnnotation(annotationPath.c_str(), header.get());
    return sigamp(header.get(), amplitude);
}

double* WFDBSignalAmplitude(WFDB_HEADER* header, int* numberOfSignals) {
    double* amplitude = nullptr;
    const int signals = header == nullptr ? 0 : sigamp(header, &amplitude);
    if (numberOfSignals != nullptr) *numberOfSignals = signals;
    return amplitude;
}

TAVO_API double* WFDBSignalAmplitudeEx(char* filePath, int* numberOfSignals) {
    try {
        double* amplitude = nullptr;
        const int signals = sigamp(filePath, &amplitude);
        if (numberOfSignals != nullptr) *numberOfSignals = signals;
        if (signals == 0) {
            delete[] amplitude;  // a record without signals has no amplitude to report
            return nullptr;
        }
        return amplitude;
    } catch (...) {
        if (numberOfSignals != nullptr) *numberOfSignals = 0;
        return nullptr;
    }
}

TAVO_API void WFDBMemFree(void* data) { delete[] static_cast<double*>(data); }
