#pragma once
// Stand-in ECG beats: a cardiac dipole made of Gaussian waves, projected onto the lead
// directions of I, II and V1-V6. One cycle per record, starting and ending on the baseline.

#include <cstdint>
#include <vector>

// One wave of the heart vector: a Gaussian in time (separate widths before and after its
// centre) along a fixed direction. Times are milliseconds from the R peak of a 1000 ms beat.
enum class EWavePhase { Atrial, Depolarisation, Repolarisation };

struct DIPOLE_WAVE {
    EWavePhase phase;
    double center;
    double widthBefore;
    double widthAfter;
    double x, y, z;  // millivolts; x to the patient's left, y downwards, z forwards
};

struct BEAT_MODEL {
    std::vector<DIPOLE_WAVE> waves;
    double leadGain[8];  // per-lead scale on top of the lead direction (electrode placement)
};

// The textbook beat of the analytical records: no random variation.
BEAT_MODEL AnalyticalBeatModel();
// A beat drawn from seed: rotated axis, scaled waves, and now and then a wide QRS,
// an inverted T, a shifted ST segment or a pathological Q.
BEAT_MODEL RandomBeatModel(uint64_t seed);

// One cycle of samples at 1000 Hz in millivolts, lead by lead (I, II, V1-V6), each value
// a whole number of microvolts. The first and last sample of every lead are exactly 0.
std::vector<double> RenderBeat(const BEAT_MODEL& model, int samples);
