// The store's allocation and check, the DAC conversion, the switches and the preview walk.

#include "engine/sample_store.h"

#include <gtest/gtest.h>

#include <cmath>
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
    bool last;
};
std::vector<Preview> g_preview;

void Record(double time, double* leads, bool last) { g_preview.push_back({time, std::vector<double>(leads, leads + 12), last}); }

struct CodeCase {
    double mV;
    int code;
};

void ExpectCodes(std::initializer_list<CodeCase> cases, int channel = 0) {
    for (const CodeCase& c : cases) EXPECT_EQ(DAC(c.mV, channel), c.code) << c.mV << " mV on channel " << channel;
}

}  // namespace

// 2048 + mV / 5 x 2000, truncated toward zero, worked by hand.
TEST(DAC, TwelveBitCodesAcrossTheRange) {
    g_WaveformType = WaveformFixedChannels;
    ExpectCodes({{0, 2048}, {5, 4048}, {-5, 48}, {7, 4048}, {-7, 48}, {2.5, 3048}, {-0.0013, 2047},
                 {0.0013, 2048}, {1.0, 2448}, {-1.0, 1648}, {4.9913, 4044}});
}

TEST(DAC, SixteenBitCodesAcrossTheRange) {
    g_nDACBit = 1;
    g_WaveformType = WaveformFixedChannels;
    ExpectCodes({{0, 32768}, {5, 64768}, {-5, 768}, {9, 64768}, {2.5, 48768}, {-0.0013, 32759}, {1.0, 39168}});
}

TEST(DAC, AnyDoubleGivesACodeInsideTheScale) {
    for (int bits : {0, 1}) {
        g_nDACBit = bits;
        const int mid = bits ? 32768 : 2048, top = bits ? 64768 : 4048, bottom = bits ? 768 : 48;
        ExpectCodes({{kNaN, mid}, {kInf, top}, {-kInf, bottom}, {1e308, top}, {-1e308, bottom}});
    }
}

TEST(DAC, ARangeThatIsNotPositiveNeverYieldsAnUndefinedCode) {
    g_fVoltageRange = 0.0;  // set behind the setter's back
    ExpectCodes({{1.0, 2048}, {-1.0, 2048}, {0.0, 2048}});
    g_fVoltageRange = kNaN;
    EXPECT_GE(DAC(1.0, 0), 0);
    EXPECT_LE(DAC(1.0, 0), 4095);
    g_fVoltageRange = -5.0;
    for (double mV : {-10.0, 0.0, 10.0}) {
        EXPECT_GE(DAC(mV, 0), 0);
        EXPECT_LE(DAC(mV, 0), 4095);
    }
}

TEST(DAC, RangeFollowsTheSetterAndRefusesNonsense) {
    SetOutputVoltageRange(2.5);
    ExpectCodes({{2.5, 4048}, {1.25, 3048}, {-3, 48}});
    for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) SetOutputVoltageRange(bad);
    EXPECT_EQ(g_fVoltageRange, 2.5);
}

TEST(DAC, CalibrationTableMovesTheCodeAgainstTheChannelError) {
    g_WaveformType = WaveformMIT;
    g_bDACAvailable = 1;
    g_DACError[0][2048] = 2048;  // exact channel: unchanged
    g_DACError[1][3048] = 3049;  // one high: one lower
    g_DACError[3][2048] = 2050;
    g_DACError[0][2047] = 2047;  // the fraction survives: 2 x 2047.48 - 2047
    g_DACError[2][4048] = 4040;
    EXPECT_EQ(DAC(0, 0), 2048);
    EXPECT_EQ(DAC(2.5, 1), 3047);
    EXPECT_EQ(DAC(0, 3), 2046);
    EXPECT_EQ(DAC(-0.0013, 0), 2047);
    EXPECT_EQ(DAC(5, 2), 4056);
    EXPECT_EQ(DAC(0, 4), 4095) << "a row the file left at zero asks for twice the code, held at the top";
}

TEST(DAC, CalibrationNeverWrapsTheCodeOrReadsOutsideTheTable) {
    g_WaveformType = WaveformFixedChannels;
    g_bDACAvailable = 1;
    g_DACError[5][48] = 100;      // 2 x 48 - 100 = -4
    g_DACError[6][4048] = -1e12;  // far above the scale
    g_DACError[7][2048] = kNaN;
    EXPECT_EQ(DAC(-5, 5), 0);
    EXPECT_EQ(DAC(5, 6), 4095);
    EXPECT_EQ(DAC(0, 7), 2048) << "an entry that is not a number leaves the nominal code";
    EXPECT_EQ(DAC(0, 8), 2048) << "no table row beyond channel 7";
    EXPECT_EQ(DAC(0, -1), 2048);
}

TEST(DAC, AhaStoresAndSixteenBitDevicesAreNeverCalibrated) {
    g_bDACAvailable = 1;
    g_DACError[0][2448] = 2500;
    g_WaveformType = WaveformAHA;
    EXPECT_EQ(DAC(1.0, 0), 2448);
    g_WaveformType = WaveformFixedChannels;
    EXPECT_EQ(DAC(1.0, 0), 2396);
    g_nDACBit = 1;
    EXPECT_EQ(DAC(1.0, 0), 39168);
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

TEST(AdjustVoltage, ClipsToTheRange) {
    EXPECT_EQ(AdjustVoltage(7), 5);
    EXPECT_EQ(AdjustVoltage(-7), -5);
    EXPECT_EQ(AdjustVoltage(3.25), 3.25);
}

TEST(SampleStore, AllocatesZeroedChannelsPerKind) {
    MakeStore(WaveformFixedChannels, 500, 10, 8);
    EXPECT_EQ(g_iECGSignalNumber, 8);
    for (int ch = 0; ch < 8; ++ch) {
        ASSERT_NE(g_pECGData[ch], nullptr);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g_pECGData[ch][i], 0.0);
    }
    EXPECT_TRUE(ValidateECGData());

    MakeStore(WaveformAHA, 250, 10, 8);
    EXPECT_NE(g_pECGData[0], nullptr);
    EXPECT_NE(g_pECGData[1], nullptr);
    for (int ch = 2; ch < 8; ++ch) EXPECT_EQ(g_pECGData[ch], nullptr) << "AHA stores hold two channels";
    EXPECT_TRUE(ValidateECGData());
}

TEST(SampleStore, AnEmptyOrImpossibleStoreIsRefusedWithoutThrowing) {
    EXPECT_FALSE(ValidateECGData()) << "nothing loaded";
    MakeStore(WaveformFixedChannels, 500, 0, 8);
    EXPECT_FALSE(ValidateECGData()) << "no samples, no channel arrays";

    g_nSampleCount = std::numeric_limits<int64_t>::max();
    EXPECT_FALSE(ReallocateECGDataBuffer(8));
    EXPECT_FALSE(ValidateECGData());
    g_nSampleCount = -1;
    EXPECT_FALSE(ReallocateECGDataBuffer(8));
    EXPECT_FALSE(ValidateECGData());
    g_nSampleCount = 100;
    EXPECT_FALSE(ReallocateECGDataBuffer(-3));
    EXPECT_EQ(g_iECGSignalNumber, 0);
    EXPECT_FALSE(ValidateECGData());

    EXPECT_TRUE(ReallocateECGDataBuffer(8)) << "a failed load leaves the store reusable";
    EXPECT_TRUE(ValidateECGData());
    FreeECGDataBuffer();
    EXPECT_EQ(g_pECGData, nullptr);
    EXPECT_FALSE(ValidateECGData());
}

TEST(SampleStore, AhaNeedsBothChannels) {
    MakeStore(WaveformAHA, 250, 10, 1);
    EXPECT_FALSE(ValidateECGData());
}

TEST(SampleStore, MappedKindsNeedAnOutputFedByAChannelOfTheStore) {
    for (int kind : {WaveformMIT, WaveformEDFChestV1V4, WaveformEDF}) {
        MakeStore(kind, 360, 10, 2);
        for (int& m : g_ECGMappingLead) m = -1;
        EXPECT_FALSE(ValidateECGData()) << "nothing mapped, kind " << kind;
        g_ECGMappingLead[6] = 1;
        EXPECT_TRUE(ValidateECGData());
        g_ECGMappingLead[6] = 5;  // left from a header with more channels than this store
        EXPECT_FALSE(ValidateECGData());
    }
    MakeStore(WaveformMIT, 360, 10, 12);
    g_ECGMappingLead[6] = 8;  // channel 8 of a twelve-channel record is a real channel
    EXPECT_TRUE(ValidateECGData());
}

TEST(GetWaveformSignal, WalksTheSpanThenReportsAZeroLastFrame) {
    MakeStore(WaveformFixedChannels, 500, 1500, 8);  // three seconds
    for (int i = 0; i < 1500; ++i) g_pECGData[0][i] = i / 1000.0;
    FillChannel(1, 0.5);
    ASSERT_TRUE(GetWaveformSignal(0, 2, Record));
    ASSERT_EQ(g_preview.size(), 1001u);
    for (size_t i = 0; i < 1000; ++i) {
        EXPECT_DOUBLE_EQ(g_preview[i].time, i / 500.0);
        EXPECT_FALSE(g_preview[i].last);
    }
    EXPECT_DOUBLE_EQ(g_preview[999].time, 1.998);
    EXPECT_DOUBLE_EQ(g_preview[999].leads[0], 0.999);
    EXPECT_DOUBLE_EQ(g_preview[999].leads[2], 0.5 - 0.999) << "lead III";
    EXPECT_DOUBLE_EQ(g_preview[1000].time, 2.0);
    EXPECT_TRUE(g_preview[1000].last);
    EXPECT_EQ(g_preview[1000].leads, std::vector<double>(12, 0.0));
}

TEST(GetWaveformSignal, StopsAtTheEndOfTheRecord) {
    MakeStore(WaveformFixedChannels, 500, 1500, 8);
    ASSERT_TRUE(GetWaveformSignal(2, 5, Record));
    ASSERT_EQ(g_preview.size(), 501u);
    EXPECT_DOUBLE_EQ(g_preview.front().time, 2.0);
    EXPECT_DOUBLE_EQ(g_preview[499].time, 2.998);
    EXPECT_DOUBLE_EQ(g_preview.back().time, 3.0);
    EXPECT_TRUE(g_preview.back().last);

    g_preview.clear();
    ASSERT_TRUE(GetWaveformSignal(5, 1, Record));
    ASSERT_EQ(g_preview.size(), 1u) << "a start beyond the end delivers only the last frame";
    EXPECT_DOUBLE_EQ(g_preview[0].time, 5.0);
    EXPECT_TRUE(g_preview[0].last);

    g_preview.clear();
    ASSERT_TRUE(GetWaveformSignal(1, -1, Record));
    ASSERT_EQ(g_preview.size(), 1u);
    EXPECT_DOUBLE_EQ(g_preview[0].time, 1.0);
}

TEST(GetWaveformSignal, PeriodicWavesIgnoreTheTwoSampleScratchStore) {
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 2.0));
    ASSERT_TRUE(GetWaveformSignal(3, 2, Record));
    ASSERT_EQ(g_preview.size(), 2001u);
    EXPECT_DOUBLE_EQ(g_preview[0].time, 3.0);
    EXPECT_NEAR(g_preview[250].leads[0], 1.0, 1e-9);
    EXPECT_NEAR(g_preview[750].leads[11], -1.0, 1e-9) << "V6";
    EXPECT_DOUBLE_EQ(g_preview.back().time, 5.0);
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(g_pECGData[ch][0], 0.0) << "the preview writes no scratch slot";
        EXPECT_EQ(g_pECGData[ch][1], 0.0);
    }
}

TEST(GetWaveformSignal, RefusesAnUnplayableStoreOrNoCallback) {
    EXPECT_FALSE(GetWaveformSignal(0, 1, Record));
    MakeStore(WaveformFixedChannels, 500, 500, 8);
    EXPECT_FALSE(GetWaveformSignal(0, 1, nullptr));
    EXPECT_TRUE(g_preview.empty());
}
