#pragma once
// What the virtual generator played, written as a WFDB record a person can look at.

#include <string>
#include <vector>

#include "sim/sim_packet.h"

namespace sim {

// Writes <directory>/<name>.hea and <name>.dat: format 16, eight signals in output order,
// labelled I, II, "V6 output" ... "V1 output", each sample the code less the mid-scale code and the
// gain chosen so that the stored value reads back as (code - mid) / full * range mV,
// exactly. range <= 0 is taken as 5 mV. False when a file cannot be written.
bool WritePlayedRecord(const std::string& directory, const std::string& name, const std::vector<Frame>& frames,
                       bool is16Bit, double sampleRate, double range);

}  // namespace sim
