// The built-in signals at their corners, worked by hand at 1 Hz and 1000 samples per second.

#include "engine/waveforms.h"

#include <cmath>

#include "store_setup.h"

using Corners = std::vector<std::pair<int64_t, double>>;

// Zero, negative and NaN frequencies are a period that never ends; a zero width pulse rests.
// A position before 0 lies in an earlier period, or at the start of an endless one.
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
        {wave(WAVEFORM_SINE, std::nan("")), WaveformSine, {{250, 0}}}};
    for (size_t i = 0; i < cases.size(); ++i) {
        ASSERT_TRUE(cases[i].load()) << "case " << i;
        EXPECT_EQ(std::tuple(g_WaveformType, g_nSampleRate, g_nSampleCount, ValidateECGData()),
                  std::tuple(cases[i].kind, 1000u, int64_t{2}, true));
        for (const auto& [position, mV] : cases[i].corners)
            EXPECT_NEAR(CalculatePeriodicalVoltage(position, 0), mV, 1e-9) << "case " << i << " at " << position;
    }
}

// Per-channel amplitudes, and none outside the eight; an unknown type stops output and leaves the store.
TEST(Waveforms, AmplitudesArePerChannelAndUnknownTypesChangeNothing) {
    const double amplitudes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(LoadWaveformEx(WAVEFORM_SQUARE, 1.0, amplitudes));
    double frame[8];
    CalculatePeriodicalFrame(1600, frame);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(std::pair(CalculatePeriodicalVoltage(0, ch), frame[ch]), std::pair((ch + 1) / 2.0, -(ch + 1) / 2.0));
    EXPECT_EQ(CalculatePeriodicalVoltage(0, 8) + CalculatePeriodicalVoltage(0, -1), 0.0);
    g_hStopPlayEvent.ResetEvent();
    EXPECT_FALSE(LoadWaveform(static_cast<WAVEFORM_TYPE>(3), 1.0, 1.0) || LoadWaveformEx(static_cast<WAVEFORM_TYPE>(-1), 2.0, amplitudes));
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled) << "output was stopped";
    EXPECT_EQ(std::tuple(g_WaveformType, g_fPeriodFrequency, g_fPeriodAmplitude[7], ValidateECGData()), std::tuple(WaveformSquare, 1.0, 8.0, true));
}

// The generated tables: the calibration square rises in the second half period (never at 0 Hz),
// the staircase steps every five seconds, and a fixed voltage holds one second.
TEST(Waveforms, GeneratedTables) {
    struct Case { std::function<bool()> load; uint32_t rate; int64_t count; Corners samples; };
    for (const Case& c : {Case{[] { return LoadWaveformCalibrationMode(1.0, 1.5); }, 360, 3600,
                               {{0, 0}, {180, 0}, {181, 1.5}, {359, 1.5}, {360, 0}, {3599, 1.5}}},
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
