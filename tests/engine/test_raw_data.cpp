// Raw frames (codes in output order I, II, V6 ... V1) and lead frames per playback kind.
// Codes are worked by hand at range 5 on a 12-bit device: 2048 + mV x 400, truncated;
// a chest output carries (V + (I + II) x 0.33333333333) x 0.592731022038923.

#include "engine/raw_data.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/dac_calibration.h"
#include "engine/ecg_header.h"
#include "engine/waveforms.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

using Leads = std::array<double, 12>;
using Mapping = std::array<int, 8>;
const Mapping kAll{0, 1, 2, 3, 4, 5, 6, 7}, kNone{-1, -1, -1, -1, -1, -1, -1, -1};
const Mapping kIIV1{-1, 0, 1, -1, -1, -1, -1, -1}, kNoII{0, -1, 2, 3, 4, 5, 6, 7};
const std::vector<double> kFixed{1.0, 0.5, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};  // I, II, V1 ... V6

void Load(int kind, int channels, const std::vector<double>& mV, const Mapping& mapping = kNone, uint32_t rate = 500) {
    MakeStore(kind, rate, 4, channels);
    FillChannels(mV);
    std::copy(mapping.begin(), mapping.end(), g_ECGMappingLead);
}

// The lead frame at position, from a sentinel of 9 so untouched values show.
void ExpectLeadsAt(int64_t position, const Leads& expected) {
    Leads leads;
    leads.fill(9.0);
    PrepareSignalData(position, leads.data());
    for (size_t i = 0; i < 12; ++i) EXPECT_NEAR(leads[i], expected[i], 1e-12) << "lead value " << i << " at " << position;
}

}  // namespace

TEST(RawData, CodesPerKindWorkedByHand) {
    struct Case { int kind, channels; std::vector<double> mV; Mapping mapping; uint64_t at; Codes codes; };
    const std::vector<double> chest{0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    for (const Case& c : {
             Case{WaveformFixedChannels, 8, {1.0, 0.5}, kNone, 0, {2448, 2248, 2166, 2166, 2166, 2166, 2166, 2166}},
             Case{WaveformFixedChannels, 8, chest, kNone, 3, {2048, 2048, 2190, 2166, 2142, 2119, 2095, 2071}},
             Case{WaveformGenerated, 8, chest, kNone, 3, {2048, 2048, 2190, 2166, 2142, 2119, 2095, 2071}},
             // a = 5 (clipped), reference 1.66666666665; V1 clipped to 5 before it is added.
             Case{WaveformFixedChannels, 8, {7.0, 0, 7.0}, kNone, 0, {4048, 2048, 2443, 2443, 2443, 2443, 2443, 3628}},
             // a = 0, b = 1: reference 0.33333333333; V1 = 0.5 on channel 7; unmapped lead I gives 0 mV.
             Case{WaveformMIT, 2, {1.0, 0.5}, kIIV1, 2, {2048, 2448, 2127, 2127, 2127, 2127, 2127, 2245}},
             // V5 left mapped to a channel this store does not hold
             Case{WaveformMIT, 2, {1.0, 0.5}, {-1, 0, 1, -1, -1, -1, 7, -1}, 2,
                  {2048, 2448, 2127, 2127, 2127, 2127, 2127, 2245}},
             // (V + 0.5) / 1.665; V6 and V5 outputs get 0.5 / 1.665 alone.
             Case{WaveformEDFChestV1V4, 8, kFixed, kAll, 0, {2448, 2248, 2168, 2168, 2264, 2240, 2216, 2192}},
             Case{WaveformEDF, 8, kFixed, kAll, 0, {2448, 2248, 2312, 2288, 2264, 2240, 2216, 2192}},
             // V1 = 7.0 unclipped: (7 + 0.5 x 0.33333333333) / 1.665; clipped it would be 3369.
             Case{WaveformEDF, 3, {0.5, 0, 7.0}, {0, -1, 2, -1, -1, -1, -1, -1}, 1,
                  {2248, 2048, 2088, 2088, 2088, 2088, 2088, 3769}},
             Case{WaveformAHA, 2, {1.0, 0.5}, kNone, 0, {2448, 2248, 2168, 2168, 2168, 2168, 2168, 2168}},
             Case{0, 8, kFixed, kAll, 0, {}}, Case{8, 8, kFixed, kAll, 0, {}}, Case{134, 8, kFixed, kAll, 0, {}}}) {
        Load(c.kind, c.channels, c.mV, c.mapping);
        g_bDACAvailable = c.kind == WaveformAHA;  // a table of zeros would move every calibrated code
        EXPECT_EQ(RawAt(c.at), c.codes) << "kind " << c.kind;
    }
}

TEST(RawData, PastTheEndOfARecordEveryCodeIsZero) {
    for (int kind : {WaveformFixedChannels, WaveformAHA, WaveformMIT, WaveformGenerated, WaveformEDF}) {
        Load(kind, kind == WaveformAHA ? 2 : 8, {1, 1}, kAll);
        EXPECT_EQ(RawAt(4), Codes{}) << "kind " << kind;
        EXPECT_EQ(RawAt(1000000), Codes{});
        EXPECT_NE(RawAt(3)[0], 0);
    }
}

// The maker's format is resampled to 1000 a second: x = position / 1000 x 500, wrapping.
TEST(RawData, MakersFormatInterpolatesAndWraps) {
    Load(WaveformKestrane, 8, {});
    const double s[4] = {0.0113, 0.2113, 0.6113, 1.0113};
    std::copy(s, s + 4, g_pECGData[0]);
    // s[0]; x = 1.5: s[1] + 0.5 (s[2] - s[1]); x = 3.5, the last: 1.0113 + 0.5 x 0.4; x = 4.5 wraps to 0.1113.
    for (auto [position, code] : {std::pair<uint64_t, int>{0, 2052}, {3, 2212}, {7, 2532}, {9, 2092}}) {
        EXPECT_EQ(RawAt(position)[0], code) << "position " << position;
    }
    EXPECT_NE(RawAt(1000000)[0], 0) << "the resampled format wraps instead of ending";
    MakeStore(WaveformKestrane, 500, 1, 8);
    FillChannels({0.5113});
    for (uint64_t position : {0u, 3u, 1000u}) EXPECT_EQ(RawAt(position)[0], 2252) << "one sample held, at " << position;
    MakeStore(WaveformKestrane, 500, 0, 8);
    EXPECT_EQ(RawAt(5), (Codes{2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048})) << "no samples: 0 mV";
}

TEST(RawData, PeriodicFramesAreComputedWithoutTouchingTheStore) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 2.0));
    // All channels at +1: reference 0.66666666666, chest (1 + ref) x gain.
    EXPECT_EQ(RawAt(250), (Codes{2448, 2448, 2443, 2443, 2443, 2443, 2443, 2443}));
    EXPECT_EQ(RawAt(750), (Codes{1648, 1648, 1652, 1652, 1652, 1652, 1652, 1652}));
    EXPECT_EQ(RawAt(4000000000u)[0], 2048) << "generated kinds have no end";
    ExpectLeadsAt(1250, {1, 1, 0, -1, 0.5, 0.5, 1, 1, 1, 1, 1, 1});
    ExpectLeadsAt(1750, {-1, -1, 0, 1, -0.5, -0.5, -1, -1, -1, -1, -1, -1});
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch][0] + g_pECGData[ch][1], 0.0) << "no scratch slot written";
}

TEST(SignalData, LeadFramesPerKind) {
    const Leads derived{1.0, 0.5, -0.5, -0.75, 0.75, 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    const Leads limbsCleared{0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9};
    struct Case { int kind, channels; Mapping mapping; int64_t at; Leads leads; };
    for (const Case& c : {Case{WaveformFixedChannels, 8, kNone, 2, derived}, Case{WaveformKestrane, 8, kNone, 2, derived},
                          Case{WaveformGenerated, 8, kNone, 2, derived},
                          Case{WaveformFixedChannels, 8, kNone, 4, limbsCleared},
                          Case{WaveformFixedChannels, 8, kNone, -1, limbsCleared},
                          Case{WaveformMIT, 2, kIIV1, 0, {0, 1, 1, -0.5, -0.5, 1, 0.5, 9, 9, 9, 9, 9}},
                          Case{WaveformAHA, 2, kNone, 1, {1.0, 0.5, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9}},
                          // EDF copies its mapped leads and derives none.
                          Case{WaveformEDFChestV1V4, 8, kNoII, 1, {1, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 9, 9}},
                          Case{WaveformEDF, 8, kNoII, 1, {1, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6}},
                          Case{8, 8, kAll, 0, limbsCleared}, Case{128, 8, kAll, 0, limbsCleared}}) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind);
        Load(c.kind, c.channels, std::vector<double>(kFixed.begin(), kFixed.begin() + c.channels), c.mapping);
        ExpectLeadsAt(c.at, c.leads);
    }
}
