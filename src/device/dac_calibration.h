#pragma once
// Per-device DAC calibration of 12-bit generators.

// For output channel c and requested code k, the code the channel really produces.
extern double g_DACError[8][4096];
// True once a calibration file was loaded for the connected 12-bit device.
extern int g_bDACAvailable;

// <calibrationDirectory>/TAVO_DAC<short serial number>.txt, in a static buffer that the
// next call overwrites.
const char* GetDACFilePath();

// On an identified 12-bit device, reads the calibration file named after the short serial
// number into g_DACError (line k is row k; more lines or values are ignored) and sets
// g_bDACAvailable. Anything short of 4096 rows of 8 numbers within 0-4095 (or a 16-bit
// device, or no file) leaves the flag clear and the table zero.
void LoadDACFile();

// g_bDACAvailable.
int IsDACFileLoaded();
