// Exports that load synthetic signals, hand back headers, preview the loaded signal
// and set the playback switches. Arguments are corrected before the lock is taken.

#include "api/api_lock.h"
#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "loaders/synthetic_loader.h"
#include "synth/synthetic_ecg.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int kAmplitudeCount = 8;

// A load of one frequency and one amplitude: both corrected, then loaded under the lock.
template <typename Load>
bool LoadCorrected(double frequency, double amplitude, Load load) {
    return Guarded([&]() -> bool {
        ValidateFrequency(frequency);
        ValidateAmplitude(amplitude);
        CAutoCriticalSection lock(g_APICriticalSection);
        return load(frequency, amplitude);
    });
}

}  // namespace

extern "C" TAVO_API void TAVOUpdateECGHeaderMappingLead(ECG_HEADER* header) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        UpdateMappingLead(header);
    });
}

extern "C" TAVO_API void TAVOFreeECGHeader(ECG_HEADER* header) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        FreeECGHeader(header);
    });
}

// A C caller may pass any number as the type: it is carried as an int until the engine has
// checked it, never read back through memory as the enumeration.
extern "C" TAVO_API bool TAVOLoadWaveform(WAVEFORM_TYPE type, double frequency, double amplitude) {
    const int kind = type;
    return LoadCorrected(frequency, amplitude,
                         [kind](double f, double a) { return LoadWaveform(static_cast<WAVEFORM_TYPE>(kind), f, a); });
}

extern "C" TAVO_API bool TAVOLoadWaveformEx(WAVEFORM_TYPE type, double frequency, double* amplitudes) {
    const int kind = type;
    return Guarded([&]() -> bool {
        if (amplitudes == nullptr) return false;
        ValidateFrequency(frequency);
        // Corrected in the caller's array, which then shows what is played.
        for (int i = 0; i < kAmplitudeCount; ++i) ValidateAmplitude(amplitudes[i]);
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadWaveformEx(static_cast<WAVEFORM_TYPE>(kind), frequency, amplitudes);
    });
}

extern "C" TAVO_API bool TAVOLoadWaveformRectanglePulse(int pulseWidth, double frequency, double amplitude) {
    return LoadCorrected(frequency, amplitude,
                         [&](double f, double a) { return LoadWaveformRectanglePulse(pulseWidth, f, a); });
}

extern "C" TAVO_API bool TAVOLoadWaveformTrianglePulse(int pulseWidth, double frequency, double amplitude) {
    return LoadCorrected(frequency, amplitude,
                         [&](double f, double a) { return LoadWaveformTrianglePulse(pulseWidth, f, a); });
}

extern "C" TAVO_API bool TAVOLoadWaveformCalibrationMode(double frequency, double amplitude) {
    return LoadCorrected(frequency, amplitude, [&](double f, double a) { return LoadWaveformCalibrationMode(f, a); });
}

extern "C" TAVO_API bool TAVOLoadWaveformAutoCalibrationMode(void) {
    return Guarded([&]() -> bool {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadWaveformAutoCalibrationMode();
    });
}

// Touches no shared state, so it needs no lock.
extern "C" TAVO_API void TAVOSyntheticECGDefaults(TAVO_SYNTHETIC_ECG* params) {
    if (params != nullptr) FillSyntheticECGDefaults(*params);
}

extern "C" TAVO_API ECG_HEADER* TAVOLoadSyntheticECG(const TAVO_SYNTHETIC_ECG* params) {
    return Guarded([&]() -> ECG_HEADER* {
        if (params == nullptr) return nullptr;
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadSyntheticECG(*params);
    });
}

extern "C" TAVO_API bool TAVOGetWaveformSignal(int startSecond, int seconds,
                                               void (*callback)(double time, double* leads, bool last)) {
    return Guarded([&]() -> bool {
        CAutoCriticalSection lock(g_APICriticalSection);
        return GetWaveformSignal(startSecond, seconds, callback);
    });
}

extern "C" TAVO_API void TAVOEnableLoop(bool enable) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        SetOutputLoop(enable);
    });
}

extern "C" TAVO_API void TAVOEnableNoise(bool enable) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        EnableNoise(enable);
    });
}
