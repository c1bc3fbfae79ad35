// The parametric beat model behind the ANE and MA1 stand-ins.
// Timing follows the cycle length the way a heart does: the QT stretch with the square root of
// the RR interval, the PR a little, the QRS not at all.

#include "standin_ecg.h"

#include <algorithm>
#include <cmath>

#include "det_math.h"

namespace {
constexpr int kLeads = 8;
constexpr double kTailWidths = 3.5;   // a wave is taken to end this many widths from its centre
constexpr int kTaperSamples = 20;     // raised-cosine taper that pins both ends to the baseline
constexpr double kDegree = kPi / 180.0;

struct LEAD_DIRECTION {
    double x, y, z;
};

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

struct TIME_SCALE {
    double atrial, depolarisation, repolarisation;
};

TIME_SCALE ScaleFor(int samples) {
    const double rr = samples / 1000.0;
    return {0.8 + 0.2 * rr, 1.0, std::sqrt(rr)};  // sqrt is correctly rounded on every IEEE host
}

double PhaseScale(const TIME_SCALE& scale, EWavePhase phase) {
    switch (phase) {
        case EWavePhase::Atrial: return scale.atrial;
        case EWavePhase::Depolarisation: return scale.depolarisation;
        default: return scale.repolarisation;
    }
}

void Rotate(DIPOLE_WAVE& wave, double frontal, double horizontal) {
    const double cf = Cosine(frontal), sf = Sine(frontal);
    const double x1 = wave.x * cf - wave.y * sf;
    const double y1 = wave.x * sf + wave.y * cf;
    const double ch = Cosine(horizontal), sh = Sine(horizontal);
    wave.x = x1 * ch - wave.z * sh;
    wave.y = y1;
    wave.z = x1 * sh + wave.z * ch;
}

void Scale(DIPOLE_WAVE& wave, double factor) {
    wave.x *= factor;
    wave.y *= factor;
    wave.z *= factor;
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
    std::fill(model.leadGain, model.leadGain + kLeads, 1.0);
    return model;
}

BEAT_MODEL RandomBeatModel(uint64_t seed) {
    CSplitMix64 random(seed);
    BEAT_MODEL model = AnalyticalBeatModel();
    DIPOLE_WAVE& p = model.waves[0];
    DIPOLE_WAVE& q = model.waves[1];
    DIPOLE_WAVE& r = model.waves[2];
    DIPOLE_WAVE& s = model.waves[3];
    DIPOLE_WAVE& t = model.waves[4];

    Scale(p, random.Uniform(0.6, 1.3));
    p.center *= random.Uniform(0.85, 1.3);
    const double qrsAmplitude = random.Uniform(0.6, 1.4);
    const double qrsWidth = random.Uniform(0.85, 1.2);
    for (DIPOLE_WAVE* wave : {&q, &r, &s}) {
        Scale(*wave, qrsAmplitude * random.Uniform(0.8, 1.2));
        wave->center *= qrsWidth;
        wave->widthBefore *= qrsWidth;
        wave->widthAfter *= qrsWidth;
    }
    Scale(t, random.Uniform(0.5, 1.4));
    t.center *= random.Uniform(0.9, 1.1);

    const double variant = random.Uniform();
    if (variant < 0.12) {  // right bundle-branch-like late rightward, forward force (R' in V1)
        model.waves.push_back({EWavePhase::Depolarisation, 55, 14, 14, -0.36, 0.06, 0.48});
    } else if (variant < 0.20) {  // left bundle-branch-like: no septal q, slow leftward, backward force
        model.waves[1].x = model.waves[1].y = model.waves[1].z = 0.0;
        model.waves.push_back({EWavePhase::Depolarisation, 45, 18, 18, 0.56, -0.08, -0.56});
        Scale(model.waves[4], -0.8);
    } else if (variant < 0.32) {  // inverted T
        Scale(t, -0.5);
    } else if (variant < 0.42) {  // shifted ST segment
        const double sign = random.Uniform() < 0.5 ? -1.0 : 1.0;
        model.waves.push_back({EWavePhase::Repolarisation, 110, 45, 45, sign * 0.06, sign * 0.08, sign * 0.06});
    } else if (variant < 0.50) {  // inferior Q: an early upward force
        model.waves.push_back({EWavePhase::Depolarisation, -18, 10, 10, -0.05, -0.4, 0.1});
    }

    const double frontal = random.Uniform(-40, 40) * kDegree;
    const double horizontal = random.Uniform(-25, 25) * kDegree;
    for (DIPOLE_WAVE& wave : model.waves) {
        // The atria turn with the ventricles only in part.
        const double share = wave.phase == EWavePhase::Atrial ? 0.3 : 1.0;
        Rotate(wave, share * frontal, share * horizontal);
    }
    for (double& gain : model.leadGain) gain = random.Uniform(0.9, 1.1);
    return model;
}

std::vector<double> RenderBeat(const BEAT_MODEL& model, int samples) {
    std::vector<double> leads(size_t(kLeads) * size_t(samples), 0.0);
    if (samples < 2) return leads;

    const TIME_SCALE scale = ScaleFor(samples);
    std::vector<DIPOLE_WAVE> waves = model.waves;
    double before = 0.0, after = 0.0;
    for (DIPOLE_WAVE& wave : waves) {
        const double factor = PhaseScale(scale, wave.phase);
        wave.center *= factor;
        wave.widthBefore *= factor;
        wave.widthAfter *= factor;
        before = std::max(before, kTailWidths * wave.widthBefore - wave.center);
        after = std::max(after, wave.center + kTailWidths * wave.widthAfter);
    }
    // A little baseline before the P wave, more after the T wave, as in a resting beat.
    const double slack = samples - before - after;
    const double rPeak = slack > 0 ? before + 0.3 * slack : samples * before / (before + after);

    LEAD_DIRECTION directions[kLeads];
    for (int lead = 0; lead < kLeads; ++lead) directions[lead] = LeadDirection(lead);

    for (int k = 0; k < samples; ++k) {
        const double time = k - rPeak;
        double dx = 0.0, dy = 0.0, dz = 0.0;
        for (const DIPOLE_WAVE& wave : waves) {
            const double offset = time - wave.center;
            const double width = offset < 0 ? wave.widthBefore : wave.widthAfter;
            const double shape = Exp(-0.5 * (offset / width) * (offset / width));
            dx += shape * wave.x;
            dy += shape * wave.y;
            dz += shape * wave.z;
        }
        double taper = 1.0;
        const int edge = std::min(k, samples - 1 - k);
        if (edge < kTaperSamples) taper = 0.5 - 0.5 * Cosine(kPi * edge / kTaperSamples);
        for (int lead = 0; lead < kLeads; ++lead) {
            const LEAD_DIRECTION& d = directions[lead];
            const double mV = taper * model.leadGain[lead] * (d.x * dx + d.y * dy + d.z * dz);
            leads[size_t(lead) * size_t(samples) + size_t(k)] = RoundToInt(mV * 1000.0) / 1000.0;
        }
    }
    return leads;
}
