// The store's allocation and check, the DAC conversion and the switches. The preview walk is
// checked through its export and against a real playback.

#include "engine/sample_store.h"

#include <limits>

#include "store_setup.h"

const double kInf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();

// 2048 + mV / range x 2000 (32768 + mV / range x 32000 on 16 bits), truncated, worked by hand.
// A range that is no positive number, set behind the setter's back, still gives a valid code.
// Calibration moves a 12-bit code against the channel's error, 2 x nominal - measured, inside
// 0-4095 (never for AHA stores); a table row left at zero asks for twice the code, and the
// fraction survives (2 x 2047.48 - 2047). Noise (microvolts, at noiseAt) is added to fixed eight-channel
// records only, clipped with the signal, its position wrapping at the end of the noise record.
TEST(DAC, CodesWorkedByHand) {
    const std::tuple<int, int, double> errors[] = {{0, 2048, 2048}, {1, 3048, 3049}, {3, 2048, 2050}, {0, 2047, 2047}, {2, 4048, 4040},
                                                   {5, 48, 100}, {6, 4048, -1e12}, {7, 2048, kNaN}, {0, 2448, 2500}};
    for (const auto& [channel, code, measured] : errors) g_DACError[channel][code] = measured;
    std::tie(g_NoiseData[7], g_NoiseData[9999]) = std::tuple(500, 3000000);
    enum { F = WaveformFixedChannels, M = WaveformMIT, A = WaveformAHA };
    struct Case { int kind, bits, calibrated; double range, mV; int channel; int64_t noiseAt; int code; };
    const Case cases[] = {{F, 0, 0, 5, 0, 0, -1, 2048}, {F, 0, 0, 5, 5, 0, -1, 4048}, {F, 0, 0, 5, -5, 0, -1, 48}, {F, 0, 0, 5, 7, 0, -1, 4048},
                          {F, 0, 0, 5, -7, 0, -1, 48}, {F, 0, 0, 5, -0.0013, 0, -1, 2047}, {F, 0, 0, 5, 0.0013, 0, -1, 2048},
                          {F, 0, 0, 5, 4.9913, 0, -1, 4044}, {F, 0, 0, 5, kNaN, 0, -1, 2048}, {F, 0, 0, 5, -kInf, 0, -1, 48},
                          {F, 0, 0, 5, 1e308, 0, -1, 4048}, {F, 0, 0, 2.5, 1.25, 0, -1, 3048}, {F, 0, 0, 2.5, -3, 0, -1, 48},
                          {F, 0, 0, 0, 1, 0, -1, 2048}, {F, 0, 0, kNaN, 10, 0, -1, 2048}, {F, 0, 0, -5, -10, 0, -1, 48},
                          {F, 1, 0, 5, 0, 0, -1, 32768}, {F, 1, 0, 5, 5, 0, -1, 64768}, {F, 1, 0, 5, -9, 0, -1, 768},
                          {F, 1, 0, 5, -0.0013, 0, -1, 32759}, {F, 1, 0, 5, kNaN, 0, -1, 32768}, {F, 1, 0, 5, kInf, 0, -1, 64768},
                          {F, 1, 0, 0, -1, 0, -1, 32768}, {F, 1, 1, 5, 1, 0, -1, 39168}, {M, 0, 1, 5, 0, 0, -1, 2048},
                          {M, 0, 1, 5, 2.5, 1, -1, 3047}, {M, 0, 1, 5, 0, 3, -1, 2046}, {M, 0, 1, 5, -0.0013, 0, -1, 2047},
                          {M, 0, 1, 5, 5, 2, -1, 4056}, {M, 0, 1, 5, 0, 4, -1, 4095}, {M, 0, 1, 5, -5, 5, -1, 0}, {M, 0, 1, 5, 5, 6, -1, 4095},
                          {M, 0, 1, 5, 0, 7, -1, 2048}, {M, 0, 1, 5, 0, 8, -1, 2048}, {M, 0, 1, 5, 0, -1, -1, 2048}, {A, 0, 1, 5, 1, 0, -1, 2448},
                          {F, 0, 1, 5, 1, 0, -1, 2396}, {F, 0, 0, 5, 0, 0, 7, 2248}, {F, 0, 0, 5, 0, 0, 9999, 4048},
                          {F, 0, 0, 5, 0, 0, 20007, 2248}, {A, 0, 0, 5, 0, 0, 7, 2048}, {M, 0, 0, 5, 0, 0, 7, 2048},
                          {WaveformKestrane, 0, 0, 5, 0, 0, 7, 2048}, {WaveformGenerated, 0, 0, 5, 0, 0, 7, 2048},
                          {WaveformEDF, 0, 0, 5, 0, 0, 7, 2048}, {WaveformSine, 0, 0, 5, 0, 0, 7, 2048}};
    for (const Case& c : cases) {
        std::tie(g_WaveformType, g_nDACBit, g_bDACAvailable, g_fVoltageRange) = std::tuple(c.kind, c.bits, c.calibrated, c.range);
        EnableNoise(c.noiseAt >= 0);
        g_nNoiseCurrent = uint64_t(c.noiseAt);
        EXPECT_EQ(DAC(c.mV, c.channel), c.code) << "row " << &c - cases;
    }
    EXPECT_EQ(AdjustVoltage(-7) + AdjustVoltage(7), 0);
    SetOutputVoltageRange(2.5);
    for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) SetOutputVoltageRange(bad);
    EXPECT_EQ(g_fVoltageRange, 2.5);
}

// Zeroed channels per kind (two for AHA); a store without samples, of an impossible size or
// whose mapped kind feeds no output from its own channels cannot be played.
TEST(SampleStore, AllocatesPerKindAndRefusesWhatCannotPlay) {
    EXPECT_FALSE(ValidateECGData()) << "nothing loaded";
    for (int kind : {WaveformFixedChannels, WaveformAHA}) {
        MakeStore(kind, 500, 10, kind == WaveformAHA ? 3 : 8);  // AHA keeps two arrays whatever the count
        for (int ch = 0; ch < g_iECGSignalNumber; ++ch)
            EXPECT_TRUE(ch < 2 || kind != WaveformAHA ? std::count(g_pECGData[ch], g_pECGData[ch] + 10, 0.0) == 10 : !g_pECGData[ch]) << ch;
        EXPECT_TRUE(ValidateECGData());
    }
    for (int channels : {1, -3}) EXPECT_FALSE(ReallocateECGDataBuffer(channels) != (channels > 0) || ValidateECGData()) << "AHA needs both";
    EXPECT_EQ(g_iECGSignalNumber, 0);
    MakeStore(WaveformFixedChannels, 500, 0, 8);
    EXPECT_FALSE(ValidateECGData()) << "no samples, no channel arrays";
    for (int64_t count : {std::numeric_limits<int64_t>::max(), int64_t{-1}}) {
        g_nSampleCount = count;
        EXPECT_FALSE(ReallocateECGDataBuffer(8) || ValidateECGData()) << count;
    }
    for (int kind : {WaveformMIT, WaveformEDFChestV1V4, WaveformEDF}) {
        MakeStore(kind, 360, 10, 2);
        std::fill(g_ECGMappingLead, g_ECGMappingLead + 8, -1);
        for (auto [channel, isPlayable] : {std::pair{-1, false}, {1, true}, {2, false}})  // 2: left from a header with more channels
            EXPECT_EQ((g_ECGMappingLead[6] = channel, ValidateECGData()), isPlayable) << "kind " << kind << ", V5 on " << channel;
    }
    FreeECGDataBuffer();
    EXPECT_FALSE(g_pECGData != nullptr || ValidateECGData());
}
