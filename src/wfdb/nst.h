#pragma once
// Noise stress test: mixes recorded noise, scaled to a signal-to-noise ratio,
// into an ECG record in alternating two-minute stretches after five clean
// minutes, and writes the result as a format-212 record (format 16 when the ECG's
// values need more than 12 bits), each signal in its input's unit. The configuration is
// process-wide and unlocked; callers serialise every use of it.

#include <string>
#include <vector>

#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_header.h"

struct NOISE_ITEM {
    std::string NoiseFilePath;          // the noise record's header, with or without ".hea"
    double SignalNoiseRatio = 0.0;      // dB
    WFDB_HEADER* WFDBHeader = nullptr;  // the noise record while a test runs; null otherwise
    std::vector<double> Ratio;           // per ECG signal: gain of this noise while noise is on
    std::vector<double> EffectiveRatio;  // per ECG signal: 0 in clean stretches, Ratio in noisy ones
    std::vector<double> Noise;           // the noise record's current frame, in ADC units
    std::vector<double> Output;          // per ECG signal; sized with the others, not used
};

extern std::string g_strSignalFilePath;
extern std::string g_strOutputFilePath;
extern std::vector<NOISE_ITEM> g_vecNoiseItem;

// Results of nst() and NSTOutput().
constexpr int kNSTSucceeded = 0;
constexpr int kNSTIncomplete = -1;     // no signal record, output path or noise item
constexpr int kNSTCannotLoad = -4;     // the ECG record or a noise record cannot be read
constexpr int kNSTCannotWrite = -8;    // the output record cannot be written

// Staged configuration; a null path stores an empty one.
void NSTSetSignal(const char* path);
void NSTAddNoise(const char* path, double snr);
void NSTResetNoise();

// Stores the output path and runs nst(). kNSTIncomplete, writing nothing, when
// the signal path, the output path or the noise list is empty.
int NSTOutput(const char* path);

// Runs the configured test: writes <output>.dat and <output>.hea. Returns
// kNSTSucceeded, kNSTCannotLoad or kNSTCannotWrite; on failure no output file
// is left behind and every record it opened is released.
int nst();
