#pragma once
// The generator's output network as the command sees it, both ways: the eight output
// voltages that reported leads should produce, and the twelve leads that output
// voltages stand for. Written apart from the library's conversion on purpose, so that
// the demo checks one against the other.
//
// Output channels carry I, II, then the chest electrodes V6 ... V1, each chest output
// (V + (I + II) x 0.33333333333) x 0.592731022038923 in mV, for every playback kind
// except AHA and EDF records, which divide by 1.665 instead.

#include <array>

#include "svg_plot.h"

constexpr int kOutputCount = 8;
using OutputVoltages = std::array<double, kOutputCount>;

// Outputs for leads I, II, III, aVR, aVL, aVF, V1-V6 in mV, each lead clipped to
// +-rangeMv first as the library clips them.
OutputVoltages OutputsFromLeads(const std::array<double, kLeadCount>& leads, double rangeMv);

// The twelve leads the outputs stand for.
std::array<double, kLeadCount> LeadsFromOutputs(const OutputVoltages& outputs);
