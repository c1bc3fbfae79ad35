// Signal amplitude: beat windows, the robust average, RMS windows, the entry by path, and the
// public records against amplitudes worked out from their samples and beats outside the project.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "wfdb/annotation.h"
#include "wfdb/sigamp.h"
#include "wfdb_test_files.h"

namespace {

using CBeats = std::vector<std::pair<int, int>>;  // (sample, annotation code) in time order

// Annotation words for the beats (all gaps below 1024), then the end word.
std::vector<unsigned char> AnnotationBytes(const CBeats& beats) {
    std::vector<int> words;
    int time = 0;
    for (const auto& [sample, code] : beats) words.push_back((code << 10) | (sample - std::exchange(time, sample)));
    words.push_back(0);
    return Pack16(words);
}

// A one-signal format-16 record (gain 200) with an annotation file when there are beats.
struct CTestRecord {
    CTempDir dir;
    CHeaderPtr header;

    CTestRecord(const std::vector<int>& samples, const CBeats& beats, int frequency = 360) {
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
// line, so that every window's peak to peak is that height; beats holds them.
std::vector<int> SpikeTrain(const std::vector<int>& heights, CBeats& beats) {
    std::vector<int> samples(100 * heights.size() + 200, 0);
    for (size_t k = 0; k < heights.size(); ++k) {
        samples[100 + 100 * k] = heights[k];
        beats.emplace_back(static_cast<int>(100 + 100 * k), 1);
    }
    return samples;
}

}  // namespace

// The robust average sorts 300 slots (empty ones 0), keeps the middle 270, and truncates their mean to 5 decimals.
TEST(SignalAmplitude, AveragesTheMiddle270OfThe300SlotsAndTruncates) {
    // 15 low and 15 high outliers dropped; 117 x 1234 + 153 x 1235 over 270 is 1234.5666...; beats past the 300th,
    // and ventricular beats (code 5) with large spikes, are never measured.
    std::vector<int> heights(15, 1);
    heights.insert(heights.end(), 117, 1234);
    heights.insert(heights.end(), 153, 1235);
    heights.insert(heights.end(), 15, 5000);
    heights.insert(heights.end(), 40, 30000);
    CBeats beats, withVentricular;
    std::vector<int> samples = SpikeTrain(heights, beats);
    for (const auto& [sample, code] : beats) {
        withVentricular.insert(withVentricular.end(), {{sample, code}, {sample + 50, 5}});
        samples[sample + 50] = -20000;
    }
    EXPECT_DOUBLE_EQ(CTestRecord(samples, withVentricular).Amplitude(), 1234.56666);
    // Heights 1..100: slots 15..284 hold 185 empty slots and 1..85, so 3655 / 270.
    heights.clear();
    for (int h = 1; h <= 100; ++h) heights.push_back(h);
    beats.clear();
    EXPECT_DOUBLE_EQ(CTestRecord(SpikeTrain(heights, beats), beats).Amplitude(), 13.53703);
    beats.clear();  // amplitudes beyond the 32-bit truncation range are kept
    samples = SpikeTrain(std::vector<int>(300, 30000), beats);
    for (const auto& beat : beats) samples[beat.first + 1] = -30000;
    EXPECT_EQ(CTestRecord(samples, beats).Amplitude(), 60000.0);
    // A beat whose window starts before the record ends the measuring at once: 10 - 18 < 0.
    beats.insert(beats.begin(), {10, 1});
    EXPECT_EQ(CTestRecord(samples, beats).Amplitude(), 0.0);
    // Without beats, 360-sample windows: window k alternates +-(k + 1), so its RMS is k + 1; one sample
    // short, the last window is not stored; a record shorter than one window has amplitude 0.
    samples.clear();
    for (int window = 0; window < 300; ++window) {
        for (int k = 0; k < 360; ++k) samples.push_back(k % 2 == 0 ? window + 1 : -(window + 1));
    }
    EXPECT_DOUBLE_EQ(CTestRecord(samples, {}).Amplitude(), 150.5);  // (16 + 285) / 2
    samples.pop_back();
    EXPECT_DOUBLE_EQ(CTestRecord(samples, {}).Amplitude(), 149.5);  // (15 + 284) / 2, with one empty slot
    EXPECT_EQ(CTestRecord(std::vector<int>(359, 1000), {}).Amplitude(), 0.0);
}

TEST(SignalAmplitude, FillsASlotPerBeatWindowOrRmsWindow) {
    // A beat's window runs a twentieth of a second each side, both ends included.
    for (const auto& [frequency, halfWindow] : {std::pair{360, 18}, std::pair{250, 12}}) {
        std::vector<int> samples(2000, 0);
        samples[1000 - halfWindow] = -7;
        samples[1000 + halfWindow] = 9;
        samples[1000 - halfWindow - 1] = -500;
        samples[1000 + halfWindow + 1] = 500;
        const std::vector<double> slots = CTestRecord(samples, {{1000, 1}}, frequency).Slots(sigamp_p2p);
        EXPECT_EQ(slots[0], 16.0) << frequency;
        EXPECT_EQ(slots[1], -1.0);
    }
    // 20000 samples: the beat at 20000 lies past the end although its window starts inside, and the
    // window of the beat at 19900 is cut at the end, not wrapped to the start.
    CBeats beats;
    std::vector<int> samples = SpikeTrain(std::vector<int>(300, 50), beats);
    samples.resize(100 * 200);
    samples[0] = 7000;
    std::vector<double> slots = CTestRecord(samples, beats).Slots(sigamp_p2p);
    EXPECT_EQ(std::vector<double>(slots.begin(), slots.begin() + 199), std::vector<double>(199, 50.0));
    EXPECT_EQ(slots[199], 0.0);
    EXPECT_EQ(std::vector<double>(slots.begin() + 200, slots.end()), std::vector<double>(100, -1.0));
    // 359 zeros and one 100: the mean is 0.2777..., the deviations truncate to 0 and 99.
    samples.assign(360, 0);
    samples[200] = 100;
    samples.insert(samples.end(), 100, 5);  // less than a window more: not measured
    slots = CTestRecord(samples, {}).Slots(sigamp_rms);
    EXPECT_DOUBLE_EQ(slots[0], std::sqrt(9801.0 / 360.0));
    EXPECT_EQ(slots[1], -1.0);
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
        EXPECT_EQ(amplitude[0] + amplitude[1], 0.0);  // one RMS window among 300 slots: the middle 270 are empty
        WFDBMemFree(amplitude);
    }
    // With an annotation file the beats are measured: 20 windows of peak to peak 20 and 6 among 280 empty slots.
    CBeats beats;
    for (int k = 0; k < 20; ++k) beats.emplace_back(20 + 10 * k, 1);
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

// Worked out once from the stored samples and beats by a script of its own: peak to peak around
// the beats of 100s and 100, RMS windows of s0010_re (no annotation file).
TEST(SignalAmplitudeRecords, MatchAmplitudesWorkedFromTheirSamples) {
    TAVO_REQUIRE_SHARED_DATA();
    const std::pair<std::string, std::vector<double>> cases[] = {
        {"100s", {63.22592, 40.96296}},
        {"100", {293.31111, 189.53333}},
        {"s0010_re", {72.12079, 72.06635, 113.32268, 44.48465, 87.48361, 88.43052, 115.1248, 134.00809, 161.09885, 90.79273,
                      62.43511, 49.2101}}};
    for (const auto& [name, expected] : cases) {
        std::string path = SharedRecordFile(name + ".hea");
        int count = 0;
        double* amplitude = WFDBSignalAmplitudeEx(path.data(), &count);
        ASSERT_NE(amplitude, nullptr);
        ASSERT_EQ(count, static_cast<int>(expected.size())) << name;
        for (int s = 0; s < count; ++s) EXPECT_NEAR(amplitude[s], expected[s], 1.001e-5) << name << " " << s;
        WFDBMemFree(amplitude);
    }
}
