// The calibration table that pre-distorts 12-bit DAC codes.

#include "device/dac_calibration.h"

double g_DACError[8][4096] = {};
int g_bDACAvailable = 0;
