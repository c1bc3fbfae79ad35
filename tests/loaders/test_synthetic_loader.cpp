// The synthetic ECG: the same loops on every host, and refusals that change nothing.

#include "loaders/synthetic_loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "loaders/loader_test_support.h"

namespace {
using Change = std::function<void(TAVO_SYNTHETIC_ECG&)>;

TAVO_SYNTHETIC_ECG Params(int rate, const Change& change = {}) {
    TAVO_SYNTHETIC_ECG params;
    TAVOSyntheticECGDefaults(&params);
    params.nHeartRate = rate;
    if (change) change(params);
    return params;
}
// FNV-1a of the eight leads' bytes.
uint64_t StoreHash() {
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (int lead = 0; lead < 8; ++lead)
        for (size_t i = 0; i < static_cast<size_t>(g_nSampleCount) * sizeof(double); ++i)
            hash = (hash ^ reinterpret_cast<const unsigned char*>(g_pECGData[lead])[i]) * 0x100000001B3ULL;
    return hash;
}
}  // namespace

// FNV-1a of the loops pinned from x86-64 builds whose loops measured as requested (beats on time,
// R height, QRS width, ST level at J + 60 ms, T and P waves, RR mean and variation, PVCs early and
// wide, limb leads by Einthoven's and Goldberger's laws); armhf and armv6 (arm1176) give the same.
TEST(LoadSyntheticECG, LoopsAreTheMeasuredOnesOnEveryHost) {
    struct Case { int rate; double r, qrs, t, st; int p, rhythm, every; double cv; unsigned seed; const char* name; int samples; uint64_t hash; };
    const int regular = SYNTHETIC_REGULAR, af = SYNTHETIC_IRREGULAR, pvc = SYNTHETIC_PVC;
    for (const Case& c : {Case{20, 1.0, 80, 0.25, 0.0, 1, regular, 4, 0, 1, "ECG 20bpm", 3000, 0x479EF6C0502014C3},
                          Case{30, 5.0, 40, 0.05, -0.8, 0, regular, 4, 0, 1, "ECG 30bpm", 2000, 0xBB80E594618575BB}, Case{60, 2.5, 100, 0.1, 0.8, 0, regular, 4, 0, 1, "ECG 60bpm", 1000, 0xCF9585A20DF50E45},
                          Case{60, 1.0, 100, -0.3, 0.0, 1, regular, 4, 0, 1, "ECG 60bpm", 1000, 0xF856592D4EE07A9F}, Case{71, 0.05, 160, 0.25, 0.0, 1, regular, 4, 0, 1, "ECG 71bpm", 60000, 0x64473C17DB64C0C2},
                          Case{72, 1.5, 80, 0.25, -0.2, 1, regular, 4, 0, 1, "ECG 72bpm", 2500, 0xC9C48220928C0F11}, Case{180, 1.0, 60, 0.25, 0.0, 1, regular, 4, 0, 1, "ECG 180bpm", 1000, 0xDA8FF55B54206E4B},
                          Case{300, 0.5, 60, 0.25, 0.0, 0, regular, 4, 0, 1, "ECG 300bpm", 200, 0x78FE678753CFD960}, Case{80, 1.0, 80, 0.25, 0.0, 1, af, 4, 0.15, 1, "ECG 80bpm AF", 60000, 0x1EDA6AAC4A981265},
                          Case{80, 1.0, 80, 0.25, 0.0, 1, af, 4, 0.15, 2, "ECG 80bpm AF", 60000, 0x9145495655B6A0A5}, Case{40, 1.0, 80, 0.25, 0.0, 1, af, 4, 0.3, 1, "ECG 40bpm AF", 60000, 0xF93556B528F0994E},
                          Case{150, 1.0, 80, 0.25, 0.0, 1, af, 4, 0.05, 1, "ECG 150bpm AF", 60000, 0xBD6CE3022D3096D1}, Case{72, 1.0, 80, -1.0, 0.0, 1, af, 4, 0.0, 1, "ECG 72bpm AF", 60000, 0xF606D60A07C86025},
                          Case{60, 1.0, 80, 0.25, 0.0, 1, pvc, 4, 0, 1, "ECG 60bpm PVC4", 4000, 0x1512E8175550A72F}, Case{70, 1.0, 80, 0.25, 0.0, 1, pvc, 2, 0, 1, "ECG 70bpm PVC2", 12000, 0x57C6BB4C75D7D75E},
                          Case{100, 1.0, 80, 0.25, 0.0, 1, pvc, 3, 0, 1, "ECG 100bpm PVC3", 1800, 0xD75DC49F286CBC1F}, Case{300, 1.0, 80, 2.0, 0.0, 1, pvc, 8, 0, 1, "ECG 300bpm PVC8", 1600, 0x714EC1A7E3DB49FC}}) {
        SCOPED_TRACE(c.name);
        const TAVO_SYNTHETIC_ECG params = Params(c.rate, [&](auto& p) {
            std::tie(p.fAmplitude, p.fQRSWidth, p.fTWave, p.fSTOffset, p.bPWaves) = std::tie(c.r, c.qrs, c.t, c.st, c.p);
            std::tie(p.nRhythm, p.nPVCInterval, p.fVariation, p.nSeed) = std::tie(c.rhythm, c.every, c.cv, c.seed);
        });
        const CEcgHeaderPtr header(TAVOLoadSyntheticECG(&params));
        ExpectRecord(header.get(), c.name, 8, 1000, c.samples, WaveformGenerated);
        EXPECT_EQ(StoreHash(), c.hash) << std::hex << StoreHash();
    }
}

// Every field just past either end of its range, NaN and null are refused with the store and a
// running output left alone.
TEST(LoadSyntheticECG, RefusesFieldsPastTheirRangesAndChangesNothing) {
    ASSERT_NE(CEcgHeaderPtr(LoadSyntheticECG(Params(72))), nullptr);
    const double* store = g_pECGData[0];
    StartStandInPlayThread();
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
}
