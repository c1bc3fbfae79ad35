// tavo: C++ entry points that have no TAVO wrapper.
//
// They take no lock of their own: the caller serialises them with the TAVO
// functions (for example by calling them from the thread that calls those).
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
    WaveformGenerated = 5,        // calibration signals and fixed voltages
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
