// Inverse of the output network: electrode voltages back to the twelve leads.

#include "lead_rebuild.h"

namespace {
constexpr double kReferenceFraction = 0.33333333333;  // the generator's Wilson-terminal fraction
constexpr double kChestGain = 0.592731022038923;
}  // namespace

std::array<double, kLeadCount> RebuildLeads(const std::array<double, 8>& electrodeMv) {
    std::array<double, kLeadCount> leads{};
    const double leadI = electrodeMv[0];
    const double leadII = electrodeMv[1];
    const double reference = (leadI + leadII) * kReferenceFraction;
    leads[0] = leadI;
    leads[1] = leadII;
    leads[2] = leadII - leadI;
    leads[3] = (leadI + leadII) * -0.5;
    leads[4] = (leadI - leads[2]) * 0.5;
    leads[5] = (leadII + leads[2]) * 0.5;
    for (int channel = 2; channel < 8; ++channel) {
        const int chest = 8 - channel;  // V1..V6
        leads[5 + chest] = electrodeMv[channel] / kChestGain - reference;
    }
    return leads;
}
