// The waveform exports: silent correction of their arguments before the engine sees them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
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

TEST(TAVOLoadWaveform, ValidatesTheDoublesAndRefusesUnknownTypes) {
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 2.345, 12));
    EXPECT_DOUBLE_EQ(g_fPeriodFrequency, 2.35);
    for (double a : g_fPeriodAmplitude) EXPECT_EQ(a, 10.0);
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 150, std::nan("")));
    EXPECT_EQ(g_fPeriodFrequency, 100.0);
    for (double a : g_fPeriodAmplitude) EXPECT_EQ(a, 0.0);
    EXPECT_FALSE(TAVOLoadWaveform(static_cast<WAVEFORM_TYPE>(7), 1.0, 1.0));

    const double inf = std::numeric_limits<double>::infinity();
    double amplitudes[8] = {12, -10.5, 9.999, 0, std::nan(""), inf, -inf, 3};
    ASSERT_TRUE(TAVOLoadWaveformEx(WAVEFORM_TRIANGLE, 250, amplitudes));
    const std::vector<double> corrected = {10, -10, 9.999, 0, 0, 10, -10, 3};
    EXPECT_EQ(std::vector<double>(amplitudes, amplitudes + 8), corrected) << "the caller's array is corrected in place";
    EXPECT_EQ(std::vector<double>(g_fPeriodAmplitude, g_fPeriodAmplitude + 8), corrected);
    EXPECT_EQ(std::tuple(g_fPeriodFrequency, g_WaveformType), std::tuple(100.0, int(WaveformTriangle)));
    EXPECT_FALSE(TAVOLoadWaveformEx(WAVEFORM_SINE, 1.0, nullptr));
}

TEST(TAVOLoadWaveformPulses, ValidateTheDoublesAndKeepTheWidth) {
    ASSERT_TRUE(TAVOLoadWaveformRectanglePulse(120, 0.004, 11));
    EXPECT_EQ(std::tuple(g_WaveformType, g_nPeriodPulseWidth, g_fPeriodFrequency, g_fPeriodAmplitude[7]),
              std::tuple(int(WaveformRectanglePulse), 120, 0.0, 10.0));
    ASSERT_TRUE(TAVOLoadWaveformTrianglePulse(-4, 1000, -11));
    EXPECT_EQ(std::tuple(g_WaveformType, g_nPeriodPulseWidth, g_fPeriodFrequency, g_fPeriodAmplitude[0]),
              std::tuple(int(WaveformTrianglePulse), -4, 100.0, -10.0));
    ASSERT_TRUE(TAVOLoadWaveformCalibrationMode(1.0, 12));
    EXPECT_EQ(std::tuple(g_pECGData[3][359], g_pECGData[3][0]), std::tuple(10.0, 0.0)) << "amplitude clamped";
}

TEST(TAVOGetWaveformSignal, NeedsAPlayableStoreAndACallback) {
    EXPECT_FALSE(TAVOGetWaveformSignal(0, 1, CountPreview));
    ASSERT_TRUE(TAVOLoadWaveformAutoCalibrationMode());
    EXPECT_FALSE(TAVOGetWaveformSignal(0, 1, nullptr));
    EXPECT_EQ(g_previewCalls, 0);
    EXPECT_TRUE(TAVOGetWaveformSignal(44, 2, CountPreview));
    EXPECT_EQ(g_previewCalls, 1001) << "the last second of the 45 s staircase and the closing frame";
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
    TAVOUpdateECGHeaderMappingLead(nullptr);
    EXPECT_EQ(std::tuple(g_ECGMappingLead[LEAD_V4], g_ECGMappingLead[LEAD_V2]), std::tuple(0, -1));
    TAVOFreeECGHeader(copy);
    TAVOFreeECGHeader(nullptr);
    EXPECT_EQ(g_released.size(), 1u);
}
