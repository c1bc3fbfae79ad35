#pragma once
// The parametric beat: a cardiac dipole made of Gaussian waves, projected onto the lead
// directions of the generator's eight channels I, II, V1-V6. Pure arithmetic, the same bits on
// every host; the built-in records and the synthetic ECG are both drawn from it.

#include <vector>

constexpr int kBeatLeads = 8;

// Which part of the cycle a wave belongs to decides how it stretches with the cycle length.
enum class EWavePhase { Atrial, Depolarisation, Repolarisation };

// One wave of the heart vector: a Gaussian in time (separate widths before and after its
// centre) along a fixed direction, optionally held at full strength for `plateau` ms after
// its centre. Times are milliseconds from the R peak of a 1000 ms beat.
struct DIPOLE_WAVE {
    EWavePhase phase;
    double center;
    double widthBefore;
    double widthAfter;
    double x, y, z;  // millivolts; x to the patient's left, y downwards, z forwards
    double plateau = 0.0;
};

struct BEAT_MODEL {
    std::vector<DIPOLE_WAVE> waves;
    double leadGain[kBeatLeads];  // per-lead scale on top of the lead direction (electrode placement)
};

struct LEAD_DIRECTION {
    double x, y, z;
};

// The textbook beat: P, septal q, R, S and T, no random variation.
BEAT_MODEL AnalyticalBeatModel();

// Direction of lead 0-7 (I, II, V1-V6), with the gain of the electrode's distance from the heart.
LEAD_DIRECTION LeadDirection(int lead);
double Project(const LEAD_DIRECTION& lead, const DIPOLE_WAVE& wave);
// directions[0..7] = LeadDirection(0..7), computed once for a rendering loop.
void LeadDirections(LEAD_DIRECTION* directions);
// The eight leads at time ms from the R peak: the waves' summed heart vector projected onto
// each of directions (filled by LeadDirections).
void BeatLeadsAt(const std::vector<DIPOLE_WAVE>& waves, const LEAD_DIRECTION* directions, double time, double* leads);

// Stretches the waves for a cycle of rrMs the way a heart does: the QT with the square root of
// the RR interval, the PR a little, the QRS not at all.
void ScaleToCycle(std::vector<DIPOLE_WAVE>& waves, double rrMs);
// Multiplies the wave's direction, and so its strength in every lead, by factor.
void Scale(DIPOLE_WAVE& wave, double factor);
// Strength 0..1 of the wave at time ms from the R peak.
double WaveShape(const DIPOLE_WAVE& wave, double time);
