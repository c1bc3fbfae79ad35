#pragma once
// Per-device DAC calibration of 12-bit generators.

// For output channel c and requested code k, the code the channel really produces.
extern double g_DACError[8][4096];
// True once a calibration file was loaded for the connected 12-bit device.
extern int g_bDACAvailable;

// <calibrationDirectory>/TAVO_DAC<short serial number>.txt, in a static buffer that the
// next call overwrites.
const char* GetDACFilePath();

// On a 12-bit device, reads the calibration file named after the short serial number
// into g_DACError (rows from 0, at most 4096 lines of up to 8 values) and sets
// g_bDACAvailable. A 16-bit device, or a missing or unreadable file, clears the flag and
// leaves the table as it was.
void LoadDACFile();

// g_bDACAvailable.
int IsDACFileLoaded();
