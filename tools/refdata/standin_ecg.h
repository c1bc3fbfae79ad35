#pragma once
// Stand-in ECG beats drawn from the library's beat model: one cycle per record, starting and
// ending on the baseline.

#include <cstdint>
#include <vector>

#include "synth/beat_model.h"

// A beat drawn from seed: rotated axis, scaled waves, and now and then a wide QRS,
// an inverted T, a shifted ST segment or a pathological Q.
BEAT_MODEL RandomBeatModel(uint64_t seed);

// One cycle of samples at 1000 Hz in millivolts, lead by lead (I, II, V1-V6), each value
// a whole number of microvolts. The first and last sample of every lead are exactly 0.
std::vector<double> RenderBeat(const BEAT_MODEL& model, int samples);
