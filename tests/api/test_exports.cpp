// The exports that need no generator: silent correction of their arguments before the engine
// sees them, the version, and what a failed load leaves. (The header an application gets back
// is the engine's: its tests hold the remapping and the release.)

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include "api/api_lock.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

extern "C" unsigned int CApiVersion(void);

const double kInf = INFINITY, kNaN = NAN;

// Frequencies round to hundredths inside 0-100; amplitudes clamp to +-10 without rounding.
TEST(ValidateArguments, RoundAndClampEveryDouble) {
    struct Case { bool isFrequency; double in, out; };
    for (const Case& c : {Case{true, 0.004, 0}, {true, 0.005, 0.01}, {true, 150, 100}, {true, -3, 0}, {true, 1.234, 1.23},
                          {true, 1.235, 1.24}, {true, 99.996, 100}, {true, 100.004, 100}, {true, -0.004, 0}, {true, kNaN, 0},
                          {true, kInf, 100}, {true, -kInf, 0}, {true, 1e300, 100}, {true, -1e300, 0}, {false, 12, 10},
                          {false, -10.5, -10}, {false, 9.999, 9.999}, {false, -10, -10}, {false, kNaN, 0}, {false, kInf, 10},
                          {false, -kInf, -10}}) {
        double value = c.in;
        (c.isFrequency ? ValidateFrequency : ValidateAmplitude)(value);
        EXPECT_DOUBLE_EQ(value, c.out) << "input " << c.in << (c.isFrequency ? " Hz" : " mV");
    }
}

TEST(Version, PacksFourFieldsOneBytePerField) {
    EXPECT_EQ(std::tuple(TAVOGetVersion(), CApiVersion()), std::tuple(0x01000504u, 0x01000504u)) << "also from C";
    EXPECT_EQ(std::tuple(ConvertVersion(nullptr), ConvertVersion("3")), std::tuple(0u, 0x03000000u));
    EXPECT_EQ(ConvertVersion("2.10.300.4"), 0x020A2C04u) << "300 keeps its low byte";
}

// Frequency and amplitude as the engine got them.
TEST(WaveformExports, CorrectTheirArgumentsFirst) {
    struct Row { std::function<bool()> load; int kind; double frequency, amplitude; };
    const Row rows[] = {
        {[] { return TAVOLoadWaveform(WAVEFORM_SINE, 2.345, 12); }, WaveformSine, 2.35, 10},
        {[] { return TAVOLoadWaveform(WAVEFORM_SQUARE, 150, kNaN); }, WaveformSquare, 100, 0},
        {[] { return TAVOLoadWaveformRectanglePulse(120, 0.004, 11); }, WaveformRectanglePulse, 0, 10},
        {[] { return TAVOLoadWaveformTrianglePulse(-4, 1000, -11); }, WaveformTrianglePulse, 100, -10},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(row.load());
        EXPECT_EQ(std::tuple(g_WaveformType, g_fPeriodFrequency, g_fPeriodAmplitude[0], g_fPeriodAmplitude[7]),
                  std::tuple(row.kind, row.frequency, row.amplitude, row.amplitude));
    }
    double amplitudes[9] = {12, -10.5, 9.999, 0, kNaN, kInf, -kInf, 3, 12};
    ASSERT_TRUE(TAVOLoadWaveformEx(WAVEFORM_TRIANGLE, 250, amplitudes));
    const std::vector<double> corrected = {10, -10, 9.999, 0, 0, 10, -10, 3, 12};
    EXPECT_EQ(std::vector<double>(amplitudes, amplitudes + 9), corrected) << "the caller's eight are corrected in place";
    EXPECT_EQ(std::tuple(g_fPeriodFrequency, g_fPeriodAmplitude[4], g_fPeriodAmplitude[5]), std::tuple(100.0, 0.0, 10.0));
    EXPECT_FALSE(TAVOLoadWaveformEx(WAVEFORM_SINE, 1.0, nullptr));
    ASSERT_TRUE(TAVOLoadWaveformCalibrationMode(1.0, 12));
    EXPECT_EQ(std::tuple(g_pECGData[3][359], g_pECGData[3][0]), std::tuple(10.0, 0.0)) << "amplitude clamped";
}

namespace {
std::vector<std::vector<double>> g_frames;
std::vector<std::vector<double>> PreviewFirstSecond() {
    g_frames.clear();
    EXPECT_TRUE(TAVOGetWaveformSignal(0, 1, [](double, double* leads, bool) { g_frames.emplace_back(leads, leads + 12); }));
    return g_frames;
}
}  // namespace

// After MA1_001, every load export that fails leaves the record, its playback kind and so its
// preview exactly as they were.
TEST(FailedLoads, LeaveTheLoadedRecordAsItWas) {
    CTempDir dir;
    WriteTextFile(dir.File("short.txt"), "1000 2 3 4 5 6 7 8 9 10 11 12\n1 2 3 4 5 6 7 8 9 10 11\n");
    WriteTextFile(dir.File("nostart.kes"), "1000\n10\nbegin\n");
    for (const char* name : {"nodat", "two"}) WriteTextFile(dir.File(name) + ".hea", std::string(name) + " 1 100 2\n" + name + ".dat 16 100 16 0 0 0 0 I\n");
    WriteBinaryFile(dir.File("two.dat"), {1, 0, 2, 0});
    ECG_HEADER* two = TAVOLoadMITHeader(dir.File("two.hea").c_str());
    EXPECT_TRUE(two != nullptr && TAVOLoadMITDatabase(two)) << "a record that loads";
    TAVOFreeECGHeader(two);
    g_pszRepository = dir.Path().c_str();
    TAVOFreeECGHeader(TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_001, CTSCSE_NOISE_NONE));
    const std::vector<std::vector<double>> before = PreviewFirstSecond();
    ASSERT_EQ(before.size(), 1001u);
    const std::pair<ECG_HEADER* (*)(const char*), const char*> files[] = {{TAVOLoadDatabaseAHA, "missing.txt"}, {TAVOLoadDatabaseAHA, "nodat.hea"},
        {TAVOLoadDatabaseCSE, "short.txt"}, {TAVOLoadDatabaseKestrane, "nostart.kes"}, {TAVOLoadMITHeader, "nodat.hea"}};
    std::vector<std::function<bool()>> failures = {
        [] { return TAVOLoadWaveform(static_cast<WAVEFORM_TYPE>(7), 1.0, 1.0); }, [] { return TAVOLoadMITDatabase(nullptr); }};
    for (const auto& [load, file] : files) failures.push_back([&] { return load(dir.File(file).c_str()) != nullptr; });
    for (size_t i = 0; i < failures.size(); ++i) {
        TAVOFreeECGHeader(TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_001, CTSCSE_NOISE_NONE));
        EXPECT_FALSE(failures[i]()) << "row " << i;
        EXPECT_TRUE(g_WaveformType == WaveformFixedChannels && PreviewFirstSecond() == before) << "row " << i;
    }
}
