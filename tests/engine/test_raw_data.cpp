// Raw frames (codes in output order I, II, V6 ... V1) and lead frames per playback kind.
// Codes are worked by hand at range 5 on a 12-bit device: 2048 + mV x 400, truncated;
// a chest output carries (V + (I + II) x 0.33333333333) x 0.592731022038923.

#include "engine/raw_data.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/dac_calibration.h"
#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/waveforms.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

using Codes = std::array<int, 8>;
using Leads = std::array<double, 12>;

Codes RawAt(uint64_t position) {
    g_nSampleCurrent = position;
    Codes frame;
    frame.fill(-1);
    PrepareRawData(frame.data());
    return frame;
}

// The lead frame at position, starting from a sentinel so untouched values show.
Leads LeadsAt(int64_t position, double sentinel = 9.0) {
    Leads leads;
    leads.fill(sentinel);
    PrepareSignalData(position, leads.data());
    return leads;
}

void ExpectLeads(const Leads& actual, const Leads& expected) {
    for (size_t i = 0; i < 12; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << "lead value " << i;
}

void SetMapping(std::array<int, 8> mapping) {
    for (int k = 0; k < 8; ++k) g_ECGMappingLead[k] = mapping[k];
}

// I = 1.0, II = 0.5 and V1-V6 = 0.1 ... 0.6 in the fixed channel order.
void MakeFixedStore(int kind) {
    MakeStore(kind, 500, 4, 8);
    FillChannels({1.0, 0.5, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
}

}  // namespace

TEST(RawData, DirectModeLimbAndReferenceCodes) {
    MakeStore(WaveformFixedChannels, 500, 4, 8);
    FillChannels({1.0, 0.5});
    EXPECT_EQ(RawAt(0), (Codes{2448, 2248, 2166, 2166, 2166, 2166, 2166, 2166}));
}

TEST(RawData, ChestOutputsRunFromV6DownToV1) {
    for (int kind : {WaveformFixedChannels, WaveformGenerated}) {
        MakeStore(kind, 500, 4, 8);
        FillChannels({0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
        EXPECT_EQ(RawAt(3), (Codes{2048, 2048, 2190, 2166, 2142, 2119, 2095, 2071})) << "kind " << kind;
        FillChannels({0, 0, 1.0, 0, 0, 0, 0, 0});
        EXPECT_EQ(RawAt(1)[7], 2285) << "V1 on channel 7";
        FillChannels({0, 0, 0, 0, 0, 0, 0, 1.0});
        EXPECT_EQ(RawAt(1)[2], 2285) << "V6 on channel 2";
    }
}

TEST(RawData, LimbsAndChestsAreClippedBeforeTheReference) {
    MakeStore(WaveformFixedChannels, 500, 4, 8);
    FillChannels({7.0, 0, 7.0});
    // a = 5 (clipped), reference 1.66666666665; V1 clipped to 5 before it is added.
    EXPECT_EQ(RawAt(0), (Codes{4048, 2048, 2443, 2443, 2443, 2443, 2443, 3628}));
}

TEST(RawData, PastTheEndOfARecordEveryCodeIsZero) {
    for (int kind : {WaveformFixedChannels, WaveformAHA, WaveformMIT, WaveformGenerated, WaveformEDF}) {
        MakeStore(kind, 500, 4, kind == WaveformAHA ? 2 : 8);
        FillChannels({1, 1});
        SetMapping({0, 1, 2, 3, 4, 5, 6, 7});
        EXPECT_EQ(RawAt(4), Codes{}) << "kind " << kind;
        EXPECT_EQ(RawAt(1000000), Codes{});
        EXPECT_NE(RawAt(3)[0], 0);
    }
}

TEST(RawData, UnknownKindsGiveZeroCodes) {
    for (int kind : {0, 8, 128, 134, -1}) {
        MakeFixedStore(kind);
        EXPECT_EQ(RawAt(0), Codes{}) << "kind " << kind;
        EXPECT_EQ(LeadsAt(0), (Leads{0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9}));
    }
}

TEST(RawData, MappingModeFeedsUnmappedOutputsZero) {
    MakeStore(WaveformMIT, 360, 4, 2);
    FillChannels({1.0, 0.5});
    SetMapping({-1, 0, 1, -1, -1, -1, -1, -1});
    // a = 0, b = 1: reference 0.33333333333; V1 = 0.5 on channel 7.
    EXPECT_EQ(RawAt(2), (Codes{2048, 2448, 2127, 2127, 2127, 2127, 2127, 2245}));
    SetMapping({-1, 0, 1, -1, -1, -1, 7, -1});  // a channel this store does not hold
    EXPECT_EQ(RawAt(2), (Codes{2048, 2448, 2127, 2127, 2127, 2127, 2127, 2245}));
    EXPECT_EQ(RawAt(4), Codes{});
}

TEST(RawData, EdfChestV1V4LeavesV5AndV6WithTheReferenceAlone) {
    MakeFixedStore(WaveformEDFChestV1V4);
    SetMapping({0, 1, 2, 3, 4, 5, 6, 7});
    // (V + 0.5) / 1.665; V6 and V5 outputs get 0.5 / 1.665 alone.
    EXPECT_EQ(RawAt(0), (Codes{2448, 2248, 2168, 2168, 2264, 2240, 2216, 2192}));
    MakeFixedStore(WaveformEDF);
    EXPECT_EQ(RawAt(0), (Codes{2448, 2248, 2312, 2288, 2264, 2240, 2216, 2192}));
}

TEST(RawData, EdfChestLeadsAreNotClipped) {
    MakeStore(WaveformEDF, 256, 4, 3);
    FillChannels({0.5, 0, 7.0});
    SetMapping({0, -1, 2, -1, -1, -1, -1, -1});
    // V1 = 7.0 unclipped: (7 + 0.5 x 0.33333333333) / 1.665; clipped it would be 3369.
    const Codes frame = RawAt(1);
    EXPECT_EQ(frame[7], 3769);
    EXPECT_EQ(frame[1], 2048);
    EXPECT_EQ(frame[2], 2088);
}

TEST(RawData, AhaChestOutputsAreAllEqualAndNeverCalibrated) {
    MakeStore(WaveformAHA, 250, 4, 2);
    FillChannels({1.0, 0.5});
    g_bDACAvailable = 1;
    g_DACError[0][2448] = 2400;  // would move lead I to 2496 on any other kind
    EXPECT_EQ(RawAt(0), (Codes{2448, 2248, 2168, 2168, 2168, 2168, 2168, 2168}));
}

TEST(RawData, MakersFormatInterpolatesAtOneThousandSamplesPerSecond) {
    MakeStore(WaveformKestrane, 500, 4, 8);
    const double s[4] = {0.0113, 0.2113, 0.6113, 1.0113};
    for (int ch = 0; ch < 8; ++ch) {
        for (int i = 0; i < 4; ++i) g_pECGData[ch][i] = ch == 0 ? s[i] : 0.0;
    }
    struct Case {
        uint64_t position;
        int code;
    };
    // x = position / 1000 x 500.
    for (const Case& c : {Case{0, 2052},    // s[0]
                          Case{3, 2212},    // x = 1.5: s[1] + 0.5 (s[2] - s[1]) = 0.4113
                          Case{7, 2532},    // x = 3.5, the last sample: 1.0113 + 0.5 x 0.4
                          Case{9, 2092}}) { // x = 4.5 wraps to j = 0: 0.1113
        EXPECT_EQ(RawAt(c.position)[0], c.code) << "position " << c.position;
    }
    EXPECT_NE(RawAt(1000000)[0], 0) << "the resampled format wraps instead of ending";
}

TEST(RawData, MakersFormatOfOneSampleHoldsThatSample) {
    MakeStore(WaveformKestrane, 500, 1, 8);
    FillChannel(0, 0.5113);
    for (uint64_t position : {0u, 1u, 3u, 1000u}) EXPECT_EQ(RawAt(position)[0], 2252) << "position " << position;
    MakeStore(WaveformKestrane, 500, 0, 8);
    EXPECT_EQ(RawAt(5), (Codes{2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048})) << "no samples: 0 mV";
}

TEST(RawData, PeriodicFramesAreComputedWithoutTouchingTheStore) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 2.0));
    // All channels at +1: reference 0.66666666666, chest (1 + ref) x gain.
    EXPECT_EQ(RawAt(250), (Codes{2448, 2448, 2443, 2443, 2443, 2443, 2443, 2443}));
    EXPECT_EQ(RawAt(750), (Codes{1648, 1648, 1652, 1652, 1652, 1652, 1652, 1652}));
    EXPECT_EQ(RawAt(4000000000u)[0], 2048) << "generated kinds have no end";
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch][1], 0.0);
}

TEST(SignalData, DirectKindsDeriveTheLimbLeads) {
    for (int kind : {WaveformFixedChannels, WaveformKestrane, WaveformGenerated}) {
        MakeFixedStore(kind);
        ExpectLeads(LeadsAt(2), {1.0, 0.5, -0.5, -0.75, 0.75, 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
    }
}

TEST(SignalData, PastTheEndOnlyTheLimbLeadsAreCleared) {
    MakeFixedStore(WaveformFixedChannels);
    for (int64_t position : {4, 100, -1}) ExpectLeads(LeadsAt(position), {0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9});
}

TEST(SignalData, MappingLeavesUnmappedChestLeadsUntouched) {
    MakeStore(WaveformMIT, 360, 4, 2);
    FillChannels({1.0, 0.5});
    SetMapping({-1, 0, 1, -1, -1, -1, -1, -1});
    ExpectLeads(LeadsAt(0), {0, 1.0, 1.0, -0.5, -0.5, 1.0, 0.5, 9, 9, 9, 9, 9});
}

TEST(SignalData, AhaGivesOnlyLeadsIAndII) {
    MakeStore(WaveformAHA, 250, 4, 2);
    FillChannels({1.0, 0.5});
    ExpectLeads(LeadsAt(1), {1.0, 0.5, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9});
}

TEST(SignalData, EdfCopiesMappedLeadsWithoutDerivingAny) {
    MakeFixedStore(WaveformEDFChestV1V4);
    SetMapping({0, -1, 2, 3, 4, 5, 6, 7});
    ExpectLeads(LeadsAt(1), {1.0, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 9, 9});
    MakeFixedStore(WaveformEDF);
    ExpectLeads(LeadsAt(1), {1.0, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
}

TEST(SignalData, PeriodicLeadsAtAnyPosition) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SQUARE, 1.0, 2.0));
    ExpectLeads(LeadsAt(250), {1, 1, 0, -1, 0.5, 0.5, 1, 1, 1, 1, 1, 1});
    ExpectLeads(LeadsAt(1750), {-1, -1, 0, 1, -0.5, -0.5, -1, -1, -1, -1, -1, -1});
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch][0], 0.0) << "no scratch slot written";
}
