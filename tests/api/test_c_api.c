/* The public header compiles as plain C, keeps the ECG_HEADER byte layout, and
 * declares every export with its documented result type. Nothing here is called
 * except through CApiVersion, so the declarations need no definitions yet. */

#include <stddef.h>

#include "tavo/tavo.h"

_Static_assert(offsetof(ECG_HEADER, szRecordName) == 0, "szRecordName at 0");
_Static_assert(offsetof(ECG_HEADER, nSignals) == 16, "nSignals at 16");
_Static_assert(offsetof(ECG_HEADER, nSampleRate) == 20, "nSampleRate at 20");
_Static_assert(offsetof(ECG_HEADER, nSampleCount) == 24, "nSampleCount at 24");
_Static_assert(offsetof(ECG_HEADER, pWFDBHeader) == 28, "pWFDBHeader at 28");
_Static_assert(offsetof(ECG_HEADER, Channel) == 44, "Channel at 44");
_Static_assert(sizeof(ECG_HEADER) == 64, "64 + 20 x 0 bytes");
_Static_assert(sizeof(ECG_CHANNEL) == 20, "20 bytes per channel");
_Static_assert(offsetof(ECG_CHANNEL, nLead) == 16, "nLead after the label");
_Static_assert(sizeof(ECG_Lead) == 4, "leads are 32-bit");
_Static_assert(sizeof(MODEL_INFORMATION) == 32, "model information is 32 bytes");
_Static_assert(CTSCSE_MA1_125 == 118, "119 reference records");
_Static_assert(CTSCSE_NOISE_NONE == 14, "14 noises and none");

static void Listener(bool connected) { (void)connected; }
static void Preview(double time, double* leads, bool last) { (void)time; (void)leads; (void)last; }
static void Output(double a, double b, double* leads, bool last) { (void)a; (void)b; (void)leads; (void)last; }
static void Delay(int delay) { (void)delay; }

/* sizeof does not evaluate its operand: these check declarations and result types only. */
_Static_assert(sizeof(TAVOInit(Listener)) == sizeof(bool), "TAVOInit");
_Static_assert(sizeof(TAVOConnect(-1, 1000u)) == sizeof(bool), "TAVOConnect");
_Static_assert(sizeof(TAVOGetSerialNumber()) == sizeof(const char*), "TAVOGetSerialNumber");
_Static_assert(sizeof(TAVOGetDeviceInformation((MODEL_INFORMATION*)0)) == sizeof(bool), "TAVOGetDeviceInformation");
_Static_assert(sizeof(TAVOIsOutputting()) == sizeof(bool), "TAVOIsOutputting");
_Static_assert(sizeof(TAVOLoadMITHeader("")) == sizeof(ECG_HEADER*), "TAVOLoadMITHeader");
_Static_assert(sizeof(TAVOLoadMITDatabase((ECG_HEADER*)0)) == sizeof(bool), "TAVOLoadMITDatabase");
_Static_assert(sizeof(TAVOLoadDatabaseAHA("")) == sizeof(ECG_HEADER*), "TAVOLoadDatabaseAHA");
_Static_assert(sizeof(TAVOLoadDatabaseCSE("")) == sizeof(ECG_HEADER*), "TAVOLoadDatabaseCSE");
_Static_assert(sizeof(TAVOLoadDatabaseKestrane("")) == sizeof(ECG_HEADER*), "TAVOLoadDatabaseKestrane");
_Static_assert(sizeof(TAVOLoadDatabaseCTS_CSE(CTSCSE_CAL05000, CTSCSE_NOISE_NONE)) == sizeof(ECG_HEADER*), "CTS_CSE");
_Static_assert(sizeof(TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0)) == sizeof(bool), "TAVOLoadWaveform");
_Static_assert(sizeof(TAVOLoadWaveformEx(WAVEFORM_SQUARE, 1.0, (double*)0)) == sizeof(bool), "TAVOLoadWaveformEx");
_Static_assert(sizeof(TAVOLoadWaveformRectanglePulse(100, 1.0, 1.0)) == sizeof(bool), "rectangle pulse");
_Static_assert(sizeof(TAVOLoadWaveformTrianglePulse(100, 1.0, 1.0)) == sizeof(bool), "triangle pulse");
_Static_assert(sizeof(TAVOLoadWaveformCalibrationMode(1.0, 1.0)) == sizeof(bool), "calibration");
_Static_assert(sizeof(TAVOLoadWaveformAutoCalibrationMode()) == sizeof(bool), "auto calibration");
_Static_assert(sizeof(TAVOGetWaveformSignal(0, 1, Preview)) == sizeof(bool), "TAVOGetWaveformSignal");
_Static_assert(sizeof(TAVOOutputWaveform(0, Output, Delay)) == sizeof(bool), "TAVOOutputWaveform");
_Static_assert(sizeof(TAVOGetVersion()) == sizeof(unsigned int), "TAVOGetVersion");
_Static_assert(sizeof(TAVOSetPlatformPaths(0, 0, 0)) == sizeof(int), "TAVOSetPlatformPaths");
/* The void exports: their addresses are taken only inside sizeof as well. */
_Static_assert(sizeof(&TAVOFree) && sizeof(&TAVOUpdateECGHeaderMappingLead) && sizeof(&TAVOFreeECGHeader) &&
                   sizeof(&TAVOEnableLoop) && sizeof(&TAVOEnableNoise) && sizeof(&TAVOStopOutput),
               "void exports");

unsigned int CApiVersion(void) { return TAVOGetVersion(); }
