/* tavo: host-side driver of the TAVO 2.0 eight-output ECG signal generator.
 *
 * A flat C interface. Every function may be called from any thread; one lock
 * serialises them. Failures are reported as false, null or 0, never as text,
 * and the library prints nothing. Callbacks run on library threads (see each
 * function) that hold no lock, and may call any function, TAVOStopOutput and
 * TAVOFree included. The one exception is the preview callback of
 * TAVOGetWaveformSignal: it runs with the library's lock held and must not call
 * the library at all (the call would wait for that lock for ever).
 */
#ifndef TAVO_TAVO_H
#define TAVO_TAVO_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define TAVO_API __attribute__((visibility("default")))
#else
#define TAVO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The generator's eight lead outputs, plus a channel that feeds none. */
typedef enum ECG_Lead {
    LEAD_I = 0,
    LEAD_II = 1,
    LEAD_V1 = 2,
    LEAD_V2 = 3,
    LEAD_V3 = 4,
    LEAD_V4 = 5,
    LEAD_V5 = 6,
    LEAD_V6 = 7,
    LEAD_NONE = 8
} ECG_Lead;

typedef struct ECG_CHANNEL {
    char szLeadName[16]; /* the channel's label, zero-terminated */
    ECG_Lead nLead;      /* the output it feeds; the application may change it */
} ECG_CHANNEL;

/* Parsed record header of an MIT record; opaque to the application. */
typedef struct WFDB_HEADER WFDB_HEADER;

/* The pointer keeps the 32-bit target's 4-byte alignment so that Channel stays
 * at offset 44 on every host; on a 64-bit host it takes 8 of the 16 bytes. */
#if defined(__GNUC__)
typedef WFDB_HEADER* TAVO_WFDB_HEADER_PTR __attribute__((aligned(4)));
#else
typedef WFDB_HEADER* TAVO_WFDB_HEADER_PTR;
#endif

/* A loaded record: 64 + 20 x nSignals bytes, one heap block, zero-filled.
 * Headers returned by the loaders belong to the application until it passes
 * them to TAVOFreeECGHeader. */
typedef struct ECG_HEADER {
    char szRecordName[16];
    int nSignals;
    int nSampleRate;
    int nSampleCount;
    TAVO_WFDB_HEADER_PTR pWFDBHeader;
    char Reserved[16 - sizeof(void*)];
    ECG_CHANNEL Channel[1]; /* nSignals entries, plus one spare slot */
} ECG_HEADER;

/* Periodic waveforms of TAVOLoadWaveform and TAVOLoadWaveformEx. */
typedef enum WAVEFORM_TYPE {
    WAVEFORM_SINE = 0,
    WAVEFORM_TRIANGLE = 1,
    WAVEFORM_SQUARE = 2
} WAVEFORM_TYPE;

typedef struct MODEL_INFORMATION {
    char szModelName[16];
    char szSerialNumber[16];
} MODEL_INFORMATION;

/* The built-in reference records, in table order. */
typedef enum CTSCSE_Database {
    CTSCSE_ANE20000, CTSCSE_ANE20001, CTSCSE_ANE20002,
    CTSCSE_CAL05000, CTSCSE_CAL10000, CTSCSE_CAL15000, CTSCSE_CAL20000,
    CTSCSE_CAL20002, CTSCSE_CAL20100, CTSCSE_CAL20110, CTSCSE_CAL20160,
    CTSCSE_CAL20200, CTSCSE_CAL20210, CTSCSE_CAL20260, CTSCSE_CAL20500,
    CTSCSE_CAL20502, CTSCSE_CAL30000, CTSCSE_CAL40000, CTSCSE_CAL50000,
    CTSCSE_MA1_001, CTSCSE_MA1_002, CTSCSE_MA1_003, CTSCSE_MA1_004, CTSCSE_MA1_005,
    CTSCSE_MA1_007, CTSCSE_MA1_008, CTSCSE_MA1_009, CTSCSE_MA1_011, CTSCSE_MA1_012,
    CTSCSE_MA1_013, CTSCSE_MA1_014, CTSCSE_MA1_015, CTSCSE_MA1_016, CTSCSE_MA1_017,
    CTSCSE_MA1_019, CTSCSE_MA1_021, CTSCSE_MA1_022, CTSCSE_MA1_024, CTSCSE_MA1_025,
    CTSCSE_MA1_026, CTSCSE_MA1_027, CTSCSE_MA1_028, CTSCSE_MA1_029, CTSCSE_MA1_030,
    CTSCSE_MA1_031, CTSCSE_MA1_032, CTSCSE_MA1_033, CTSCSE_MA1_034, CTSCSE_MA1_035,
    CTSCSE_MA1_036, CTSCSE_MA1_037, CTSCSE_MA1_038, CTSCSE_MA1_039, CTSCSE_MA1_040,
    CTSCSE_MA1_041, CTSCSE_MA1_042, CTSCSE_MA1_043, CTSCSE_MA1_044, CTSCSE_MA1_046,
    CTSCSE_MA1_047, CTSCSE_MA1_048, CTSCSE_MA1_049, CTSCSE_MA1_051, CTSCSE_MA1_053,
    CTSCSE_MA1_055, CTSCSE_MA1_058, CTSCSE_MA1_059, CTSCSE_MA1_060, CTSCSE_MA1_061,
    CTSCSE_MA1_062, CTSCSE_MA1_063, CTSCSE_MA1_064, CTSCSE_MA1_065, CTSCSE_MA1_066,
    CTSCSE_MA1_068, CTSCSE_MA1_069, CTSCSE_MA1_071, CTSCSE_MA1_072, CTSCSE_MA1_073,
    CTSCSE_MA1_074, CTSCSE_MA1_075, CTSCSE_MA1_076, CTSCSE_MA1_077, CTSCSE_MA1_078,
    CTSCSE_MA1_079, CTSCSE_MA1_080, CTSCSE_MA1_081, CTSCSE_MA1_082, CTSCSE_MA1_083,
    CTSCSE_MA1_084, CTSCSE_MA1_085, CTSCSE_MA1_086, CTSCSE_MA1_087, CTSCSE_MA1_088,
    CTSCSE_MA1_090, CTSCSE_MA1_091, CTSCSE_MA1_095, CTSCSE_MA1_096, CTSCSE_MA1_097,
    CTSCSE_MA1_098, CTSCSE_MA1_099, CTSCSE_MA1_101, CTSCSE_MA1_102, CTSCSE_MA1_103,
    CTSCSE_MA1_104, CTSCSE_MA1_105, CTSCSE_MA1_106, CTSCSE_MA1_107, CTSCSE_MA1_108,
    CTSCSE_MA1_110, CTSCSE_MA1_112, CTSCSE_MA1_113, CTSCSE_MA1_114, CTSCSE_MA1_115,
    CTSCSE_MA1_116, CTSCSE_MA1_118, CTSCSE_MA1_123, CTSCSE_MA1_124, CTSCSE_MA1_125
} CTSCSE_Database;

/* The built-in noise records; CTSCSE_NOISE_NONE plays the record clean. */
typedef enum CTSCSE_Noise {
    CTSCSE_NOISE_50HZ = 0,
    CTSCSE_NOISE_60HZ = 1,
    CTSCSE_NOISE_BL = 2,
    CTSCSE_NOISE_BL_HF = 3,
    CTSCSE_NOISE_HF_05 = 4,
    CTSCSE_NOISE_HF_10 = 5,
    CTSCSE_NOISE_HF_15 = 6,
    CTSCSE_NOISE_HF_20 = 7,
    CTSCSE_NOISE_HF_25 = 8,
    CTSCSE_NOISE_HF_30 = 9,
    CTSCSE_NOISE_HF_35 = 10,
    CTSCSE_NOISE_HF_40 = 11,
    CTSCSE_NOISE_HF_45 = 12,
    CTSCSE_NOISE_HF_50 = 13,
    CTSCSE_NOISE_NONE = 14
} CTSCSE_Noise;

/* Connection. The listener runs on the connection thread: true once the
 * generator is connected and identified, false when it is lost (its node gone,
 * or its port hung up or failing). Output, device commands and the closing "C"
 * reach only a generator that has been reported connected; before that,
 * TAVOOutputWaveform returns false and sends nothing. Called from the listener,
 * TAVOInit and TAVOConnect return false. TAVOFree called from a callback stops
 * output, lets the generator go and ends the connection thread, then returns;
 * called from the listener it cannot wait for its own thread, which ends when
 * the listener returns and is joined by the next TAVOInit, TAVOConnect or
 * TAVOFree (TAVOSetPlatformPaths is refused until then). The listener is not
 * called again after TAVOFree. */
TAVO_API bool TAVOInit(void (*callback)(bool connected));
/* Connects to one port (-1 scans all) and waits at most timeout ms. */
TAVO_API bool TAVOConnect(int port, unsigned int timeout);
TAVO_API void TAVOFree(void);

/* Device identity. The serial number points at a static buffer that the next call overwrites.
 * The device information fails, leaving info unchanged, when the serial number does not fit
 * its 16 bytes with a terminator. */
TAVO_API const char* TAVOGetSerialNumber(void);
TAVO_API bool TAVOGetDeviceInformation(MODEL_INFORMATION* info);

/* Records. Each load replaces the loaded signal and stops any output first. */
TAVO_API ECG_HEADER* TAVOLoadMITHeader(const char* path);
TAVO_API bool TAVOLoadMITDatabase(ECG_HEADER* header);
TAVO_API void TAVOUpdateECGHeaderMappingLead(ECG_HEADER* header);
TAVO_API void TAVOFreeECGHeader(ECG_HEADER* header);
TAVO_API ECG_HEADER* TAVOLoadDatabaseAHA(const char* path);
TAVO_API ECG_HEADER* TAVOLoadDatabaseCSE(const char* path);
TAVO_API ECG_HEADER* TAVOLoadDatabaseKestrane(const char* path);
TAVO_API ECG_HEADER* TAVOLoadDatabaseCTS_CSE(CTSCSE_Database record, CTSCSE_Noise noise);

/* Synthetic signals. Frequencies are rounded to 0.01 Hz and limited to 0..100 Hz,
 * amplitudes (mV, peak to peak) to -10..10; out-of-range values are corrected, not refused. */
TAVO_API bool TAVOLoadWaveform(WAVEFORM_TYPE type, double frequency, double amplitude);
TAVO_API bool TAVOLoadWaveformEx(WAVEFORM_TYPE type, double frequency, double* amplitudes);
TAVO_API bool TAVOLoadWaveformRectanglePulse(int pulseWidth, double frequency, double amplitude);
TAVO_API bool TAVOLoadWaveformTrianglePulse(int pulseWidth, double frequency, double amplitude);
TAVO_API bool TAVOLoadWaveformCalibrationMode(double frequency, double amplitude);
TAVO_API bool TAVOLoadWaveformAutoCalibrationMode(void);

/* Preview without a device: leads are I, II, III, aVR, aVL, aVF, V1-V6 in mV.
 * The callback runs on the calling thread with the library's lock held. */
TAVO_API bool TAVOGetWaveformSignal(int startSecond, int seconds,
                                    void (*callback)(double time, double* leads, bool last));

/* Playback. The output callback gets one lead frame (I, II, III, aVR, aVL, aVF,
 * V1-V6 in mV) per sample, in real time, on a library thread that holds no lock;
 * bLast marks a run's final element. The delay callback runs on the same
 * thread, after the reply that carried the report was read. A negative start,
 * one at or past the end of a record, and a start before the generator has been
 * reported connected are refused. */
TAVO_API void TAVOEnableLoop(bool enable);
TAVO_API void TAVOEnableNoise(bool enable);
TAVO_API bool TAVOIsOutputting(void);
TAVO_API bool TAVOOutputWaveform(int startSecond,
                                 void (*outputCallback)(double fOutputTime, double fSignalTime,
                                                        double* fLeads, bool bLast),
                                 void (*delayCallback)(int delay));
TAVO_API void TAVOStopOutput(void);

/* 0x01000504 for version 1.0.5.4. */
TAVO_API unsigned int TAVOGetVersion(void);

/* Moves the device directory ("/dev"), the lock directory ("/var/lock") and the
 * calibration directory ("/usr/local/kestrane/tavo"); a null argument keeps the
 * current value. Returns 1; returns 0 and changes nothing while connected or connecting. */
TAVO_API int TAVOSetPlatformPaths(const char* deviceDirectory, const char* lockDirectory,
                                  const char* calibrationDirectory);

#ifdef __cplusplus
}
#endif

#endif /* TAVO_TAVO_H */
