// Raw frames (codes in output order I, II, V6 ... V1) and lead frames per playback kind, and
// the built-in signals at their corners. Codes are worked by hand at range 5 on a 12-bit
// device: 2048 + mV x 400, truncated; a chest output carries (V + (I + II) x 0.33333333333) x
// 0.592731022038923. Signals are worked by hand at 1 Hz and 1000 samples per second.

#include "engine/raw_data.h"

#include <cmath>

#include "store_setup.h"

namespace {

using Leads = std::array<double, 12>;
using Mapping = std::array<int, 8>;
const Mapping kAll{0, 1, 2, 3, 4, 5, 6, 7}, kNone{-1, -1, -1, -1, -1, -1, -1, -1};
const Mapping kIIV1{-1, 0, 1, -1, -1, -1, -1, -1}, kNoII{0, -1, 2, 3, 4, 5, 6, 7};
const std::vector<double> kFixed{1.0, 0.5, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};  // I, II, V1 ... V6

void Load(int kind, int channels, const std::vector<double>& mV, const Mapping& mapping = kNone) {
    MakeStore(kind, 500, 4, channels);
    FillChannels(mV);
    std::copy(mapping.begin(), mapping.end(), g_ECGMappingLead);
}

}  // namespace

// Past the end of a record every code is zero; unknown kinds write nothing.
TEST(RawData, CodesPerKindWorkedByHand) {
    struct Case { int kind, channels; std::vector<double> mV; Mapping mapping; uint64_t at; Codes codes; };
    const std::vector<double> chest{0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    const Codes chestCodes{2048, 2048, 2190, 2166, 2142, 2119, 2095, 2071}, mitCodes{2048, 2448, 2127, 2127, 2127, 2127, 2127, 2245};
    for (const Case& c : {
             Case{WaveformFixedChannels, 8, {1.0, 0.5}, kNone, 0, {2448, 2248, 2166, 2166, 2166, 2166, 2166, 2166}},
             {WaveformFixedChannels, 8, chest, kNone, 3, chestCodes}, {WaveformGenerated, 8, chest, kNone, 3, chestCodes},
             // a = 5 (clipped), reference 1.66666666665; V1 clipped to 5 before it is added.
             {WaveformFixedChannels, 8, {7.0, 0, 7.0}, kNone, 0, {4048, 2048, 2443, 2443, 2443, 2443, 2443, 3628}},
             // a = 0, b = 1: reference 0.33333333333; V1 = 0.5 on channel 7; unmapped lead I gives 0 mV.
             {WaveformMIT, 2, {1.0, 0.5}, kIIV1, 2, mitCodes},
             {WaveformMIT, 2, {1.0, 0.5}, {-1, 0, 1, -1, -1, -1, 7, -1}, 2, mitCodes},  // V5 on a channel not held
             // (V + 0.5) / 1.665; V6 and V5 outputs get 0.5 / 1.665 alone.
             {WaveformEDFChestV1V4, 8, kFixed, kAll, 0, {2448, 2248, 2168, 2168, 2264, 2240, 2216, 2192}},
             {WaveformEDF, 8, kFixed, kAll, 0, {2448, 2248, 2312, 2288, 2264, 2240, 2216, 2192}},
             // V1 = 7.0 unclipped: (7 + 0.5 x 0.33333333333) / 1.665; clipped it would be 3369.
             {WaveformEDF, 3, {0.5, 0, 7.0}, {0, -1, 2, -1, -1, -1, -1, -1}, 1, {2248, 2048, 2088, 2088, 2088, 2088, 2088, 3769}},
             {WaveformAHA, 2, {1.0, 0.5}, kNone, 0, {2448, 2248, 2168, 2168, 2168, 2168, 2168, 2168}},
             {WaveformFixedChannels, 8, kFixed, kAll, 4, {}}, {WaveformAHA, 2, {1, 1}, kAll, 4, {}}, {WaveformMIT, 8, kFixed, kAll, 4, {}},
             {WaveformGenerated, 8, kFixed, kAll, 1000000, {}}, {WaveformEDF, 8, kFixed, kAll, 4, {}},
             {0, 8, kFixed, kAll, 0, {}}, {8, 8, kFixed, kAll, 0, {}}, {134, 8, kFixed, kAll, 0, {}}}) {
        Load(c.kind, c.channels, c.mV, c.mapping);
        g_bDACAvailable = c.kind == WaveformAHA;  // a table of zeros would move every calibrated code
        EXPECT_EQ(RawAt(c.at), c.codes) << "kind " << c.kind << " at " << c.at;
    }
}

// The maker's format is resampled to 1000 a second: x = position / 1000 x 500, wrapping.
TEST(RawData, MakersFormatInterpolatesAndWraps) {
    Load(WaveformKestrane, 8, {});
    std::copy_n(std::array{0.0113, 0.2113, 0.6113, 1.0113}.begin(), 4, g_pECGData[0]);
    // s[0]; x = 1.5: s[1] + 0.5 (s[2] - s[1]); x = 3.5, the last: 1.0113 + 0.5 x 0.4; x = 4.5 wraps to 0.1113.
    for (auto [position, code] : {std::pair<uint64_t, int>{0, 2052}, {3, 2212}, {7, 2532}, {9, 2092}, {1000000, 2052}})
        EXPECT_EQ(RawAt(position)[0], code) << "position " << position;
    MakeStore(WaveformKestrane, 500, 1, 8);
    FillChannels({0.5113});
    for (uint64_t position : {0u, 3u, 1000u}) EXPECT_EQ(RawAt(position)[0], 2252) << "one sample held, at " << position;
    MakeStore(WaveformKestrane, 500, 0, 8);
    EXPECT_EQ(RawAt(5), (Codes{2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048})) << "no samples: 0 mV";
}

TEST(SignalData, LeadFramesPerKind) {
    const Leads derived{1.0, 0.5, -0.5, -0.75, 0.75, 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, limbsCleared{0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9};
    struct Case { int kind, channels; Mapping mapping; int64_t at; Leads leads; };
    for (const Case& c : {Case{WaveformFixedChannels, 8, kNone, 2, derived}, {WaveformKestrane, 8, kNone, 2, derived},
                          {WaveformGenerated, 8, kNone, 2, derived}, {WaveformFixedChannels, 8, kNone, 4, limbsCleared},
                          {WaveformFixedChannels, 8, kNone, -1, limbsCleared}, {WaveformMIT, 2, kIIV1, 0, {0, 1, 1, -0.5, -0.5, 1, 0.5, 9, 9, 9, 9, 9}},
                          {WaveformAHA, 2, kNone, 1, {1.0, 0.5, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9}},
                          // EDF copies its mapped leads and derives none.
                          {WaveformEDFChestV1V4, 8, kNoII, 1, {1, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 9, 9}},
                          {WaveformEDF, 8, kNoII, 1, {1, 0, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6}},
                          {WaveformEDF, 8, kAll, 1, {1, 0.5, 0, 0, 0, 0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6}},
                          {8, 8, kAll, 0, limbsCleared}, {128, 8, kAll, 0, limbsCleared}}) {
        Load(c.kind, c.channels, std::vector<double>(kFixed.begin(), kFixed.begin() + c.channels), c.mapping);
        Leads leads;
        leads.fill(9.0);  // a sentinel, so that untouched values show
        PrepareSignalData(c.at, leads.data());
        for (size_t i = 0; i < 12; ++i) EXPECT_NEAR(leads[i], c.leads[i], 1e-12) << "kind " << c.kind << ", lead value " << i;
    }
}

using Corners = std::vector<std::pair<int64_t, double>>;

// Zero, negative and NaN frequencies are a period that never ends; a zero width pulse rests.
// A position before 0 lies in an earlier period, or at the start of an endless one. Amplitudes
// may be given per channel (the last row), and no channel outside the eight has a value.
TEST(Waveforms, EveryShapeAtItsCorners) {
    using Load = std::function<bool()>;
    auto wave = [](WAVEFORM_TYPE type, double hz) -> Load { return [=] { return LoadWaveform(type, hz, 2.0); }; };
    auto rect = [](int width, double hz) -> Load { return [=] { return LoadWaveformRectanglePulse(width, hz, 2.0); }; };
    auto tri = [](int width, double hz) -> Load { return [=] { return LoadWaveformTrianglePulse(width, hz, 2.0); }; };
    struct Case { Load load; int kind; Corners corners; };
    const std::vector<Case> cases = {
        {wave(WAVEFORM_SINE, 1), WaveformSine, {{0, 0}, {250, 1}, {500, 0}, {501, -0.006283143965558951}, {1750, -1}}},
        {wave(WAVEFORM_TRIANGLE, 1), WaveformTriangle, {{0, 0}, {125, 0.5}, {250, 1}, {501, -0.004}, {750, -1}, {-250, -1}, {-750, 1}}},
        {wave(WAVEFORM_SQUARE, 1), WaveformSquare, {{0, 1}, {500, 1}, {501, -1}, {999, -1}, {1000, 1}, {-250, -1}}},
        {rect(100, 1), WaveformRectanglePulse, {{0, 1}, {100, 1}, {101, -1}, {501, -1}, {1000, 1}}},
        {tri(100, 1), WaveformTrianglePulse, {{0, -1}, {25, 0}, {50, 1}, {75, 0}, {100, -1}, {501, -1}, {1050, 1}, {-950, 1}}},
        {rect(1500, 1), WaveformRectanglePulse, {{0, 1}, {600, 1}, {999, 1}}}, {rect(0, 1), WaveformRectanglePulse, {{0, 1}, {1, -1}, {1000, 1}}},
        {tri(0, 1), WaveformTrianglePulse, {{0, -1}, {1, -1}, {500, -1}, {1000, -1}}}, {tri(-5, 1), WaveformTrianglePulse, {{0, -1}, {1000, -1}}},
        {wave(WAVEFORM_SINE, 0), WaveformSine, {{0, 0}, {250, 0}, {123456789, 0}}}, {wave(WAVEFORM_TRIANGLE, 0), WaveformTriangle, {{0, 0}, {750, 0}}},
        {wave(WAVEFORM_SQUARE, 0), WaveformSquare, {{0, 1}, {501, 1}, {10000000, 1}}},
        {rect(100, 0), WaveformRectanglePulse, {{0, 1}, {100, 1}, {101, -1}, {1000, -1}, {1100, -1}}},
        {tri(100, 0), WaveformTrianglePulse, {{0, -1}, {50, 1}, {100, -1}, {1050, -1}, {-1000, -1}}},
        {wave(WAVEFORM_SQUARE, -3), WaveformSquare, {{0, 1}, {700, 1}}},  // only internal callers can pass this
        {wave(WAVEFORM_SINE, std::nan("")), WaveformSine, {{250, 0}}},
        {[] { const double a[8] = {1, 2, 3, 4, 5, 6, 7, 8}; return LoadWaveformEx(WAVEFORM_SQUARE, 1.0, a); }, WaveformSquare, {{0, 0.5}, {501, -0.5}}}};
    for (size_t i = 0; i < cases.size(); ++i) {
        ASSERT_TRUE(cases[i].load()) << "case " << i;
        EXPECT_EQ(std::tuple(g_WaveformType, g_nSampleRate, g_nSampleCount, ValidateECGData()),
                  std::tuple(cases[i].kind, 1000u, int64_t{2}, true));
        for (const auto& [position, mV] : cases[i].corners)
            EXPECT_NEAR(CalculatePeriodicalVoltage(position, 0), mV, 1e-9) << "case " << i << " at " << position;
    }
    EXPECT_EQ(CalculatePeriodicalVoltage(0, 8) + CalculatePeriodicalVoltage(0, -1), 0.0) << "no channel outside the eight";
    double frame[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    g_WaveformType = WaveformMIT;  // not periodic: a frame of zeros, and nothing written past it
    CalculatePeriodicalFrame(0, frame);
    EXPECT_TRUE(std::count(frame, frame + 8, 0.0) == 8 && frame[8] == 1);
    ASSERT_TRUE(LoadWaveformTrianglePulse(100, 1, 2.0));
    CalculatePeriodicalFrame(50, frame);  // the last periodic kind: its peak on every channel
    EXPECT_TRUE(std::count(frame, frame + 8, 1.0) == 8);
}

// The generated tables: the calibration square rises in the second half period (never at 0 Hz),
// the staircase steps every five seconds, and a fixed voltage holds one second.
TEST(Waveforms, GeneratedTables) {
    struct Case { std::function<bool()> load; uint32_t rate; int64_t count; Corners samples; };
    for (const Case& c : {Case{[] { return LoadWaveformCalibrationMode(1.0, 1.5); }, 360, 3600, {{0, 0}, {180, 0}, {181, 1.5}, {359, 1.5}, {360, 0}, {3599, 1.5}}},
                          {[] { return LoadWaveformCalibrationMode(0.0, 1.5); }, 360, 3600, {{181, 0}, {1800, 0}, {3599, 0}}},
                          {[] { return LoadWaveformAutoCalibrationMode(); }, 1000, 45000,
                           {{0, 0}, {4999, 0}, {5000, 0.2}, {10000, 1}, {15000, 2}, {20000, 5}, {25000, -0.2}, {30000, -1},
                            {35000, -2}, {40000, -5}, {44999, -5}}},
                          {[] { return LoadWaveformFixedVoltage(-1.25); }, 1000, 1000, {{0, -1.25}, {999, -1.25}}}}) {
        ASSERT_TRUE(c.load());
        ASSERT_EQ(std::tuple(g_WaveformType, g_nSampleRate, g_nSampleCount), std::tuple(+WaveformGenerated, c.rate, c.count));
        for (const auto& [position, mV] : c.samples)
            for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch][position], mV) << "sample " << position;
    }
}
