// tavo: C++ entry points that have no TAVO wrapper, and the synthetic ECG (C linkage).
//
// The C++ entry points take no lock of their own: the caller serialises them with the
// TAVO functions (for example by calling them from the thread that calls those).
// TAVOLoadSyntheticECG takes the library's lock like any TAVO function.
// Failures are false, null or 0, as stated at each declaration.
#ifndef TAVO_TAVO_EXT_H
#define TAVO_TAVO_EXT_H

#include <cstdint>

#include "tavo/tavo.h"

// Playback kinds: how the loaded signal is laid out and played (the value of
// the engine's playback-kind switch). Kinds below 128 have an end.
enum WaveformType : int {
    WaveformFixedChannels = 1,    // eight channels I, II, V1-V6 (CSE, reference records)
    WaveformAHA = 2,              // two channels
    WaveformMIT = 3,              // the record's channels, routed by the lead mapping
    WaveformKestrane = 4,         // eight channels, resampled to 1000 samples per second
    WaveformGenerated = 5,        // calibration signals, fixed voltages and synthetic ECG
    WaveformEDFChestV1V4 = 6,     // EDF record, chest outputs V1-V4 only
    WaveformEDF = 7,              // EDF record, all six chest outputs
    WaveformSine = 129,
    WaveformTriangle = 130,
    WaveformRectanglePulse = 131,
    WaveformSquare = 132,
    WaveformTrianglePulse = 133,
};

struct MODEL_INFORMATION_EX {
    char szModelCode[4];  // not terminated
    uint32_t nSerialIndex;
    uint32_t nSerialGroup;
};

struct HW_INFORMATION_EX {
    uint32_t nHWInfo0;
    uint32_t nHWInfo1;
    uint32_t nHWInfo2;
};

// Repository directory of converted EDF records; "c:\Physionet" (relative to the
// working directory) until the application points it elsewhere.
extern TAVO_API const char* g_pszRepository;

// Converts the EDF file into the repository, unless the record there was converted
// from this very file as it now is, and loads its header; the caller then loads the
// samples with TAVOLoadMITDatabase. kind is 6 or 7. Null on failure.
TAVO_API ECG_HEADER* LoadDatabaseEDF(const char* path, WaveformType kind);

// Mixes noise into an MIT record at snr dB and loads the result. Null on failure.
TAVO_API ECG_HEADER* LoadDatabaseNoiseTest(const char* signal, const char* noise, int snr);
// The same for the noise test set up with the WFDBNoiseTestEx... calls.
TAVO_API ECG_HEADER* LoadDatabaseNoiseTest();

// Loads mV on all eight outputs (one second, playback kind 5). False when memory is short.
TAVO_API bool LoadWaveformFixedVoltage(double mV);
// Full-scale output range in mV (5.0 at load); samples are clipped to +-range.
TAVO_API void SetOutputVoltageRange(double mV);

// Rhythm of a synthetic ECG.
enum TAVO_SYNTHETIC_RHYTHM {
    SYNTHETIC_REGULAR = 0,    // sinus beats at exactly the heart rate
    SYNTHETIC_IRREGULAR = 1,  // RR intervals drawn from the seed with the given variation; no P waves
    SYNTHETIC_PVC = 2,        // every nPVCInterval-th beat a premature ventricular one, then a compensatory pause
};

// A synthetic ECG; fill it with TAVOSyntheticECGDefaults, then change what the test needs.
// Amplitudes are those of lead II; the other leads follow the heart vector. A monitor reading
// the ST level at J + 60 ms also sees the start of the T wave: about 0.01 mV at 60 bpm with a
// 0.25 mV T wave, more at faster rates, as in a heart.
typedef struct TAVO_SYNTHETIC_ECG {
    int nHeartRate;         // beats per minute, 20-300
    int bPWaves;            // P waves before sinus beats (never in an irregular rhythm)
    int nRhythm;            // TAVO_SYNTHETIC_RHYTHM
    int nPVCInterval;       // 2-8: the beat that is premature ventricular
    unsigned int nSeed;     // seed of the irregular RR intervals
    double fAmplitude;      // R wave, 0.05-5 mV
    double fQRSWidth;       // QRS duration, 40-160 ms
    double fTWave;          // T wave as a fraction of the R wave, -1 to 2 (negative: inverted)
    double fSTOffset;       // ST segment shift from the J point on, -0.8 to 0.8 mV
    double fVariation;      // coefficient of variation of irregular RR intervals, 0-0.3
} TAVO_SYNTHETIC_ECG;

extern "C" {
// 60 bpm regular with P waves, R 1 mV, QRS 80 ms, T a quarter of R, no ST shift; variation
// 0.15, a PVC every 4th beat and seed 1 for the other rhythms. Null does nothing.
TAVO_API void TAVOSyntheticECGDefaults(TAVO_SYNTHETIC_ECG* params);
// Stops any output and loads a synthetic loop: eight channels I, II, V1-V6 at 1000 Hz
// (playback kind 5) holding a whole number of beats, so that looping it is seamless. In a
// regular rhythm beat k starts at sample round(k x 60000 / nHeartRate). The same parameters
// give the same samples on every host. Returns a new header (release with TAVOFreeECGHeader).
// Null, with nothing changed, for null or any field out of range; null when memory is short.
TAVO_API ECG_HEADER* TAVOLoadSyntheticECG(const TAVO_SYNTHETIC_ECG* params);
}

// Device identity of a newer generator (with a hardware information block); 0 for an older one.
TAVO_API int GetModelInfo(MODEL_INFORMATION_EX* info);
TAVO_API int GetHWInfo(HW_INFORMATION_EX* info);
// Rewrites the identity block on the device and reads it back; 0 on failure or an older device.
TAVO_API int UpdateDeviceInformation(MODEL_INFORMATION_EX* model, HW_INFORMATION_EX* hw);
// The 16 manufacturing bytes of the identity block: read from the copy in memory,
// written to the device. Both transfer min(length, 16) bytes.
TAVO_API int ReadMfgInfo(unsigned char* buffer, unsigned int length);
TAVO_API int WriteMfgInfo(const unsigned char* data, unsigned int length);
// Link identifier reported by the device; 0 when it did not answer.
TAVO_API unsigned int GetLinkID();

// Makes the device hold one 12-bit code on all outputs; returns the bytes written (64, or 0).
TAVO_API int DACSendStaticValue(int code);
// The calibration file of the connected device (in a static buffer the next call
// overwrites), and whether it was loaded at connection (12-bit devices only).
TAVO_API const char* GetDACFilePath();
TAVO_API int IsDACFileLoaded();
// Reserved; does nothing and returns false.
TAVO_API bool DACCompensation(void (*callback)(int*));

// Extension: why the latest attempt to claim a generator that is present failed for want
// of a usable lock folder, as one line of text ("lock folder /var/lock is missing", "... is
// not writable"); "" when nothing of the kind stood in the way. Points at a static buffer
// that the next call overwrites. The connection thread keeps trying meanwhile.
extern "C" {
TAVO_API const char* TAVOGetConnectionProblem(void);
}

// Stores a notification callback for a code; the library's own threads never call it.
TAVO_API void RegisterNotifyEvent(unsigned int code,
                                  void (*callback)(unsigned int, unsigned int, unsigned long));

// Record conversion into WFDB records in destFolder. True on success.
TAVO_API bool WFDBConvertAHA(const char* filePath, const char* destFolder);
TAVO_API bool WFDBConvertEDF(const char* filePath, const char* destFolder);

// Amplitude per signal in ADC units; release the array with WFDBMemFree. Null on failure.
TAVO_API double* WFDBSignalAmplitudeEx(char* filePath, int* numberOfSignals);
TAVO_API void WFDBMemFree(void* data);

// Noise stress test: writes output.hea and output.dat. True on success.
TAVO_API bool WFDBNoiseTest(char* signal, char* noise, char* output, int snr);
TAVO_API void WFDBNoiseTestExSetSignal(char* path);
TAVO_API void WFDBNoiseTestExAddNoise(char* path, double snr);
TAVO_API void WFDBNoiseTestExResetNoise();
TAVO_API bool WFDBNoiseTestExOutput(char* path);

#endif  // TAVO_TAVO_EXT_H
