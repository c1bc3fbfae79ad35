// Synthetic ECG: the beat model shaped by the caller's parameters, laid out on an exact beat
// schedule and summed as one periodic signal. Loading it into the engine is left to the loader.

#include "synth/synthetic_ecg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "synth/beat_model.h"
#include "synth/det_math.h"

// A plain C struct whose layout the application compiles against: the same on every target.
static_assert(sizeof(TAVO_SYNTHETIC_ECG) == 64, "five ints, padding, five doubles");

namespace {
constexpr int64_t kMsPerMinute = 60000;
constexpr int kLeadII = 1;
// Beyond six widths a Gaussian is below 2e-8 of its peak: the cut leaves no visible step.
constexpr double kSupportWidths = 6.0;
// QRS of the analytical beat as a slope detector sees it (the eight leads' summed slope above
// a twentieth of its peak): from 39 ms before the R peak to 49 ms after it. A requested
// width stretches the q, R and S waves by its ratio to this.
constexpr double kAnalyticalQrsMs = 88.0;
constexpr double kAnalyticalQrsEndMs = 49.0;
// The ST level rises during the late QRS, over this width of the analytical beat, to reach its
// full height at the J point, where a monitor's slope detector sees the QRS end.
constexpr double kSTRiseMs = 12.0;
// Sample 0 lies this share of an RR interval before the first R peak: on the baseline.
constexpr double kBeatOffset = 0.45;
// A PVC comes this share of an RR interval after the beat before it.
constexpr double kCoupling = 0.6;
// A PVC stands a third taller than the R wave in lead II, and is at least 140 ms wide and
// 40 ms wider than the QRS; its waves below measure 170 ms the way the QRS above is measured.
constexpr double kEctopicHeight = 1.35;
constexpr double kEctopicMinQrsMs = 140.0;
constexpr double kEctopicWiderMs = 40.0;
constexpr double kEctopicQrsMs = 170.0;
// Irregular loops last a minute: as many beats as the heart rate.
constexpr int64_t kIrregularSamples = kMsPerMinute;

// A premature beat from the right ventricle: wide, leftward and backward, T opposed to the QRS.
const DIPOLE_WAVE kEctopicWaves[] = {
    {EWavePhase::Depolarisation, 0, 24, 24, 0.55, 0.6, -0.75},
    {EWavePhase::Depolarisation, 35, 22, 22, 0.45, 0.35, -0.35},
    {EWavePhase::Repolarisation, 300, 60, 45, -0.3, -0.3, 0.35},
};

// Lead II at the R peak from the QRS waves alone: P and T are many widths away there.
double LeadIIAtR(const std::vector<DIPOLE_WAVE>& waves) {
    const LEAD_DIRECTION leadII = LeadDirection(kLeadII);
    double sum = 0.0;
    for (const DIPOLE_WAVE& wave : waves)
        if (wave.phase == EWavePhase::Depolarisation) sum += Project(leadII, wave) * WaveShape(wave, 0.0);
    return sum;
}

void Stretch(DIPOLE_WAVE& wave, double factor) {
    wave.center *= factor;
    wave.widthBefore *= factor;
    wave.widthAfter *= factor;
}

// The analytical beat shaped by the parameters. The ST shift leans the way the T wave does:
// full from the J point to the T peak, then falling with the T wave.
std::vector<DIPOLE_WAVE> SinusWaves(const TAVO_SYNTHETIC_ECG& p, double rrMs) {
    std::vector<DIPOLE_WAVE> waves = AnalyticalBeatModel().waves;
    const LEAD_DIRECTION leadII = LeadDirection(kLeadII);
    const double height = p.fAmplitude / LeadIIAtR(waves);
    const double qrsFactor = p.fQRSWidth / kAnalyticalQrsMs;
    DIPOLE_WAVE st{};
    for (DIPOLE_WAVE& wave : waves) {
        if (wave.phase == EWavePhase::Repolarisation) {
            st = wave;
            Scale(st, p.fSTOffset / Project(leadII, wave));
            Scale(wave, p.fTWave * p.fAmplitude / Project(leadII, wave));
            continue;
        }
        if (wave.phase == EWavePhase::Depolarisation) Stretch(wave, qrsFactor);
        Scale(wave, height);
    }
    if (p.bPWaves == 0 || p.nRhythm == SYNTHETIC_IRREGULAR)
        std::erase_if(waves, [](const DIPOLE_WAVE& wave) { return wave.phase == EWavePhase::Atrial; });
    ScaleToCycle(waves, rrMs);

    const DIPOLE_WAVE& t = *std::find_if(waves.begin(), waves.end(), [](const DIPOLE_WAVE& wave) {
        return wave.phase == EWavePhase::Repolarisation;
    });
    st.center = qrsFactor * kAnalyticalQrsEndMs;
    st.widthBefore = qrsFactor * kSTRiseMs;
    st.widthAfter = t.widthAfter;
    st.plateau = std::max(0.0, t.center - st.center);
    waves.push_back(st);
    return waves;
}

std::vector<DIPOLE_WAVE> EctopicWaves(const TAVO_SYNTHETIC_ECG& p, double rrMs) {
    std::vector<DIPOLE_WAVE> waves(std::begin(kEctopicWaves), std::end(kEctopicWaves));
    const double height = kEctopicHeight * p.fAmplitude / LeadIIAtR(waves);
    const double widthFactor = std::max(kEctopicMinQrsMs, p.fQRSWidth + kEctopicWiderMs) / kEctopicQrsMs;
    for (DIPOLE_WAVE& wave : waves) {
        if (wave.phase == EWavePhase::Depolarisation) Stretch(wave, widthFactor);
        Scale(wave, height);
    }
    ScaleToCycle(waves, rrMs);
    return waves;
}

// One beat's leads, one value per millisecond, as far as any of its waves reaches.
BEAT_TEMPLATE BuildTemplate(const std::vector<DIPOLE_WAVE>& waves) {
    double from = 0.0, to = 0.0;
    for (const DIPOLE_WAVE& wave : waves) {
        from = std::min(from, wave.center - kSupportWidths * wave.widthBefore);
        to = std::max(to, wave.center + wave.plateau + kSupportWidths * wave.widthAfter);
    }
    BEAT_TEMPLATE beat;
    beat.first = static_cast<int64_t>(std::floor(from));
    beat.length = static_cast<size_t>(static_cast<int64_t>(std::ceil(to)) - beat.first + 1);
    beat.leads.assign(kBeatLeads * beat.length, 0.0);
    LEAD_DIRECTION directions[kBeatLeads];
    LeadDirections(directions);
    for (size_t i = 0; i < beat.length; ++i) {
        double leads[kBeatLeads];
        BeatLeadsAt(waves, directions, static_cast<double>(beat.first + static_cast<int64_t>(i)), leads);
        for (int lead = 0; lead < kBeatLeads; ++lead) beat.leads[static_cast<size_t>(lead) * beat.length + i] = leads[lead];
    }
    return beat;
}

// Adds the beat around rPeak, wrapping round the loop as often as it is longer than the loop.
void AddBeat(const BEAT_TEMPLATE& beat, int64_t rPeak, int64_t samples, double* const* leads) {
    const size_t start = static_cast<size_t>(((rPeak + beat.first) % samples + samples) % samples);
    for (int lead = 0; lead < kBeatLeads; ++lead) {
        const double* values = beat.leads.data() + static_cast<size_t>(lead) * beat.length;
        double* out = leads[lead];
        size_t index = start;
        for (size_t i = 0; i < beat.length; ++i) {
            out[index] += values[i];
            if (++index == static_cast<size_t>(samples)) index = 0;
        }
    }
}

// Uniform draws moved and scaled to exactly the mean and variation asked for, so that a
// loop of a few beats does not wander from the requested rhythm.
std::vector<double> IrregularIntervals(const TAVO_SYNTHETIC_ECG& p, double rrMs) {
    CSplitMix64 random(p.nSeed);
    std::vector<double> intervals(static_cast<size_t>(p.nHeartRate));
    double mean = 0.0;
    for (double& draw : intervals) mean += draw = random.Uniform();
    mean /= static_cast<double>(intervals.size());
    double power = 0.0;
    for (double draw : intervals) power += (draw - mean) * (draw - mean);
    // At least 20 distinct draws: the deviation is never zero.
    const double spread = p.fVariation / std::sqrt(power / static_cast<double>(intervals.size()));
    for (double& draw : intervals) draw = rrMs * (1.0 + spread * (draw - mean));
    return intervals;
}

// R peaks of the loop and its length in samples.
std::vector<PLACED_BEAT> ScheduleBeats(const TAVO_SYNTHETIC_ECG& p, double rrMs, int64_t& samples) {
    const int64_t rate = p.nHeartRate;
    const int64_t offset = RoundToInt(kBeatOffset * rrMs);
    std::vector<PLACED_BEAT> beats;
    if (p.nRhythm == SYNTHETIC_IRREGULAR) {
        samples = kIrregularSamples;
        double elapsed = 0.0;
        for (double interval : IrregularIntervals(p, rrMs)) {
            beats.push_back({offset + RoundToInt(elapsed), false});
            elapsed += interval;
        }
        return beats;
    }
    int64_t count = rate / std::gcd(rate, kMsPerMinute);
    if (p.nRhythm == SYNTHETIC_PVC) count = std::lcm(count, static_cast<int64_t>(p.nPVCInterval));
    samples = count * kMsPerMinute / rate;
    for (int64_t k = 0; k < count; ++k) {
        if (p.nRhythm == SYNTHETIC_PVC && k % p.nPVCInterval == p.nPVCInterval - 1) {
            beats.push_back({beats.back().rPeak + RoundToInt(kCoupling * rrMs), true});
            continue;
        }
        // round(k x 60000 / rate) in integers, halves upwards.
        beats.push_back({offset + (2 * k * kMsPerMinute + rate) / (2 * rate), false});
    }
    return beats;
}

bool InRange(double value, double low, double high) { return value >= low && value <= high; }
}  // namespace

void FillSyntheticECGDefaults(TAVO_SYNTHETIC_ECG& params) {
    params = TAVO_SYNTHETIC_ECG{};
    params.nHeartRate = 60;
    params.bPWaves = 1;
    params.nRhythm = SYNTHETIC_REGULAR;
    params.nPVCInterval = 4;
    params.nSeed = 1;
    params.fAmplitude = 1.0;
    params.fQRSWidth = 80.0;
    params.fTWave = 0.25;
    params.fSTOffset = 0.0;
    params.fVariation = 0.15;
}

bool IsValidSyntheticECG(const TAVO_SYNTHETIC_ECG& p) {
    return p.nHeartRate >= 20 && p.nHeartRate <= 300 && p.nRhythm >= SYNTHETIC_REGULAR && p.nRhythm <= SYNTHETIC_PVC &&
           p.nPVCInterval >= 2 && p.nPVCInterval <= 8 && InRange(p.fAmplitude, 0.05, 5.0) &&
           InRange(p.fQRSWidth, 40.0, 160.0) && InRange(p.fTWave, -1.0, 2.0) && InRange(p.fSTOffset, -0.8, 0.8) &&
           InRange(p.fVariation, 0.0, 0.3);
}

SYNTHETIC_PLAN PlanSyntheticLoop(const TAVO_SYNTHETIC_ECG& params) {
    const double rrMs = static_cast<double>(kMsPerMinute) / params.nHeartRate;
    SYNTHETIC_PLAN plan;
    plan.beats = ScheduleBeats(params, rrMs, plan.samples);
    plan.sinus = BuildTemplate(SinusWaves(params, rrMs));
    if (params.nRhythm == SYNTHETIC_PVC) plan.ectopic = BuildTemplate(EctopicWaves(params, rrMs));
    return plan;
}

void RenderSyntheticLoop(const SYNTHETIC_PLAN& plan, double* const* leads) {
    for (int lead = 0; lead < kBeatLeads; ++lead) std::fill(leads[lead], leads[lead] + plan.samples, 0.0);
    for (const PLACED_BEAT& beat : plan.beats)
        AddBeat(beat.isEctopic ? plan.ectopic : plan.sinus, beat.rPeak, plan.samples, leads);
}
