#pragma once
// The engine's single loaded signal, the playback switches and the millivolt-to-DAC conversion.
//
// Engine lock g_CriticalSection: loaders, generators, the switches and the output start
// take it, inside the API lock and before the output-queue lock. The output threads read
// the store without it; every writer stops them first.

#include <atomic>
#include <cstdint>

#include "platform/critical_section.h"

constexpr int kNoiseSamples = 10000;

// One pointer per channel to g_nSampleCount samples in mV; a channel pointer may be null.
extern double** g_pECGData;
extern int g_iECGSignalNumber;
extern int64_t g_nSampleCount;
extern uint32_t g_nSampleRate;
// Playback kind (WaveformType in tavo_ext.h).
extern int g_WaveformType;
// The switches below may change while a run plays; its threads read them unlocked.
// Full scale in mV; samples are clipped to +-range.
extern std::atomic<double> g_fVoltageRange;
extern std::atomic<int> g_NoiseOn;
// The installed noise record in microvolts; added to fixed eight-channel records only.
extern int32_t g_NoiseData[kNoiseSamples];
extern uint64_t g_nNoiseCurrent;
extern std::atomic<int> g_bPlayLoop;
extern CSimpleCriticalSection g_CriticalSection;

// Releases every channel array and the pointer array; the channel count is kept.
void FreeECGDataBuffer();
// Replaces the store with nSignals zeroed channels of g_nSampleCount samples (channels 0-1
// only for kind 2; none when the count is 0). False when memory is short or the whole
// store would exceed half the address space: the channels allocated so far stay and
// ValidateECGData refuses the store.
bool ReallocateECGDataBuffer(int nSignals);
// A loader's way to replace the loaded signal whole or not at all. Made under the engine
// lock, it sets the signal (store, count, rate, kind) aside and leaves an empty store to
// build in; unless Commit is called, what was built is freed and the old signal comes
// back when it goes. Commit frees the old one.
class CSignalReplacement {
public:
    CSignalReplacement();
    ~CSignalReplacement();
    CSignalReplacement(const CSignalReplacement&) = delete;
    CSignalReplacement& operator=(const CSignalReplacement&) = delete;
    void Commit();
    // Commits when result is true or not null; returns result.
    template <class Result>
    Result CommitIf(Result result) {
        if (result) Commit();
        return result;
    }

private:
    double** m_data;
    int m_signals;
    int64_t m_count;
    uint32_t m_rate;
    int m_kind;
    bool m_isCommitted = false;
};

// True when the store can be played: every channel array the kind needs exists and, for
// the mapped kinds, at least one output lead is fed by a channel of the store.
bool ValidateECGData();

// mV clipped to +-g_fVoltageRange.
double AdjustVoltage(double mV);
// The DAC code of output channel 0-7 for mV: 12-bit (48..4048 over the range, calibrated
// when a table is loaded) or 16-bit (768..64768). Any double gives a valid code; NaN counts as 0 mV.
int DAC(double mV, int channel);

// The switches, each stored under the engine lock. SetOutputVoltageRange (tavo_ext.h)
// ignores a range that is not a finite positive number.
void SetOutputLoop(bool enable);
void EnableNoise(bool enable);

// Calls callback for every sample from startSecond for seconds (lead frame: I, II, III,
// aVR, aVL, aVF, V1-V6 in mV), then once with a zero frame and last = true.
// False when the store cannot be played or callback is null.
bool GetWaveformSignal(int startSecond, int seconds, void (*callback)(double time, double* leads, bool last));
