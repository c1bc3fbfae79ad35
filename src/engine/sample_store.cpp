// The sample store every loader and generator fills, the conversion of millivolts
// into DAC codes, and the device-free preview walk over the store.

#include "engine/sample_store.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/dac_calibration.h"
#include "device/protocol.h"
#include "engine/ecg_header.h"
#include "engine/raw_data.h"
#include "tavo/tavo_ext.h"

double** g_pECGData = nullptr;
int g_iECGSignalNumber = 0;
int64_t g_nSampleCount = 0;
uint32_t g_nSampleRate = 0;
int g_WaveformType = 0;
std::atomic<double> g_fVoltageRange{5.0};
std::atomic<int> g_NoiseOn{0};
int32_t g_NoiseData[kNoiseSamples] = {};
uint64_t g_nNoiseCurrent = 0;
std::atomic<int> g_bPlayLoop{0};
constinit CSimpleCriticalSection g_CriticalSection;

namespace {

constexpr int kLeadFrameValues = 12;
constexpr double kMaxCode12 = 4095.0;
constexpr double kMaxCode16 = 65535.0;
constexpr uint64_t kMaxStoreBytes = SIZE_MAX / 2;

// Keeps the conversion to int defined and the calibration row index inside the table.
double ClampCode(double code, double maxCode) {
    if (code < 0.0) return 0.0;
    if (code > maxCode) return maxCode;
    return code;
}

double PreviewTime(int64_t position, int64_t rate) {
    return rate == 0 ? 0.0 : static_cast<double>(position) / static_cast<double>(rate);
}

void FreeStore(double** data, int signals) {
    if (data == nullptr) return;
    for (int i = 0; i < signals; ++i) std::free(data[i]);
    std::free(data);
}

}  // namespace

void FreeECGDataBuffer() {
    FreeStore(g_pECGData, g_iECGSignalNumber);
    g_pECGData = nullptr;
}

CSignalReplacement::CSignalReplacement()
    : m_data(g_pECGData), m_signals(g_iECGSignalNumber), m_count(g_nSampleCount), m_rate(g_nSampleRate),
      m_kind(g_WaveformType) {
    g_pECGData = nullptr;
    g_iECGSignalNumber = 0;
}

CSignalReplacement::~CSignalReplacement() {
    if (m_isCommitted) return;
    FreeECGDataBuffer();
    g_pECGData = m_data;
    g_iECGSignalNumber = m_signals;
    g_nSampleCount = m_count;
    g_nSampleRate = m_rate;
    g_WaveformType = m_kind;
}

void CSignalReplacement::Commit() {
    if (m_isCommitted) return;
    FreeStore(m_data, m_signals);
    m_isCommitted = true;
}

bool ReallocateECGDataBuffer(int nSignals) {
    FreeECGDataBuffer();
    g_iECGSignalNumber = nSignals < 0 ? 0 : nSignals;
    if (nSignals <= 0) return nSignals == 0;
    if (g_nSampleCount < 0) return false;
    const int withArrays = g_WaveformType == WaveformAHA && nSignals > 2 ? 2 : nSignals;
    // The whole store in 64 bits against half the address space: no allocator gives out
    // more in one block, and on the 32-bit board (size_t of 32 bits) a store beyond it
    // would only be refused after costly attempts, or leave the program no room.
    if (static_cast<uint64_t>(g_nSampleCount) > kMaxStoreBytes / sizeof(double) / static_cast<uint64_t>(withArrays)) {
        return false;
    }
    const size_t samples = static_cast<size_t>(g_nSampleCount);

    // calloc rather than a zero-initialising new: a long record's pages arrive from the
    // kernel already zero and cost nothing until a loader fills them.
    g_pECGData = static_cast<double**>(std::calloc(static_cast<size_t>(nSignals), sizeof(double*)));
    if (g_pECGData == nullptr) return false;
    if (samples == 0) return true;
    for (int i = 0; i < withArrays; ++i) {
        g_pECGData[i] = static_cast<double*>(std::calloc(samples, sizeof(double)));
        if (g_pECGData[i] == nullptr) return false;
    }
    return true;
}

bool ValidateECGData() {
    if (g_pECGData == nullptr || g_iECGSignalNumber <= 0) return false;
    const int kind = g_WaveformType;
    if (kind == WaveformMIT || kind == WaveformEDFChestV1V4 || kind == WaveformEDF) {
        // A mapping left from a record with more channels must not count as a fed output.
        bool anyFed = false;
        for (int channel : g_ECGMappingLead) anyFed = anyFed || (channel >= 0 && channel < g_iECGSignalNumber);
        if (!anyFed) return false;
    }
    const int required = kind == WaveformAHA ? 2 : g_iECGSignalNumber;
    if (g_iECGSignalNumber < required) return false;
    for (int i = 0; i < required; ++i) {
        if (g_pECGData[i] == nullptr) return false;
    }
    return true;
}

double AdjustVoltage(double mV) {
    const double range = g_fVoltageRange;  // one reading, though the range may change meanwhile
    if (mV > range) return range;
    if (mV < -range) return -range;
    return mV;
}

int DAC(double mV, int channel) {
    if (g_NoiseOn && g_WaveformType == WaveformFixedChannels) {
        mV += g_NoiseData[g_nNoiseCurrent % kNoiseSamples] / 1000.0;  // microvolts
    }
    // NaN would survive the clipping and make the integer conversion undefined.
    if (std::isnan(mV)) mV = 0.0;
    const double range = g_fVoltageRange;
    if (mV > range) mV = range;
    if (mV < -range) mV = -range;

    if (g_nDACBit != 0) {
        double code = 32768.0 + (mV / range) * 32000.0;
        if (std::isnan(code)) code = 32768.0;  // a zero or NaN range
        return static_cast<int>(ClampCode(code, kMaxCode16));
    }
    double code = 2048.0 + (mV / range) * 2000.0;
    if (std::isnan(code)) code = 2048.0;
    code = ClampCode(code, kMaxCode12);
    if (g_WaveformType != WaveformAHA && g_bDACAvailable && channel >= 0 && channel < 8) {
        // The table gives the code the channel really produces; move the request
        // by that error the other way. A table entry far off (or not a number)
        // must not wrap the code around to the other end of the scale.
        const double corrected = 2.0 * code - g_DACError[channel][static_cast<int>(code)];
        if (!std::isnan(corrected)) code = ClampCode(corrected, kMaxCode12);
    }
    return static_cast<int>(code);
}

TAVO_API void SetOutputVoltageRange(double mV) {
    try {
        // The range divides every sample and sizes the set-up command's range byte.
        if (!std::isfinite(mV) || mV <= 0.0) return;
        CAutoCriticalSection lock(g_CriticalSection);
        g_fVoltageRange = mV;
    } catch (...) {
    }
}

void SetOutputLoop(bool enable) {
    CAutoCriticalSection lock(g_CriticalSection);
    g_bPlayLoop = enable ? 1 : 0;
}

void EnableNoise(bool enable) {
    CAutoCriticalSection lock(g_CriticalSection);
    g_NoiseOn = enable ? 1 : 0;
}

bool GetWaveformSignal(int startSecond, int seconds, void (*callback)(double time, double* leads, bool last)) {
    if (callback == nullptr || !ValidateECGData()) return false;
    // In 64 bits: a large start second times the rate does not fit an int.
    const int64_t rate = g_nSampleRate;
    int64_t position = static_cast<int64_t>(startSecond) * rate;
    const int64_t end = (static_cast<int64_t>(startSecond) + seconds) * rate;
    const int64_t limit = g_WaveformType < WaveformSine ? g_nSampleCount : end;

    double leads[kLeadFrameValues] = {};
    if (position < end && position < limit) {
        do {
            PrepareSignalData(position, leads);
            callback(PreviewTime(position, rate), leads, false);
            ++position;
        } while (position < end && position != limit);
    }
    std::memset(leads, 0, sizeof(leads));
    callback(PreviewTime(position, rate), leads, true);
    return true;
}
