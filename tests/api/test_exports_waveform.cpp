// The waveform exports: silent correction of their arguments before the engine sees them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

int g_previewCalls = 0;
void CountPreview(double, double*, bool) { ++g_previewCalls; }

std::vector<WFDB_HEADER*> g_released;
void FakeRelease(WFDB_HEADER* header) { g_released.push_back(header); }

}  // namespace

TEST(TAVOLoadWaveform, RoundsAndClampsTheFrequency) {
    struct Case {
        double in, loaded;
    };
    for (const Case& c : {Case{0.004, 0}, Case{0.005, 0.01}, Case{150, 100}, Case{-3, 0}, Case{2.345, 2.35}}) {
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, c.in, 1.0));
        EXPECT_DOUBLE_EQ(g_fPeriodFrequency, c.loaded) << "requested " << c.in;
    }
}

TEST(TAVOLoadWaveform, ClampsTheAmplitudeWithoutRounding) {
    struct Case {
        double in, loaded;
    };
    for (const Case& c : {Case{12, 10}, Case{-10.5, -10}, Case{9.999, 9.999}, Case{std::nan(""), 0}}) {
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 1.0, c.in));
        for (double a : g_fPeriodAmplitude) EXPECT_EQ(a, c.loaded) << "requested " << c.in;
    }
    EXPECT_FALSE(TAVOLoadWaveform(static_cast<WAVEFORM_TYPE>(7), 1.0, 1.0));
}

TEST(TAVOLoadWaveformEx, CorrectsTheCallersArrayInPlace) {
    const double inf = std::numeric_limits<double>::infinity();
    double amplitudes[8] = {12, -10.5, 9.999, 0, std::nan(""), inf, -inf, 3};
    ASSERT_TRUE(TAVOLoadWaveformEx(WAVEFORM_TRIANGLE, 250, amplitudes));
    const double corrected[8] = {10, -10, 9.999, 0, 0, 10, -10, 3};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(amplitudes[i], corrected[i]) << "entry " << i;
        EXPECT_EQ(g_fPeriodAmplitude[i], corrected[i]) << "entry " << i;
    }
    EXPECT_EQ(g_fPeriodFrequency, 100.0);
    EXPECT_EQ(g_WaveformType, WaveformTriangle);
    EXPECT_FALSE(TAVOLoadWaveformEx(WAVEFORM_SINE, 1.0, nullptr));
}

TEST(TAVOLoadWaveformPulses, ValidateTheDoublesAndKeepTheWidth) {
    ASSERT_TRUE(TAVOLoadWaveformRectanglePulse(120, 0.004, 11));
    EXPECT_EQ(g_WaveformType, WaveformRectanglePulse);
    EXPECT_EQ(g_nPeriodPulseWidth, 120);
    EXPECT_EQ(g_fPeriodFrequency, 0.0);
    EXPECT_EQ(g_fPeriodAmplitude[7], 10.0);
    ASSERT_TRUE(TAVOLoadWaveformTrianglePulse(-4, 1000, -11));
    EXPECT_EQ(g_WaveformType, WaveformTrianglePulse);
    EXPECT_EQ(g_nPeriodPulseWidth, -4);
    EXPECT_EQ(g_fPeriodFrequency, 100.0);
    EXPECT_EQ(g_fPeriodAmplitude[0], -10.0);
}

TEST(TAVOLoadWaveformCalibration, ClampsTheAmplitudeOfTheTable) {
    ASSERT_TRUE(TAVOLoadWaveformCalibrationMode(1.0, 12));
    EXPECT_EQ(g_pECGData[3][359], 10.0);
    EXPECT_EQ(g_pECGData[3][0], 0.0);
    ASSERT_TRUE(TAVOLoadWaveformAutoCalibrationMode());
    EXPECT_EQ(g_nSampleCount, 45000);
}

TEST(TAVOGetWaveformSignal, NeedsAPlayableStoreAndACallback) {
    EXPECT_FALSE(TAVOGetWaveformSignal(0, 1, CountPreview));
    ASSERT_TRUE(TAVOLoadWaveformAutoCalibrationMode());
    EXPECT_FALSE(TAVOGetWaveformSignal(0, 1, nullptr));
    EXPECT_EQ(g_previewCalls, 0);
    EXPECT_TRUE(TAVOGetWaveformSignal(44, 2, CountPreview));
    EXPECT_EQ(g_previewCalls, 1001) << "the last second of the staircase and the closing frame";
}

TEST(TAVOHeaderExports, RemapTheEngineAndReleaseTheCallersCopy) {
    SetWFDBHeaderReleaser(FakeRelease);
    ECG_HEADER* engine = NewECGHeader(1);
    ASSERT_NE(engine, nullptr);
    engine->Channel[0].nLead = LEAD_V2;
    SetEngineECGHeader(engine);
    ECG_HEADER* copy = CopyECGHeader(engine);
    ASSERT_NE(copy, nullptr);
    copy->Channel[0].nLead = LEAD_V4;
    copy->pWFDBHeader = reinterpret_cast<WFDB_HEADER*>(&g_released);
    TAVOUpdateECGHeaderMappingLead(copy);
    EXPECT_EQ(g_ECGMappingLead[LEAD_V4], 0);
    EXPECT_EQ(g_ECGMappingLead[LEAD_V2], -1);
    TAVOUpdateECGHeaderMappingLead(nullptr);
    TAVOFreeECGHeader(copy);
    TAVOFreeECGHeader(nullptr);
    EXPECT_EQ(g_released.size(), 1u);
}
