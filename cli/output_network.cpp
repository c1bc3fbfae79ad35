// The output network's arithmetic, forward and back.

#include "output_network.h"

#include <algorithm>

namespace {

constexpr double kReferenceFraction = 0.33333333333;  // the generator's Wilson-terminal fraction
constexpr double kChestGain = 0.592731022038923;
constexpr int kLeadI = 0, kLeadII = 1, kLeadV1 = 6;
constexpr int kFirstChestOutput = 2;

// Output channel c (2-7) carries chest lead V(8 - c).
int ChestLeadOfOutput(int channel) { return kLeadV1 + (7 - channel); }

}  // namespace

OutputVoltages OutputsFromLeads(const std::array<double, kLeadCount>& leads, double rangeMv) {
    const auto clip = [rangeMv](double mv) { return std::clamp(mv, -rangeMv, rangeMv); };
    OutputVoltages outputs{};
    outputs[0] = clip(leads[kLeadI]);
    outputs[1] = clip(leads[kLeadII]);
    const double reference = (outputs[0] + outputs[1]) * kReferenceFraction;
    for (int channel = kFirstChestOutput; channel < kOutputCount; ++channel) {
        outputs[channel] = (clip(leads[ChestLeadOfOutput(channel)]) + reference) * kChestGain;
    }
    return outputs;
}

std::array<double, kLeadCount> LeadsFromOutputs(const OutputVoltages& outputs) {
    std::array<double, kLeadCount> leads{};
    const double leadI = outputs[0];
    const double leadII = outputs[1];
    const double leadIII = leadII - leadI;
    const double reference = (leadI + leadII) * kReferenceFraction;
    leads = {leadI, leadII, leadIII, (leadI + leadII) * -0.5, (leadI - leadIII) * 0.5, (leadII + leadIII) * 0.5};
    for (int channel = kFirstChestOutput; channel < kOutputCount; ++channel) {
        leads[ChestLeadOfOutput(channel)] = outputs[channel] / kChestGain - reference;
    }
    return leads;
}
