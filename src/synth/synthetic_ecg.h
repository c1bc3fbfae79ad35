#pragma once
// Synthetic ECG loops at any heart rate, drawn from the beat model: a whole number of beats
// at 1000 Hz on the generator's eight channels.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tavo/tavo_ext.h"

constexpr int kSyntheticRate = 1000;

// One beat's eight leads, one value per millisecond from `first` ms around its R peak.
struct BEAT_TEMPLATE {
    int64_t first = 0;
    size_t length = 0;
    std::vector<double> leads;  // lead by lead, I, II, V1-V6, in mV
};

struct PLACED_BEAT {
    int64_t rPeak;
    bool isEctopic;
};

// Everything a loop needs before its samples are written, so that writing them cannot fail.
struct SYNTHETIC_PLAN {
    int64_t samples = 0;
    std::vector<PLACED_BEAT> beats;
    BEAT_TEMPLATE sinus, ectopic;
};

void FillSyntheticECGDefaults(TAVO_SYNTHETIC_ECG& params);
// True when every field is in its range (NaN is in none).
bool IsValidSyntheticECG(const TAVO_SYNTHETIC_ECG& params);
// The plan of valid params: a regular loop holds the fewest beats that fill a whole number of
// milliseconds (times the PVC pattern), an irregular one a minute. Throws std::bad_alloc.
SYNTHETIC_PLAN PlanSyntheticLoop(const TAVO_SYNTHETIC_ECG& params);
// Writes the loop into leads[0..7] (I, II, V1-V6), plan.samples values each, in mV. The
// beats of its end run on into its start, so the loop joins itself without a step.
void RenderSyntheticLoop(const SYNTHETIC_PLAN& plan, double* const* leads);
