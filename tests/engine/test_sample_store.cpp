// The store's allocation and check, the DAC conversion, the switches and the preview walk.

#include "engine/sample_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "device/dac_calibration.h"
#include "device/protocol.h"
#include "engine/ecg_header.h"
#include "engine/waveforms.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Preview {
    double time;
    std::vector<double> leads;
    bool isLast;
};
std::vector<Preview> g_preview;
void Record(double time, double* leads, bool last) { g_preview.push_back({time, {leads, leads + 12}, last}); }

}  // namespace

// 2048 + mV / range x 2000 (32768 + mV / range x 32000 on 16 bits), truncated, worked by hand.
// A range that is no positive number, set behind the setter's back, still gives a valid code.
TEST(DAC, CodesAcrossTheRangeAndForAnyDouble) {
    struct Case { int bits; double range, mV; int code; };
    g_WaveformType = WaveformFixedChannels;
    for (const Case& c : {Case{0, 5, 0, 2048}, {0, 5, 5, 4048}, {0, 5, -5, 48}, {0, 5, 7, 4048}, {0, 5, -7, 48},
                          {0, 5, -0.0013, 2047}, {0, 5, 0.0013, 2048}, {0, 5, 4.9913, 4044}, {0, 5, kNaN, 2048},
                          {0, 5, -kInf, 48}, {0, 5, 1e308, 4048}, {0, 2.5, 1.25, 3048}, {0, 2.5, -3, 48},
                          {0, 0, 1, 2048}, {0, kNaN, 10, 2048}, {0, -5, -10, 48}, {1, 5, 0, 32768}, {1, 5, 5, 64768},
                          {1, 5, -9, 768}, {1, 5, -0.0013, 32759}, {1, 5, kNaN, 32768}, {1, 5, kInf, 64768},
                          {1, 0, -1, 32768}}) {
        g_nDACBit = c.bits;
        g_fVoltageRange = c.range;
        EXPECT_EQ(DAC(c.mV, 0), c.code) << c.mV << " mV, range " << c.range << ", 16-bit " << c.bits;
    }
    g_fVoltageRange = 5;
    EXPECT_EQ(AdjustVoltage(-7), -5);
    SetOutputVoltageRange(2.5);
    for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) SetOutputVoltageRange(bad);
    EXPECT_EQ(g_fVoltageRange, 2.5);
}

// The code moves against the channel's error: 2 x nominal - measured, kept inside 0-4095.
TEST(DAC, CalibrationTableMovesTheCodeWithoutWrappingOrReadingOutside) {
    g_WaveformType = WaveformMIT;
    g_bDACAvailable = 1;
    g_DACError[0][2048] = 2048;
    g_DACError[1][3048] = 3049;
    g_DACError[3][2048] = 2050;
    g_DACError[0][2047] = 2047;  // the fraction survives: 2 x 2047.48 - 2047
    g_DACError[2][4048] = 4040;
    g_DACError[5][48] = 100;
    g_DACError[6][4048] = -1e12;
    g_DACError[7][2048] = kNaN;
    struct Case { double mV; int channel, code; };
    for (const Case& c : {Case{0, 0, 2048}, {2.5, 1, 3047}, {0, 3, 2046}, {-0.0013, 0, 2047}, {5, 2, 4056},
                          {0, 4, 4095},  // a row the file left at zero asks for twice the code
                          {-5, 5, 0}, {5, 6, 4095}, {0, 7, 2048}, {0, 8, 2048}, {0, -1, 2048}}) {
        EXPECT_EQ(DAC(c.mV, c.channel), c.code) << c.mV << " mV on channel " << c.channel;
    }
    g_DACError[0][2448] = 2500;
    g_WaveformType = WaveformAHA;
    EXPECT_EQ(DAC(1.0, 0), 2448) << "AHA stores are never calibrated";
    g_WaveformType = WaveformFixedChannels;
    EXPECT_EQ(DAC(1.0, 0), 2396);
    g_nDACBit = 1;
    EXPECT_EQ(DAC(1.0, 0), 39168) << "nor are 16-bit devices";
}

TEST(DAC, NoiseIsAddedToFixedEightChannelRecordsOnly) {
    g_NoiseData[7] = 500;  // microvolts
    g_NoiseData[9999] = 3000000;
    g_nNoiseCurrent = 7;
    g_WaveformType = WaveformFixedChannels;
    EXPECT_EQ(DAC(0, 0), 2048) << "noise off";
    EnableNoise(true);
    EXPECT_EQ(DAC(0, 0), 2248);
    for (int kind : {WaveformAHA, WaveformMIT, WaveformKestrane, WaveformGenerated, WaveformEDF, WaveformSine}) {
        g_WaveformType = kind;
        EXPECT_EQ(DAC(0, 0), 2048) << "kind " << kind;
    }
    g_WaveformType = WaveformFixedChannels;
    g_nNoiseCurrent = 9999;
    EXPECT_EQ(DAC(0, 0), 4048) << "noise is clipped with the signal";
    g_nNoiseCurrent = 20007;  // beyond the record: wraps instead of reading past it
    EXPECT_EQ(DAC(0, 0), 2248);
}

// Zeroed channels per kind (two for AHA); a store without samples, of an impossible size or
// whose mapped kind feeds no output from its own channels cannot be played.
TEST(SampleStore, AllocatesPerKindAndRefusesWhatCannotPlay) {
    EXPECT_FALSE(ValidateECGData()) << "nothing loaded";
    MakeStore(WaveformFixedChannels, 500, 10, 8);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(std::vector(g_pECGData[ch], g_pECGData[ch] + 10), std::vector(10, 0.0));
    EXPECT_TRUE(ValidateECGData());
    MakeStore(WaveformAHA, 250, 10, 8);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch] != nullptr, ch < 2) << "AHA stores hold two channels";
    EXPECT_TRUE(ValidateECGData());
    MakeStore(WaveformAHA, 250, 10, 1);
    EXPECT_FALSE(ValidateECGData()) << "AHA needs both";
    MakeStore(WaveformFixedChannels, 500, 0, 8);
    EXPECT_FALSE(ValidateECGData()) << "no samples, no channel arrays";
    for (int64_t count : {std::numeric_limits<int64_t>::max(), int64_t{-1}}) {
        g_nSampleCount = count;
        EXPECT_FALSE(ReallocateECGDataBuffer(8)) << count;
        EXPECT_FALSE(ValidateECGData());
    }
    g_nSampleCount = 100;
    EXPECT_FALSE(ReallocateECGDataBuffer(-3));
    EXPECT_EQ(g_iECGSignalNumber, 0);
    EXPECT_FALSE(ValidateECGData());
    for (int kind : {WaveformMIT, WaveformEDFChestV1V4, WaveformEDF}) {
        MakeStore(kind, 360, 10, 2);
        for (int& m : g_ECGMappingLead) m = -1;
        EXPECT_FALSE(ValidateECGData()) << "nothing mapped, kind " << kind;
        g_ECGMappingLead[6] = 1;
        EXPECT_TRUE(ValidateECGData());
        g_ECGMappingLead[6] = 2;  // left from a header with more channels than this store
        EXPECT_FALSE(ValidateECGData());
    }
    FreeECGDataBuffer();
    EXPECT_EQ(g_pECGData, nullptr);
    EXPECT_FALSE(ValidateECGData());
}

// A frame per sample of the span inside the record (periodic waves have no end), then a zero last frame.
TEST(GetWaveformSignal, WalksTheSpanUpToTheRecordsEnd) {
    struct Case { int kind, start, seconds; size_t frames; double lastTime, firstLeadI; };
    for (const Case& c : {Case{WaveformFixedChannels, 0, 2, 1000, 2.0, 0.0}, {WaveformFixedChannels, 2, 5, 500, 3.0, 1.0},
                          {WaveformFixedChannels, 5, 1, 0, 5.0, 0}, {WaveformFixedChannels, 1, -1, 0, 1.0, 0},
                          {WaveformSine, 3, 2, 2000, 5.0, 0.0}}) {
        if (c.kind == WaveformSine) {
            ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 2.0));
        } else {
            MakeStore(WaveformFixedChannels, 500, 1500, 8);  // three seconds
            FillChannels({0, 0.5});
            for (int i = 0; i < 1500; ++i) g_pECGData[0][i] = i / 1000.0;
        }
        g_preview.clear();
        ASSERT_TRUE(GetWaveformSignal(c.start, c.seconds, Record));
        ASSERT_EQ(g_preview.size(), c.frames + 1) << "from " << c.start;
        for (size_t i = 0; i < c.frames; ++i) {
            ASSERT_DOUBLE_EQ(g_preview[i].time, c.start + i / static_cast<double>(g_nSampleRate));
            ASSERT_FALSE(g_preview[i].isLast);
        }
        if (c.frames > 0) {
            EXPECT_NEAR(g_preview[0].leads[0], c.firstLeadI, 1e-12);
        }
        EXPECT_DOUBLE_EQ(g_preview.back().time, c.lastTime);
        EXPECT_TRUE(g_preview.back().isLast);
        EXPECT_EQ(g_preview.back().leads, std::vector<double>(12, 0.0));
    }
    EXPECT_NEAR(g_preview[250].leads[0], 1.0, 1e-9);
    EXPECT_NEAR(g_preview[750].leads[11], -1.0, 1e-9) << "V6";
    EXPECT_FALSE(GetWaveformSignal(0, 1, nullptr));
}
