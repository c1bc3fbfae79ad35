// The ANE and MA1 stand-ins: the library's beat model with a seeded variety of its own, rendered
// one cycle at a time with both ends tapered onto the baseline.

#include "standin_ecg.h"

#include <algorithm>

#include "synth/det_math.h"

namespace {
constexpr double kTailWidths = 3.5;   // a wave is taken to end this many widths from its centre
constexpr int kTaperSamples = 20;     // raised-cosine taper that pins both ends to the baseline
constexpr double kDegree = kPi / 180.0;

void Rotate(DIPOLE_WAVE& wave, double frontal, double horizontal) {
    const double cf = Cosine(frontal), sf = Sine(frontal);
    const double x1 = wave.x * cf - wave.y * sf;
    const double y1 = wave.x * sf + wave.y * cf;
    const double ch = Cosine(horizontal), sh = Sine(horizontal);
    wave.x = x1 * ch - wave.z * sh;
    wave.y = y1;
    wave.z = x1 * sh + wave.z * ch;
}
}  // namespace

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
    std::vector<double> leads(size_t(kBeatLeads) * size_t(samples), 0.0);
    if (samples < 2) return leads;

    std::vector<DIPOLE_WAVE> waves = model.waves;
    ScaleToCycle(waves, samples);
    double before = 0.0, after = 0.0;
    for (const DIPOLE_WAVE& wave : waves) {
        before = std::max(before, kTailWidths * wave.widthBefore - wave.center);
        after = std::max(after, wave.center + kTailWidths * wave.widthAfter);
    }
    // A little baseline before the P wave, more after the T wave, as in a resting beat.
    const double slack = samples - before - after;
    const double rPeak = slack > 0 ? before + 0.3 * slack : samples * before / (before + after);

    LEAD_DIRECTION directions[kBeatLeads];
    LeadDirections(directions);

    for (int k = 0; k < samples; ++k) {
        double beat[kBeatLeads];
        BeatLeadsAt(waves, directions, k - rPeak, beat);
        double taper = 1.0;
        const int edge = std::min(k, samples - 1 - k);
        if (edge < kTaperSamples) taper = 0.5 - 0.5 * Cosine(kPi * edge / kTaperSamples);
        for (int lead = 0; lead < kBeatLeads; ++lead) {
            const double mV = taper * model.leadGain[lead] * beat[lead];
            leads[size_t(lead) * size_t(samples) + size_t(k)] = RoundToInt(mV * 1000.0) / 1000.0;
        }
    }
    return leads;
}
