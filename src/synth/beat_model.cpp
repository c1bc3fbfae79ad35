// The beat model's waves, lead directions and timing. Rendering is left to its users: the
// build tool's one-cycle stand-ins and the synthetic ECG's loops.

#include "synth/beat_model.h"

#include <algorithm>
#include <cmath>

#include "synth/det_math.h"

namespace {
constexpr double kDegree = kPi / 180.0;

struct TIME_SCALE {
    double atrial, depolarisation, repolarisation;
};

double PhaseScale(const TIME_SCALE& scale, EWavePhase phase) {
    switch (phase) {
        case EWavePhase::Atrial: return scale.atrial;
        case EWavePhase::Depolarisation: return scale.depolarisation;
        default: return scale.repolarisation;
    }
}
}  // namespace

BEAT_MODEL AnalyticalBeatModel() {
    BEAT_MODEL model;
    model.waves = {
        {EWavePhase::Atrial, -160, 22, 22, 0.075, 0.12, 0.03},            // P
        {EWavePhase::Depolarisation, -22, 7, 7, -0.15, 0.025, 0.2},       // septal q
        {EWavePhase::Depolarisation, 0, 11, 11, 0.98, 0.77, -0.28},       // R
        {EWavePhase::Depolarisation, 24, 9, 9, -0.225, -0.135, -0.36},    // S
        {EWavePhase::Repolarisation, 250, 55, 35, 0.21, 0.21, 0.175},     // T
    };
    std::fill(model.leadGain, model.leadGain + kBeatLeads, 1.0);
    return model;
}

// I and II in the frontal plane (0 and 60 degrees); V1-V6 in the horizontal plane, from
// 120 degrees (right of the sternum, forwards) round to 5 degrees (the left side), with the
// larger gain of electrodes close to the heart.
LEAD_DIRECTION LeadDirection(int lead) {
    struct Chest {
        double angle, gain, y;
    };
    static constexpr Chest kChest[6] = {{120, 1.0, 0.0},  {95, 1.6, 0.0},  {75, 1.6, 0.05},
                                        {55, 1.5, 0.1},   {30, 1.2, 0.1},  {5, 1.0, 0.1}};
    if (lead == 0) return {1.0, 0.0, 0.0};
    if (lead == 1) return {Cosine(60 * kDegree), Sine(60 * kDegree), 0.0};
    const Chest& chest = kChest[lead - 2];
    return {chest.gain * Cosine(chest.angle * kDegree), chest.gain * chest.y,
            chest.gain * Sine(chest.angle * kDegree)};
}

double Project(const LEAD_DIRECTION& lead, const DIPOLE_WAVE& wave) {
    return lead.x * wave.x + lead.y * wave.y + lead.z * wave.z;
}

void LeadDirections(LEAD_DIRECTION* directions) {
    for (int lead = 0; lead < kBeatLeads; ++lead) directions[lead] = LeadDirection(lead);
}

void BeatLeadsAt(const std::vector<DIPOLE_WAVE>& waves, const LEAD_DIRECTION* directions, double time, double* leads) {
    double dx = 0.0, dy = 0.0, dz = 0.0;
    for (const DIPOLE_WAVE& wave : waves) {
        const double shape = WaveShape(wave, time);
        dx += shape * wave.x;
        dy += shape * wave.y;
        dz += shape * wave.z;
    }
    for (int lead = 0; lead < kBeatLeads; ++lead) {
        const LEAD_DIRECTION& d = directions[lead];
        leads[lead] = d.x * dx + d.y * dy + d.z * dz;
    }
}

void ScaleToCycle(std::vector<DIPOLE_WAVE>& waves, double rrMs) {
    const double rr = rrMs / 1000.0;
    const TIME_SCALE scale = {0.8 + 0.2 * rr, 1.0, std::sqrt(rr)};  // sqrt is correctly rounded on every IEEE host
    for (DIPOLE_WAVE& wave : waves) {
        const double factor = PhaseScale(scale, wave.phase);
        wave.center *= factor;
        wave.widthBefore *= factor;
        wave.widthAfter *= factor;
        wave.plateau *= factor;
    }
}

void Scale(DIPOLE_WAVE& wave, double factor) {
    wave.x *= factor;
    wave.y *= factor;
    wave.z *= factor;
}

double WaveShape(const DIPOLE_WAVE& wave, double time) {
    const double offset = time - wave.center;
    if (offset < 0) return Exp(-0.5 * (offset / wave.widthBefore) * (offset / wave.widthBefore));
    // Without a plateau this is offset itself, to the bit.
    const double beyond = offset - wave.plateau;
    if (beyond <= 0) return 1.0;
    return Exp(-0.5 * (beyond / wave.widthAfter) * (beyond / wave.widthAfter));
}
