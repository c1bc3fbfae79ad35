#pragma once
// Twelve leads rebuilt from the codes a generator played, independently of the
// library: the check that what was reported is what went out.

#include <array>
#include <cstdint>

#include "svg_plot.h"

// Output channels carry I, II, then the chest electrodes V6 ... V1, each electrode
// (V + (I + II) x 0.33333333333) x 0.592731022038923 in mV. electrodeMv holds the
// eight channels in millivolts; the result is I, II, III, aVR, aVL, aVF, V1-V6.
std::array<double, kLeadCount> RebuildLeads(const std::array<double, 8>& electrodeMv);
