// Synthetic test signals: the periodic waves are evaluated per output sample, the
// calibration signals are written into the store as ordinary eight-channel tables.

#include "engine/waveforms.h"

#include <algorithm>
#include <cmath>

#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "tavo/tavo_ext.h"

double g_fPeriodFrequency = 0.0;
double g_fPeriodAmplitude[8] = {};
int g_nPeriodPulseWidth = 0;

namespace {

constexpr int kStoreChannels = 8;
constexpr uint32_t kPeriodicRate = 1000;
constexpr double kTwoPi = 6.283185307179586;
constexpr uint32_t kCalibrationRate = 360;
constexpr int64_t kCalibrationSamples = 3600;
constexpr double kStaircaseLevels[] = {0.0, 0.2, 1.0, 2.0, 5.0, -0.2, -1.0, -2.0, -5.0};
constexpr int64_t kSecondsPerLevel = 5;

// A frequency of 0 (or anything not a positive number) is a period that never
// ends: the waveform stays in its first period (0 x an infinite period would be NaN).
double UsableFrequency(double frequency) {
    return frequency > 0.0 && std::isfinite(frequency) ? frequency : 0.0;
}

double PeriodOf(double frequency) { return frequency > 0.0 ? 1.0 / frequency : HUGE_VAL; }

// Seconds into the current period, never negative: a time before 0 lies in an earlier
// period, or at the start of an endless one.
double PhaseOf(double t, double period) {
    if (std::isinf(period)) return std::max(t, 0.0);
    return t - std::floor(t / period) * period;
}

int PeriodicKind(WAVEFORM_TYPE type) {
    switch (type) {
        case WAVEFORM_SINE: return WaveformSine;
        case WAVEFORM_TRIANGLE: return WaveformTriangle;
        case WAVEFORM_SQUARE: return WaveformSquare;
        default: return 0;
    }
}

// The caller holds the engine lock and has stopped output. The parameters change
// only once the scratch store exists.
bool InstallPeriodic(int kind, double frequency, const double* amplitudes, int pulseWidth) {
    CSignalReplacement replacement;
    g_WaveformType = kind;
    g_nSampleRate = kPeriodicRate;
    g_nSampleCount = 2;
    if (!ReallocateECGDataBuffer(kStoreChannels)) return false;
    replacement.Commit();
    g_nPeriodPulseWidth = pulseWidth;
    g_fPeriodFrequency = frequency;
    for (int ch = 0; ch < kStoreChannels; ++ch) g_fPeriodAmplitude[ch] = amplitudes[ch];
    return true;
}

bool InstallPeriodic(int kind, double frequency, double amplitude, int pulseWidth) {
    double amplitudes[kStoreChannels];
    for (double& a : amplitudes) a = amplitude;
    return InstallPeriodic(kind, frequency, amplitudes, pulseWidth);
}

// Allocates an eight-channel table of playback kind 5 and fills channel 0 with
// value(i); the other channels are copies. The caller holds the engine lock.
template <typename Value>
bool InstallTable(uint32_t rate, int64_t count, Value value) {
    CSignalReplacement replacement;
    g_WaveformType = WaveformGenerated;
    g_nSampleRate = rate;
    g_nSampleCount = count;
    if (!ReallocateECGDataBuffer(kStoreChannels)) return false;
    replacement.Commit();
    double* first = g_pECGData[0];
    for (int64_t i = 0; i < count; ++i) first[i] = value(i);
    for (int ch = 1; ch < kStoreChannels; ++ch) {
        for (int64_t i = 0; i < count; ++i) g_pECGData[ch][i] = first[i];
    }
    return true;
}

// Where a position falls in the current period, for a periodic kind.
struct PeriodicPoint {
    double frequency;  // usable frequency, 0 for an endless period
    double period;
    double phase;      // seconds into the period
    double sine;       // sin(2 pi f phase), for the sine kind only
};

PeriodicPoint PeriodicPointAt(int64_t position, int kind) {
    PeriodicPoint point;
    const double t = g_nSampleRate == 0 ? 0.0 : static_cast<double>(position) / g_nSampleRate;
    point.frequency = UsableFrequency(g_fPeriodFrequency);
    point.period = PeriodOf(point.frequency);
    point.phase = PhaseOf(t, point.period);
    point.sine = kind == WaveformSine ? std::sin(kTwoPi * point.frequency * point.phase) : 0.0;
    return point;
}

double PeriodicValue(int kind, const PeriodicPoint& point, double a) {
    const double phase = point.phase;
    const double period = point.period;
    const double width = g_nPeriodPulseWidth / 1000.0;  // seconds
    switch (kind) {
        case WaveformSine: return a * 0.5 * point.sine;
        case WaveformTriangle: {
            if (std::isinf(period)) return 0.0;  // an endless period has no slope: the wave stays at 0
            const double slope = 2.0 * a / period;
            if (phase < period / 4) return phase * slope;
            if (phase < 3 * period / 4) return a - phase * slope;
            return -2.0 * a + phase * slope;
        }
        case WaveformRectanglePulse: return phase <= width ? a / 2 : -a / 2;
        case WaveformSquare: return phase <= period / 2 ? a / 2 : -a / 2;
        case WaveformTrianglePulse: {
            // A pulse of no width is all rest (its half width would divide 0 by 0).
            if (g_nPeriodPulseWidth <= 0) return -a / 2;
            const double half = width / 2;
            if (phase <= half) return -a / 2 + (phase / half) * a;
            if (phase <= width) return a / 2 - ((phase - half) / half) * a;
            return -a / 2;
        }
        default: return 0.0;
    }
}

}  // namespace

bool LoadWaveform(WAVEFORM_TYPE type, double frequency, double amplitude) {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    const int kind = PeriodicKind(type);
    return kind != 0 && InstallPeriodic(kind, frequency, amplitude, 0);
}

bool LoadWaveformEx(WAVEFORM_TYPE type, double frequency, const double* amplitudes) {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    const int kind = PeriodicKind(type);
    return kind != 0 && amplitudes != nullptr && InstallPeriodic(kind, frequency, amplitudes, 0);
}

bool LoadWaveformRectanglePulse(int pulseWidth, double frequency, double amplitude) {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    return InstallPeriodic(WaveformRectanglePulse, frequency, amplitude, pulseWidth);
}

bool LoadWaveformTrianglePulse(int pulseWidth, double frequency, double amplitude) {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    return InstallPeriodic(WaveformTrianglePulse, frequency, amplitude, pulseWidth);
}

bool LoadWaveformCalibrationMode(double frequency, double amplitude) {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    const double period = PeriodOf(UsableFrequency(frequency));
    return InstallTable(kCalibrationRate, kCalibrationSamples, [&](int64_t i) {
        const double t = static_cast<double>(i) / kCalibrationRate;
        return PhaseOf(t, period) > period * 0.5 ? amplitude : 0.0;
    });
}

bool LoadWaveformAutoCalibrationMode() {
    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    constexpr int64_t levelSamples = kSecondsPerLevel * kPeriodicRate;
    constexpr int64_t levels = sizeof(kStaircaseLevels) / sizeof(kStaircaseLevels[0]);
    return InstallTable(kPeriodicRate, levels * levelSamples,
                        [](int64_t i) { return kStaircaseLevels[i / levelSamples]; });
}

TAVO_API bool LoadWaveformFixedVoltage(double mV) {
    try {
        CAutoCriticalSection lock(g_CriticalSection);
        StopOutput();
        return InstallTable(kPeriodicRate, kPeriodicRate, [mV](int64_t) { return mV; });
    } catch (...) {
        return false;
    }
}

double CalculatePeriodicalVoltage(int64_t position, int channel) {
    if (channel < 0 || channel >= kStoreChannels) return 0.0;
    const int kind = g_WaveformType;
    if (kind < WaveformSine || kind > WaveformTrianglePulse) return 0.0;
    return PeriodicValue(kind, PeriodicPointAt(position, kind), g_fPeriodAmplitude[channel]);
}

void CalculatePeriodicalFrame(int64_t position, double* values) {
    const int kind = g_WaveformType;
    if (kind < WaveformSine || kind > WaveformTrianglePulse) {
        for (int ch = 0; ch < kStoreChannels; ++ch) values[ch] = 0.0;
        return;
    }
    // The phase (and the sine) is shared by all channels; only the amplitude differs.
    const PeriodicPoint point = PeriodicPointAt(position, kind);
    for (int ch = 0; ch < kStoreChannels; ++ch) values[ch] = PeriodicValue(kind, point, g_fPeriodAmplitude[ch]);
}
