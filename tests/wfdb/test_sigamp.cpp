// Signal amplitude: beat windows, the robust average, RMS windows, the entry by path, and
// the public records against amplitudes worked out by the test itself.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wfdb/annotation.h"
#include "wfdb/sigamp.h"
#include "wfdb_test_files.h"

namespace {

// Annotation bytes for beats in time order (SKIP words for long gaps).
std::vector<unsigned char> AnnotationBytes(const std::vector<CTestBeat>& beats) {
    std::vector<int> words;
    long long time = 0;
    for (const CTestBeat& beat : beats) {
        const long long gap = beat.time - time;
        if (gap > 1023) words.insert(words.end(), {59 << 10, static_cast<int>(gap >> 16), static_cast<int>(gap & 0xFFFF)});
        words.push_back((beat.code << 10) | static_cast<int>(gap > 1023 ? 0 : gap));
        time = beat.time;
    }
    words.push_back(0);
    return Pack16(words);
}

// A one-signal format-16 record (gain 200) with an optional annotation file.
struct CTestRecord {
    CTempDir dir;
    CHeaderPtr header;

    CTestRecord(const std::vector<int>& samples, const std::vector<CTestBeat>& beats, int frequency = 360) {
        header = OpenRecord(dir.Path(), "rec 1 " + std::to_string(frequency) + " " + std::to_string(samples.size()) +
                                            "\nrec.dat 16 200 16 0\n", Pack16(samples));
        if (beats.empty()) return;
        WriteBinaryFile(dir.File("rec.atr"), AnnotationBytes(beats));
        EXPECT_TRUE(WFDBLoadAnnotation(dir.File("rec.atr").c_str(), header.get()));
    }
    double Amplitude() {
        int signals = -1;
        double* amplitude = WFDBSignalAmplitude(header.get(), &signals);
        EXPECT_EQ(signals, 1);
        const double value = amplitude != nullptr ? amplitude[0] : -1.0;
        WFDBMemFree(amplitude);
        return value;
    }
    std::vector<double> Slots(void (*measure)(WFDB_HEADER*, double**)) {
        std::vector<double> slots(g_nRunMax, -1.0);  // slots never reached are left alone
        double* slotArray = slots.data();
        measure(header.get(), &slotArray);
        return slots;
    }
};

// Class-1 beats every 100 samples from sample 100, each a spike of its own height on a zero
// line, so that every window's peak to peak is that height.
std::vector<int> SpikeTrain(const std::vector<int>& heights, std::vector<CTestBeat>& beats) {
    std::vector<int> samples(100 * heights.size() + 200, 0);
    for (size_t k = 0; k < heights.size(); ++k) {
        samples[100 + 100 * k] = heights[k];
        beats.push_back({static_cast<long long>(100 + 100 * k), 1});
    }
    return samples;
}

}  // namespace

TEST(SignalAmplitude, MeasuresABeatFromATwentiethOfASecondBeforeToATwentiethAfter) {
    for (const auto& [frequency, halfWindow] : {std::pair{360, 18}, std::pair{250, 12}}) {
        std::vector<int> samples(2000, 0);
        samples[1000 - halfWindow] = -7;  // the window's first and last samples count
        samples[1000 + halfWindow] = 9;
        samples[1000 - halfWindow - 1] = -500;  // the samples just outside do not
        samples[1000 + halfWindow + 1] = 500;
        CTestRecord record(samples, {{1000, 1}}, frequency);
        const std::vector<double> slots = record.Slots(sigamp_p2p);
        EXPECT_EQ(slots[0], 16.0) << frequency;
        EXPECT_EQ(slots[1], -1.0);
    }
}

TEST(SignalAmplitude, AveragesTheMiddle270OfThe300SlotsAndTruncates) {
    // 15 low and 15 high outliers are dropped; 117 x 1234 + 153 x 1235 over 270 is
    // 1234.5666..., which truncates (not rounds) to 1234.56666.
    std::vector<int> heights(15, 1);
    heights.insert(heights.end(), 117, 1234);
    heights.insert(heights.end(), 153, 1235);
    heights.insert(heights.end(), 15, 5000);
    heights.insert(heights.end(), 40, 30000);  // beats 301 on are never measured
    std::vector<CTestBeat> beats, withVentricular;
    std::vector<int> samples = SpikeTrain(heights, beats);
    for (const CTestBeat& beat : beats) {  // ventricular beats (code 5) with large spikes are never measured
        withVentricular.insert(withVentricular.end(), {beat, {beat.time + 50, 5}});
        samples[beat.time + 50] = -20000;
    }
    EXPECT_DOUBLE_EQ(CTestRecord(samples, withVentricular).Amplitude(), 1234.56666);
    // 100 beats of heights 1..100: slots 15..284 hold 185 empty slots (zeros) and 1..85, so 3655 / 270.
    heights.clear();
    for (int h = 1; h <= 100; ++h) heights.push_back(h);
    beats.clear();
    samples = SpikeTrain(heights, beats);
    EXPECT_DOUBLE_EQ(CTestRecord(samples, beats).Amplitude(), 13.53703);
    beats.clear();  // amplitudes beyond the 32-bit truncation range are kept
    samples = SpikeTrain(std::vector<int>(300, 30000), beats);
    for (const CTestBeat& beat : beats) samples[beat.time + 1] = -30000;
    EXPECT_EQ(CTestRecord(samples, beats).Amplitude(), 60000.0);
}

TEST(SignalAmplitude, StopsAtABeatWhoseWindowLeavesTheRecord) {
    std::vector<CTestBeat> beats;
    std::vector<int> samples = SpikeTrain(std::vector<int>(300, 50), beats);
    std::vector<CTestBeat> early = beats;
    early.insert(early.begin(), CTestBeat{10, 1});  // 10 - 18 < 0
    EXPECT_EQ(CTestRecord(samples, early).Amplitude(), 0.0);
    samples.resize(100 * 200);  // 20000 samples: the beat at 20000 lies past the end, its window starts inside
    samples[0] = 7000;          // a window taken back to the start would see this
    const std::vector<double> slots = CTestRecord(samples, beats).Slots(sigamp_p2p);
    EXPECT_EQ(std::vector<double>(slots.begin(), slots.begin() + 199), std::vector<double>(199, 50.0));
    EXPECT_EQ(slots[199], 0.0);  // that window is cut at the end, not wrapped
    EXPECT_EQ(std::vector<double>(slots.begin() + 200, slots.end()), std::vector<double>(100, -1.0));
}

TEST(SignalAmplitude, FillsRmsWindowsOfWholeSecondsAndTruncatesEachDeviation) {
    std::vector<int> samples;  // window k alternates +-(k + 1), so its RMS is k + 1 exactly
    for (int window = 0; window < 300; ++window) {
        for (int k = 0; k < 360; ++k) samples.push_back(k % 2 == 0 ? window + 1 : -(window + 1));
    }
    EXPECT_DOUBLE_EQ(CTestRecord(samples, {}).Amplitude(), 150.5);  // (16 + 285) / 2
    samples.pop_back();  // the last window is one sample short and is not stored
    EXPECT_DOUBLE_EQ(CTestRecord(samples, {}).Amplitude(), 149.5);  // (15 + 284) / 2, with one zero slot
    // 359 zeros and one 100: the mean is 0.2777..., the deviations truncate to 0 and 99.
    samples.assign(360, 0);
    samples[200] = 100;
    samples.insert(samples.end(), 100, 5);  // less than a window more: not measured
    const std::vector<double> slots = CTestRecord(samples, {}).Slots(sigamp_rms);
    EXPECT_DOUBLE_EQ(slots[0], std::sqrt(9801.0 / 360.0));
    EXPECT_EQ(slots[1], -1.0);
    EXPECT_EQ(CTestRecord(std::vector<int>(359, 1000), {}).Amplitude(), 0.0);  // shorter than one window
}

TEST(SignalAmplitude, OpensARecordByItsPathAndRefusesWhatItCannotOpen) {
    CTempDir dir;
    std::vector<int> samples;  // two signals, 400 frames: +-10 and +-3
    for (int k = 0; k < 400; ++k) samples.insert(samples.end(), {k % 2 == 0 ? 10 : -10, k % 2 == 0 ? 3 : -3});
    WriteTextFile(dir.File("two.hea"), "two 2 360 400\ntwo.dat 16\ntwo.dat 16\n");
    WriteBinaryFile(dir.File("two.dat"), Pack16(samples));
    for (std::string path : {dir.File("two.hea"), dir.File("two"), dir.File("two.dat")}) {
        int signals = 0;
        double* amplitude = WFDBSignalAmplitudeEx(path.data(), &signals);
        ASSERT_NE(amplitude, nullptr) << path;
        EXPECT_EQ(signals, 2);
        EXPECT_EQ(amplitude[0] + amplitude[1], 0.0);  // one RMS window among 300 slots: the middle 270 are zeros
        WFDBMemFree(amplitude);
    }
    // With an annotation file the beats are measured: 20 windows of peak to peak 20 and 6 among 280 empty slots.
    std::vector<CTestBeat> beats;
    for (int k = 0; k < 20; ++k) beats.push_back({20 + 10 * k, 1});
    WriteBinaryFile(dir.File("two.atr"), AnnotationBytes(beats));
    double* measured = nullptr;
    ASSERT_EQ(sigamp(dir.File("two.hea").c_str(), &measured), 2);
    EXPECT_DOUBLE_EQ(measured[0], 0.37037);  // 100 / 270
    EXPECT_DOUBLE_EQ(measured[1], 0.11111);  // 30 / 270
    delete[] measured;
    std::string missing = dir.File("none.hea");
    int signals = -1;
    EXPECT_EQ(WFDBSignalAmplitudeEx(missing.data(), &signals), nullptr);
    EXPECT_EQ(signals, 0);
    EXPECT_EQ(WFDBSignalAmplitudeEx(nullptr, nullptr), nullptr);
    signals = -1;
    EXPECT_EQ(WFDBSignalAmplitude(nullptr, &signals), nullptr);
    EXPECT_EQ(signals, 0);
    double* untouched = nullptr;
    EXPECT_EQ(sigamp(static_cast<WFDB_HEADER*>(nullptr), &untouched), 0);
    EXPECT_EQ(untouched, nullptr);
}

TEST(SignalAmplitudeRecords, MatchAmplitudesWorkedFromTheSamples) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const std::string name : {"100s", "100", "s0010_re"}) {
        const bool isRms = name == "s0010_re";  // no annotation file: RMS windows
        const std::vector<std::vector<int>> signals =
            isRms ? SplitSignals(DecodeFile16(SharedRecordFile(name + ".dat")), 12)
                  : SplitSignals(DecodeFile212(SharedRecordFile(name + ".dat")), 2);
        const std::vector<double> expected =
            isRms ? ExpectedRms(signals) : ExpectedPeakToPeak(signals, DecodeAnnotationFile(SharedRecordFile(name + ".atr")), 18);
        std::string path = SharedRecordFile(name + ".hea");
        int count = 0;
        double* amplitude = WFDBSignalAmplitudeEx(path.data(), &count);
        ASSERT_NE(amplitude, nullptr);
        ASSERT_EQ(count, static_cast<int>(signals.size())) << name;
        for (int s = 0; s < count; ++s) {
            EXPECT_GT(expected[s], 0.0) << name << " " << s;
            EXPECT_NEAR(amplitude[s], expected[s], 1.001e-5) << name << " " << s;
        }
        WFDBMemFree(amplitude);
    }
}
