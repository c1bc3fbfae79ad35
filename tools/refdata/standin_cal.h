#pragma once
// Stand-in calibration records: one pulse up and its mirror image down, the same on all leads.

#include <string>
#include <vector>

// One cycle of the calibration record `name` ("CAL" + amplitude in tenths of a millivolt +
// three shape digits) in millivolts, lead by lead, all eight leads equal. Empty when the name
// is not a calibration record of the set.
std::vector<double> RenderCalibration(const std::string& name, int samples);
