#pragma once
// Per-device DAC calibration of 12-bit generators.

// For output channel c and requested code k, the code the channel really produces.
extern double g_DACError[8][4096];
// True once a calibration file was loaded for the connected 12-bit device.
extern int g_bDACAvailable;
