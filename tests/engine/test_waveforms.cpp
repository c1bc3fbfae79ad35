// The built-in signals at their corners, worked by hand at 1 Hz and 1000 samples per second.

#include "engine/waveforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "tavo/tavo_ext.h"

namespace {

struct Corner {
    int64_t position;
    double mV;
};

void ExpectCorners(const char* what, std::initializer_list<Corner> corners, int channel = 0) {
    for (const Corner& c : corners) {
        EXPECT_NEAR(CalculatePeriodicalVoltage(c.position, channel), c.mV, 1e-9) << what << " at " << c.position;
    }
}

// Every output code of the current kind is a real code at each of these positions.
void ExpectDefinedCodes(std::initializer_list<uint64_t> positions) {
    for (uint64_t position : positions) {
        g_nSampleCurrent = position;
        int frame[8];
        PrepareRawData(frame);
        for (int code : frame) {
            EXPECT_GE(code, 48);
            EXPECT_LE(code, 4048);
        }
    }
}

}  // namespace

TEST(Waveforms, PeriodicLoadsSetUpAScratchStoreAtOneThousandHertz) {
    struct Case {
        WAVEFORM_TYPE type;
        int kind;
    };
    for (const Case& c : {Case{WAVEFORM_SINE, WaveformSine}, Case{WAVEFORM_TRIANGLE, WaveformTriangle},
                          Case{WAVEFORM_SQUARE, WaveformSquare}}) {
        ASSERT_TRUE(LoadWaveform(c.type, 2.5, 3.0));
        EXPECT_EQ(g_WaveformType, c.kind);
    }
    EXPECT_EQ(g_nSampleRate, 1000u);
    EXPECT_EQ(g_nSampleCount, 2);
    EXPECT_TRUE(ValidateECGData());
    ASSERT_TRUE(LoadWaveformRectanglePulse(100, 1.0, 2.0));
    EXPECT_EQ(g_WaveformType, WaveformRectanglePulse);
    ASSERT_TRUE(LoadWaveformTrianglePulse(40, 1.0, 2.0));
    EXPECT_EQ(g_WaveformType, WaveformTrianglePulse);
}

TEST(Waveforms, EveryShapeAtItsCorners) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 2.0));
    ExpectCorners("sine", {{0, 0}, {250, 1}, {500, 0}, {501, -0.006283143965558951}, {750, -1}, {1250, 1}});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_TRIANGLE, 1.0, 2.0));
    ExpectCorners("triangle", {{0, 0}, {125, 0.5}, {250, 1}, {500, 0}, {501, -0.004}, {750, -1}, {875, -0.5}});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SQUARE, 1.0, 2.0));
    ExpectCorners("square", {{0, 1}, {250, 1}, {500, 1}, {501, -1}, {750, -1}, {999, -1}, {1000, 1}});
    ASSERT_TRUE(LoadWaveformRectanglePulse(100, 1.0, 2.0));
    ExpectCorners("rectangle pulse", {{0, 1}, {100, 1}, {101, -1}, {250, -1}, {500, -1}, {501, -1}, {750, -1},
                                      {1000, 1}});
    ASSERT_TRUE(LoadWaveformTrianglePulse(100, 1.0, 2.0));
    ExpectCorners("triangle pulse", {{0, -1}, {25, 0}, {50, 1}, {75, 0}, {100, -1}, {250, -1}, {500, -1},
                                     {501, -1}, {750, -1}, {1050, 1}});
}

TEST(Waveforms, PulseWiderThanThePeriodLeavesNoRest) {
    ASSERT_TRUE(LoadWaveformRectanglePulse(1500, 1.0, 2.0));
    ExpectCorners("rectangle pulse", {{0, 1}, {600, 1}, {999, 1}});
}

TEST(Waveforms, ZeroWidthTrianglePulseRests) {
    ASSERT_TRUE(LoadWaveformTrianglePulse(0, 1.0, 2.0));
    ExpectCorners("triangle pulse", {{0, -1}, {1, -1}, {500, -1}, {1000, -1}});
    ExpectDefinedCodes({0, 1000, 2000});
    ASSERT_TRUE(LoadWaveformTrianglePulse(-5, 1.0, 2.0));
    ExpectCorners("triangle pulse", {{0, -1}, {1000, -1}});
    ASSERT_TRUE(LoadWaveformRectanglePulse(0, 1.0, 2.0));
    ExpectCorners("rectangle pulse", {{0, 1}, {1, -1}, {1000, 1}});
}

TEST(Waveforms, ZeroFrequencyIsAPeriodThatNeverEnds) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 0.0, 2.0));
    ExpectCorners("sine", {{0, 0}, {250, 0}, {123456789, 0}});
    ExpectDefinedCodes({0, 250, 123456789});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_TRIANGLE, 0.0, 2.0));
    ExpectCorners("triangle", {{0, 0}, {750, 0}});
    ExpectDefinedCodes({0, 750});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SQUARE, 0.0, 2.0));
    ExpectCorners("square", {{0, 1}, {501, 1}, {10000000, 1}});
    ASSERT_TRUE(LoadWaveformRectanglePulse(100, 0.0, 2.0));
    ExpectCorners("rectangle pulse", {{0, 1}, {100, 1}, {101, -1}, {1000, -1}, {1100, -1}});
    ASSERT_TRUE(LoadWaveformTrianglePulse(100, 0.0, 2.0));
    ExpectCorners("triangle pulse", {{0, -1}, {50, 1}, {100, -1}, {1050, -1}});
    ExpectDefinedCodes({0, 50, 1050});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SQUARE, -3.0, 2.0));  // only internal callers can pass this
    ExpectCorners("square", {{0, 1}, {700, 1}});
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, std::nan(""), 2.0));
    ExpectCorners("sine", {{250, 0}});
}

TEST(Waveforms, AmplitudesArePerChannel) {
    const double amplitudes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(LoadWaveformEx(WAVEFORM_SQUARE, 1.0, amplitudes));
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(CalculatePeriodicalVoltage(0, ch), (ch + 1) / 2.0);
        EXPECT_EQ(CalculatePeriodicalVoltage(600, ch), -(ch + 1) / 2.0);
    }
    double frame[8];
    CalculatePeriodicalFrame(1600, frame);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(frame[ch], -(ch + 1) / 2.0);
    EXPECT_EQ(CalculatePeriodicalVoltage(0, 8), 0.0);
    EXPECT_EQ(CalculatePeriodicalVoltage(0, -1), 0.0);
    EXPECT_FALSE(LoadWaveformEx(WAVEFORM_SQUARE, 1.0, nullptr));
}

TEST(Waveforms, UnknownTypeStopsOutputAndLeavesTheStore) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 3.0, 4.0));
    g_hStopPlayEvent.ResetEvent();
    EXPECT_FALSE(LoadWaveform(static_cast<WAVEFORM_TYPE>(3), 1.0, 1.0));
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled) << "output was stopped";
    EXPECT_EQ(g_WaveformType, WaveformSine);
    EXPECT_EQ(g_fPeriodFrequency, 3.0);
    EXPECT_TRUE(ValidateECGData());
    const double amplitudes[8] = {};
    EXPECT_FALSE(LoadWaveformEx(static_cast<WAVEFORM_TYPE>(-1), 1.0, amplitudes));
    EXPECT_EQ(g_fPeriodAmplitude[0], 4.0);
}

TEST(Waveforms, OtherKindsHaveNoPeriodicValue) {
    ASSERT_TRUE(LoadWaveformFixedVoltage(1.0));
    g_fPeriodAmplitude[0] = 2.0;
    EXPECT_EQ(CalculatePeriodicalVoltage(0, 0), 0.0);
}

TEST(Waveforms, CalibrationSquareWaveRisesInTheSecondHalfPeriod) {
    ASSERT_TRUE(LoadWaveformCalibrationMode(1.0, 1.5));
    EXPECT_EQ(g_WaveformType, WaveformGenerated);
    EXPECT_EQ(g_nSampleRate, 360u);
    EXPECT_EQ(g_nSampleCount, 3600);
    struct Case {
        int sample;
        double mV;
    };
    for (const Case& c : {Case{0, 0}, Case{180, 0}, Case{181, 1.5}, Case{359, 1.5}, Case{360, 0}, Case{3599, 1.5}}) {
        for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch][c.sample], c.mV) << "sample " << c.sample;
    }
    ASSERT_TRUE(LoadWaveformCalibrationMode(0.0, 1.5));
    for (int i = 0; i < 3600; ++i) ASSERT_EQ(g_pECGData[0][i], 0.0) << "0 Hz never reaches a second half";
}

TEST(Waveforms, AutoCalibrationStaircase) {
    ASSERT_TRUE(LoadWaveformAutoCalibrationMode());
    EXPECT_EQ(g_WaveformType, WaveformGenerated);
    EXPECT_EQ(g_nSampleRate, 1000u);
    ASSERT_EQ(g_nSampleCount, 45000);
    struct Case {
        int sample;
        double mV;
    };
    for (const Case& c : {Case{0, 0}, Case{4999, 0}, Case{5000, 0.2}, Case{10000, 1}, Case{15000, 2}, Case{20000, 5},
                          Case{25000, -0.2}, Case{30000, -1}, Case{35000, -2}, Case{40000, -5}, Case{44999, -5}}) {
        EXPECT_EQ(g_pECGData[0][c.sample], c.mV) << "sample " << c.sample;
    }
    for (int ch = 1; ch < 8; ++ch) {
        for (int i = 0; i < 45000; ++i) ASSERT_EQ(g_pECGData[ch][i], g_pECGData[0][i]) << "channel " << ch;
    }
}

TEST(Waveforms, FixedVoltageHoldsOneSecond) {
    ASSERT_TRUE(LoadWaveformFixedVoltage(-1.25));
    EXPECT_EQ(g_WaveformType, WaveformGenerated);
    EXPECT_EQ(g_nSampleRate, 1000u);
    ASSERT_EQ(g_nSampleCount, 1000);
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(g_pECGData[ch][0], -1.25);
        EXPECT_EQ(g_pECGData[ch][999], -1.25);
    }
}
