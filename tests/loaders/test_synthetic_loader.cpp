// The synthetic ECG measured as a monitor measures it: R peaks by a threshold on lead II, QRS
// edges by the eight leads' summed slope, ST level at J + 60 ms against the PR segment.

#include "loaders/synthetic_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "loaders/loader_test_support.h"
#include "platform/thread.h"

namespace {
using Change = std::function<void(TAVO_SYNTHETIC_ECG&)>;

TAVO_SYNTHETIC_ECG Params(int rate, const Change& change = {}) {
    TAVO_SYNTHETIC_ECG params;
    TAVOSyntheticECGDefaults(&params);
    params.nHeartRate = rate;
    if (change) change(params);
    return params;
}
bool Load(int rate, const Change& change = {}) { return CEcgHeaderPtr(LoadSyntheticECG(Params(rate, change))) != nullptr; }
// Sample i of a lead, round the loop.
double At(int lead, int64_t i) { return g_pECGData[lead][(i % g_nSampleCount + g_nSampleCount) % g_nSampleCount]; }

// The highest sample of each run of lead II above half its maximum, from the first sample below it.
std::vector<int64_t> RPeaks() {
    const double threshold = 0.5 * *std::max_element(g_pECGData[1], g_pECGData[1] + g_nSampleCount);
    int64_t from = 0, best = -1;
    while (At(1, from) >= threshold) ++from;
    std::vector<int64_t> peaks;
    for (int64_t i = from; i <= from + g_nSampleCount; ++i) {
        if (At(1, i) >= threshold && (best < 0 || At(1, i) > At(1, best))) best = i;
        if (At(1, i) < threshold && best >= 0) peaks.push_back(std::exchange(best, -1));
    }
    return peaks;
}
// QRS onset and J point: where the eight leads' summed slope falls below a twentieth of its peak.
std::pair<int64_t, int64_t> QrsEdges(int64_t r) {
    const auto slope = [](int64_t i) {
        double sum = 0.0;
        for (int lead = 0; lead < 8; ++lead) sum += std::fabs(At(lead, i + 1) - At(lead, i));
        return sum;
    };
    double peak = 0.0;
    for (int64_t i = r - 100; i < r + 100; ++i) peak = std::max(peak, slope(i));
    int64_t onset = r, j = r;
    while (slope(onset - 1) >= peak / 20) --onset;
    while (slope(j) >= peak / 20) ++j;
    return {onset, j};
}
void* WaitForStop(void*) {
    WaitForSingleObject(&g_hStopPlayEvent, 30000);
    return nullptr;
}
}  // namespace

// Beat k comes round(k x 60000 / rate) samples after the first, so every RR is within one sample
// of the rate's; the loop holds whole beats and its wrap steps no more than its neighbours. R height,
// QRS width, ST level, T height (without an ST shift) and a P wave or none measure as requested.
// T waves stay near 0.3 mV: their upstroke adds 0.01 mV at J + 60 ms, as in a heart.
TEST(LoadSyntheticECG, RegularBeatsComeOnTimeAndMeasureAsRequested) {
    struct Case { int rate; double r, qrs, t, st; int p; };
    for (const Case& c : {Case{20, 1.0, 80, 0.25, 0.0, 1}, Case{30, 5.0, 40, 0.05, -0.8, 0}, Case{60, 1.0, 80, 0.25, 0.2, 1},
                          Case{60, 2.5, 100, 0.1, 0.8, 0}, Case{60, 1.0, 100, -0.3, 0.0, 1}, Case{71, 0.05, 160, 0.25, 0.0, 1},
                          Case{72, 1.5, 80, 0.25, -0.2, 1}, Case{180, 1.0, 60, 0.25, 0.0, 1}, Case{300, 0.5, 60, 0.25, 0.0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " bpm, R " << c.r);
        ASSERT_TRUE(Load(c.rate, [&](auto& p) { std::tie(p.fAmplitude, p.fQRSWidth, p.fTWave, p.fSTOffset, p.bPWaves) = std::tie(c.r, c.qrs, c.t, c.st, c.p); }));
        const std::vector<int64_t> peaks = RPeaks();
        EXPECT_EQ(g_nSampleCount * c.rate, static_cast<int64_t>(peaks.size()) * 60000);
        for (size_t k = 0; k < peaks.size(); ++k) ASSERT_EQ(peaks[k] - peaks[0], std::llround(k * 60000.0 / c.rate)) << "beat " << k;
        for (int lead = 0; lead < 8; ++lead)
            EXPECT_LE(std::fabs(At(lead, 0) - At(lead, -1)), 2 * std::max(std::fabs(At(lead, 1) - At(lead, 0)), std::fabs(At(lead, -1) - At(lead, -2))) + 1e-9);
        const int64_t r = peaks[0];
        const auto [onset, j] = QrsEdges(r);
        const double baseline = At(1, onset - 20);
        EXPECT_NEAR(At(1, r) - baseline, c.r, 0.02 * c.r);
        EXPECT_NEAR(static_cast<double>(j - onset), c.qrs, 8.0);
        if (c.rate > 75) continue;  // faster, the T wave's upstroke reaches J + 60 ms, as in a heart
        EXPECT_NEAR(At(1, j + 60) - baseline, c.st, 0.02);
        double t = 0.0, p = 0.0;
        for (int64_t i = j + 60; i < r + 500; ++i) t = std::fabs(At(1, i) - baseline) > std::fabs(t) ? At(1, i) - baseline : t;
        for (int64_t i = onset - 200; i < onset - 30; ++i) p = std::max(p, std::fabs(At(1, i) - baseline));
        EXPECT_EQ(p > 0.08 * c.r, c.p == 1) << p;
        EXPECT_TRUE(c.st != 0.0 || std::fabs(t - c.t * c.r) < 0.05 * std::fabs(c.t * c.r)) << t;
    }
}

// Irregular RR intervals keep the requested mean and variation within a tenth and no P waves;
// every Nth beat of a PVC rhythm comes early and wide, and its pause makes up two RR intervals.
// FNV-1a of the loops pinned from the first x86-64 build: armhf and armv6 (arm1176) give the same.
TEST(LoadSyntheticECG, RhythmsKeepTheirMeanRateAndTheSameBytesOnEveryHost) {
    struct Case { int rate, rhythm, every; double cv; unsigned seed; uint64_t hash; };
    for (const Case& c : {Case{80, SYNTHETIC_IRREGULAR, 4, 0.15, 1, 0x1EDA6AAC4A981265}, Case{80, SYNTHETIC_IRREGULAR, 4, 0.15, 2, 0x9145495655B6A0A5},
                          Case{40, SYNTHETIC_IRREGULAR, 4, 0.3, 1, 0xF93556B528F0994E}, Case{150, SYNTHETIC_IRREGULAR, 4, 0.05, 1, 0xBD6CE3022D3096D1},
                          Case{60, SYNTHETIC_PVC, 4, 0, 1, 0x1512E8175550A72F}, Case{70, SYNTHETIC_PVC, 2, 0, 1, 0x57C6BB4C75D7D75E},
                          Case{100, SYNTHETIC_PVC, 3, 0, 1, 0xD75DC49F286CBC1F}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " bpm, rhythm " << c.rhythm << ", seed " << c.seed);
        ASSERT_TRUE(Load(c.rate, [&](auto& p) { std::tie(p.nRhythm, p.nPVCInterval, p.fVariation, p.nSeed) = std::tie(c.rhythm, c.every, c.cv, c.seed); }));
        uint64_t hash = 0xCBF29CE484222325ULL;
        for (int lead = 0; lead < 8; ++lead)
            for (size_t i = 0; i < static_cast<size_t>(g_nSampleCount) * sizeof(double); ++i)
                hash = (hash ^ reinterpret_cast<const unsigned char*>(g_pECGData[lead])[i]) * 0x100000001B3ULL;
        EXPECT_EQ(hash, c.hash) << std::hex << hash;
        const std::vector<int64_t> peaks = RPeaks();
        std::vector<double> rr;
        for (size_t k = 0; k < peaks.size(); ++k) rr.push_back(static_cast<double>((k + 1 < peaks.size() ? peaks[k + 1] : peaks[0] + g_nSampleCount) - peaks[k]));
        const double normal = 60000.0 / c.rate, mean = std::accumulate(rr.begin(), rr.end(), 0.0) / static_cast<double>(rr.size());
        EXPECT_NEAR(mean, normal, normal / 10);
        for (size_t k = 0; k < peaks.size() && c.rhythm == SYNTHETIC_PVC; ++k) {
            const auto [onset, j] = QrsEdges(peaks[k]);
            const bool isPvc = static_cast<int>(k) % c.every == c.every - 1;
            EXPECT_EQ(j - onset > 120, isPvc) << "beat " << k;
            if (!isPvc) continue;
            EXPECT_LT(rr[k - 1], 0.8 * normal) << "beat " << k;
            EXPECT_NEAR(rr[k - 1] + rr[k], 2 * normal, 1.0) << "beat " << k;
        }
        if (c.rhythm == SYNTHETIC_PVC) continue;
        double power = 0.0, p = 0.0;
        for (double interval : rr) power += (interval - mean) * (interval - mean) / static_cast<double>(rr.size());
        EXPECT_NEAR(std::sqrt(power) / mean, c.cv, c.cv / 10);
        for (int64_t r : peaks)
            for (int64_t i = r - 130; i < r - 60; ++i) p = std::max(p, std::fabs(At(1, i)));
        EXPECT_LT(p, 0.02);
    }
}

// Every field just past either end of its range, NaN and null are refused with the store and a
// running output left alone. A load names the loop, and the limb leads of every lead frame obey
// Einthoven's and Goldberger's laws.
TEST(LoadSyntheticECG, RefusesFieldsPastTheirRangesAndChangesNothing) {
    ASSERT_TRUE(Load(72));
    const double* store = g_pECGData[0];
    g_hStopPlayEvent.ResetEvent();
    ASSERT_TRUE(CreateThread(&g_hPlayThread, WaitForStop, nullptr));
    for (const Change& change : std::initializer_list<Change>{
             [](auto& p) { p.nHeartRate = 19; }, [](auto& p) { p.nHeartRate = 301; }, [](auto& p) { p.fAmplitude = 0.0499; },
             [](auto& p) { p.fAmplitude = 5.001; }, [](auto& p) { p.fQRSWidth = 39.9; }, [](auto& p) { p.fQRSWidth = 160.1; },
             [](auto& p) { p.fTWave = -1.01; }, [](auto& p) { p.fTWave = 2.01; }, [](auto& p) { p.fSTOffset = -0.81; },
             [](auto& p) { p.fSTOffset = 0.81; }, [](auto& p) { p.fSTOffset = NAN; }, [](auto& p) { p.nRhythm = -1; },
             [](auto& p) { p.nRhythm = 3; }, [](auto& p) { p.nPVCInterval = 1; }, [](auto& p) { p.nPVCInterval = 9; },
             [](auto& p) { p.fVariation = -0.01; }, [](auto& p) { p.fVariation = 0.31; }}) {
        const TAVO_SYNTHETIC_ECG params = Params(72, change);
        EXPECT_EQ(TAVOLoadSyntheticECG(&params), nullptr) << params.nHeartRate << " " << params.fSTOffset;
    }
    EXPECT_EQ(TAVOLoadSyntheticECG(nullptr), nullptr);
    EXPECT_EQ(std::tuple(g_pECGData[0], g_nSampleCount, g_hPlayThread != 0), std::tuple(store, int64_t(2500), true));
    StopOutput();
    for (const auto& [change, name, samples] : {std::tuple<Change, const char*, int>{[](auto& p) { std::tie(p.fTWave, p.fVariation) = std::tuple(-1.0, 0.0); p.nRhythm = 1; }, "ECG 72bpm AF", 60000},
                                                {[](auto& p) { std::tie(p.nHeartRate, p.fTWave, p.nRhythm, p.nPVCInterval) = std::tuple(300, 2.0, 2, 8); }, "ECG 300bpm PVC8", 1600}}) {
        const TAVO_SYNTHETIC_ECG params = Params(72, change);
        const CEcgHeaderPtr header(TAVOLoadSyntheticECG(&params));
        ExpectRecord(header.get(), name, 8, 1000, samples, WaveformGenerated);
        for (int i = 0; const char* label : {"ECG 1", "ECG 2", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"})
            EXPECT_STREQ(header->Channel[i++].szLeadName, label);
        double leads[12] = {};
        for (int64_t i = 0; i < g_nSampleCount; ++i) {
            PrepareSignalData(i, leads);
            ASSERT_NEAR(leads[0] + leads[2], leads[1], 1e-12) << name << " sample " << i;
            ASSERT_NEAR(leads[3] + leads[4] + leads[5], 0.0, 1e-12) << name << " sample " << i;
        }
    }
}
