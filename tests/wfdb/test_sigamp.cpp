// Signal amplitude: beat windows, the robust average, RMS windows, the entry by
// path, and the public records against amplitudes worked out by the test itself.

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
    std::vector<unsigned char> bytes;
    auto word = [&](int value) {
        bytes.push_back(static_cast<unsigned char>(value & 0xFF));
        bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
    };
    long long time = 0;
    for (const CTestBeat& beat : beats) {
        long long gap = beat.time - time;
        if (gap > 1023) {
            word(59 << 10);
            word(static_cast<int>(gap >> 16));
            word(static_cast<int>(gap & 0xFFFF));
            gap = 0;
        }
        word((beat.code << 10) | static_cast<int>(gap));
        time = beat.time;
    }
    word(0);
    return bytes;
}

// A one-signal format-16 record (gain 200, 360 Hz unless told otherwise) with an
// optional annotation file, opened like the noise stress test opens its input.
struct CTestRecord {
    CTempDir dir;
    CHeaderPtr header;

    CTestRecord(const std::vector<int>& samples, const std::vector<CTestBeat>* beats, int frequency = 360) {
        const std::string text =
            "rec 1 " + std::to_string(frequency) + " " + std::to_string(samples.size()) + "\nrec.dat 16 200 16 0\n";
        header = OpenRecord(dir.Path(), text, Pack16(samples));
        if (beats != nullptr) {
            WriteBinaryFile(dir.File("rec.atr"), AnnotationBytes(*beats));
            if (header != nullptr) WFDBLoadAnnotation(dir.File("rec.atr").c_str(), header.get());
        }
    }

    double Amplitude() {
        int signals = -1;
        double* amplitude = WFDBSignalAmplitude(header.get(), &signals);
        EXPECT_EQ(signals, 1);
        const double value = amplitude != nullptr ? amplitude[0] : -1.0;
        WFDBMemFree(amplitude);
        return value;
    }
};

// Beats of class 1 every 100 samples from sample 100, each a spike of its own
// height on a zero line, so that every window's peak to peak is that height.
std::vector<int> SpikeTrain(const std::vector<int>& heights, std::vector<CTestBeat>& beats, int code = 1) {
    std::vector<int> samples(100 * heights.size() + 200, 0);
    for (size_t k = 0; k < heights.size(); ++k) {
        const long long time = 100 + 100 * static_cast<long long>(k);
        samples[static_cast<size_t>(time)] = heights[k];
        beats.push_back({time, code});
    }
    return samples;
}

}  // namespace

TEST(SignalAmplitude, MeasuresABeatFromATwentiethOfASecondBeforeToATwentiethAfter) {
    struct Case {
        int frequency, halfWindow;
    };
    for (const Case& c : {Case{360, 18}, Case{250, 12}}) {
        SCOPED_TRACE(c.frequency);
        std::vector<int> samples(2000, 0);
        samples[1000 - c.halfWindow] = -7;  // the window's first and last samples count
        samples[1000 + c.halfWindow] = 9;
        samples[1000 - c.halfWindow - 1] = -500;  // the samples just outside do not
        samples[1000 + c.halfWindow + 1] = 500;
        const std::vector<CTestBeat> beats = {{1000, 1}};
        CTestRecord record(samples, &beats, c.frequency);
        ASSERT_NE(record.header, nullptr);
        std::vector<double> slots(g_nRunMax, -1.0);
        double* slotArray = slots.data();
        sigamp_p2p(record.header.get(), &slotArray);
        EXPECT_EQ(slots[0], 16.0);
        EXPECT_EQ(slots[1], -1.0);  // slots never reached are left alone
    }
}

TEST(SignalAmplitude, AveragesTheMiddle270OfTheFirst300BeatsAndTruncates) {
    // 15 low and 15 high outliers are dropped; 117 x 1234 + 153 x 1235 over 270
    // is 1234.5666..., which truncates (not rounds) to 1234.56666.
    std::vector<int> heights(15, 1);
    heights.insert(heights.end(), 117, 1234);
    heights.insert(heights.end(), 153, 1235);
    heights.insert(heights.end(), 15, 5000);
    heights.insert(heights.end(), 40, 30000);  // beats 301 on are never measured
    std::vector<CTestBeat> beats;
    std::vector<int> samples = SpikeTrain(heights, beats);
    // Ventricular beats (code 5) with large spikes between the others are never measured.
    std::vector<CTestBeat> withVentricular;
    for (const CTestBeat& beat : beats) {
        withVentricular.push_back(beat);
        withVentricular.push_back({beat.time + 50, 5});
        samples[static_cast<size_t>(beat.time + 50)] = -20000;
    }
    CTestRecord record(samples, &withVentricular);
    ASSERT_NE(record.header, nullptr);
    EXPECT_DOUBLE_EQ(record.Amplitude(), 1234.56666);
}

TEST(SignalAmplitude, CountsEmptySlotsAsZeros) {
    // 100 beats of heights 1..100: slots 15..284 hold 185 zeros and 1..85, so 3655 / 270.
    std::vector<int> heights;
    for (int h = 1; h <= 100; ++h) heights.push_back(h);
    std::vector<CTestBeat> beats;
    const std::vector<int> samples = SpikeTrain(heights, beats);
    CTestRecord record(samples, &beats);
    ASSERT_NE(record.header, nullptr);
    EXPECT_DOUBLE_EQ(record.Amplitude(), 13.53703);
}

TEST(SignalAmplitude, StopsAtABeatWhoseWindowWouldStartBeforeTheRecord) {
    std::vector<int> heights(300, 50);
    std::vector<CTestBeat> beats;
    std::vector<int> samples = SpikeTrain(heights, beats);
    beats.insert(beats.begin(), CTestBeat{10, 1});  // 10 - 18 < 0
    CTestRecord record(samples, &beats);
    ASSERT_NE(record.header, nullptr);
    EXPECT_EQ(record.Amplitude(), 0.0);
}

TEST(SignalAmplitude, StopsAtABeatPastTheRecordsEnd) {
    std::vector<int> heights(300, 50);
    std::vector<CTestBeat> beats;
    std::vector<int> samples = SpikeTrain(heights, beats);
    samples.resize(100 * 200);  // the header then says 20000 samples: beats 200 on lie past the end
    samples[0] = 7000;  // a window taken back to the start would see this
    CTestRecord record(samples, &beats);
    ASSERT_NE(record.header, nullptr);
    std::vector<double> slots(g_nRunMax, 0.0);
    double* slotArray = slots.data();
    sigamp_p2p(record.header.get(), &slotArray);
    for (int k = 0; k < 199; ++k) EXPECT_EQ(slots[k], 50.0) << k;
    for (int k = 199; k < g_nRunMax; ++k) EXPECT_EQ(slots[k], 0.0) << k;
}

TEST(SignalAmplitude, KeepsAmplitudesBeyondThe32BitTruncationRange) {
    std::vector<int> heights(300, 30000);
    std::vector<CTestBeat> beats;
    std::vector<int> samples = SpikeTrain(heights, beats);
    for (const CTestBeat& beat : beats) samples[static_cast<size_t>(beat.time + 1)] = -30000;
    CTestRecord record(samples, &beats);
    ASSERT_NE(record.header, nullptr);
    EXPECT_EQ(record.Amplitude(), 60000.0);
}

TEST(SignalAmplitude, FillsAll300RmsWindowsFrom108000Samples) {
    // Window k alternates +-(k + 1), so its RMS is k + 1 exactly.
    std::vector<int> samples;
    for (int window = 0; window < 300; ++window) {
        for (int k = 0; k < 360; ++k) samples.push_back(k % 2 == 0 ? window + 1 : -(window + 1));
    }
    CTestRecord full(samples, nullptr);
    ASSERT_NE(full.header, nullptr);
    EXPECT_DOUBLE_EQ(full.Amplitude(), 150.5);  // (16 + 285) / 2
    samples.pop_back();  // the last window is one sample short and is not stored
    CTestRecord shorter(samples, nullptr);
    ASSERT_NE(shorter.header, nullptr);
    EXPECT_DOUBLE_EQ(shorter.Amplitude(), 149.5);  // (15 + 284) / 2, with one zero slot
}

TEST(SignalAmplitude, TruncatesEachRmsDeviationTowardZero) {
    // 359 zeros and one 100: the mean is 0.2777..., the deviations truncate to 0 and 99.
    std::vector<int> samples(360, 0);
    samples[200] = 100;
    samples.insert(samples.end(), 100, 5);  // less than a window more: not measured
    CTestRecord record(samples, nullptr);
    ASSERT_NE(record.header, nullptr);
    std::vector<double> slots(g_nRunMax, -1.0);
    double* slotArray = slots.data();
    sigamp_rms(record.header.get(), &slotArray);
    EXPECT_DOUBLE_EQ(slots[0], std::sqrt(9801.0 / 360.0));
    EXPECT_EQ(slots[1], -1.0);
}

TEST(SignalAmplitude, IsZeroForARecordShorterThanOneWindow) {
    CTestRecord record(std::vector<int>(359, 1000), nullptr);
    ASSERT_NE(record.header, nullptr);
    EXPECT_EQ(record.Amplitude(), 0.0);
    int signals = -1;
    EXPECT_EQ(WFDBSignalAmplitude(nullptr, &signals), nullptr);
    EXPECT_EQ(signals, 0);
    double* untouched = nullptr;
    EXPECT_EQ(sigamp(static_cast<WFDB_HEADER*>(nullptr), &untouched), 0);
    EXPECT_EQ(untouched, nullptr);
}

TEST(SignalAmplitude, OpensARecordByItsPath) {
    CTempDir dir;
    // Two signals, 400 frames: signal 0 alternates +-10 (RMS 10), signal 1 +-3.
    std::vector<int> samples;
    for (int k = 0; k < 400; ++k) {
        samples.push_back(k % 2 == 0 ? 10 : -10);
        samples.push_back(k % 2 == 0 ? 3 : -3);
    }
    WriteTextFile(dir.File("two.hea"), "two 2 360 400\ntwo.dat 16\ntwo.dat 16\n");
    WriteBinaryFile(dir.File("two.dat"), Pack16(samples));
    // One window filled, 299 zero slots: the middle 270 are all zeros.
    for (const std::string& path : {dir.File("two.hea"), dir.File("two"), dir.File("two.dat")}) {
        SCOPED_TRACE(path);
        std::string copy(path);
        int signals = 0;
        double* amplitude = WFDBSignalAmplitudeEx(copy.data(), &signals);
        ASSERT_NE(amplitude, nullptr);
        EXPECT_EQ(signals, 2);
        EXPECT_EQ(amplitude[0], 0.0);
        EXPECT_EQ(amplitude[1], 0.0);
        WFDBMemFree(amplitude);
    }
    // With an annotation file the beats are measured instead: 20 windows of peak
    // to peak 20 and 6, and 280 zero slots, leave 5 of them among the middle 270.
    std::vector<CTestBeat> beats;
    for (int k = 0; k < 20; ++k) beats.push_back({20 + 10 * k, 1});
    WriteBinaryFile(dir.File("two.atr"), AnnotationBytes(beats));
    const std::string path = dir.File("two.hea");
    double* measured = nullptr;
    ASSERT_EQ(sigamp(path.c_str(), &measured), 2);
    EXPECT_DOUBLE_EQ(measured[0], 0.37037);  // 100 / 270
    EXPECT_DOUBLE_EQ(measured[1], 0.11111);  // 30 / 270
    delete[] measured;

    std::string missing = dir.File("none.hea");
    int signals = -1;
    EXPECT_EQ(WFDBSignalAmplitudeEx(missing.data(), &signals), nullptr);
    EXPECT_EQ(signals, 0);
    EXPECT_EQ(WFDBSignalAmplitudeEx(nullptr, nullptr), nullptr);
    WFDBMemFree(nullptr);
}

TEST(SignalAmplitudeRecords, MatchPeakToPeakAmplitudesWorkedFromTheSamples) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const std::string name : {"100s", "100"}) {
        SCOPED_TRACE(name);
        const std::vector<std::vector<int>> signals = SplitSignals(DecodeFile212(SharedRecordFile(name + ".dat")), 2);
        const std::vector<double> expected =
            ExpectedPeakToPeak(signals, DecodeAnnotationFile(SharedRecordFile(name + ".atr")), 18);
        std::string path = SharedRecordFile(name + ".hea");
        int count = 0;
        double* amplitude = WFDBSignalAmplitudeEx(path.data(), &count);
        ASSERT_NE(amplitude, nullptr);
        ASSERT_EQ(count, 2);
        for (int s = 0; s < 2; ++s) {
            EXPECT_GT(expected[s], 0.0);
            EXPECT_NEAR(amplitude[s], expected[s], 1.001e-5);
        }
        WFDBMemFree(amplitude);
    }
}

TEST(SignalAmplitudeRecords, MatchRmsAmplitudesWorkedFromTheSamples) {
    TAVO_REQUIRE_SHARED_DATA();
    const std::vector<std::vector<int>> signals = SplitSignals(DecodeFile16(SharedRecordFile("s0010_re.dat")), 12);
    const std::vector<double> expected = ExpectedRms(signals);
    std::string path = SharedRecordFile("s0010_re.hea");
    int count = 0;
    double* amplitude = WFDBSignalAmplitudeEx(path.data(), &count);
    ASSERT_NE(amplitude, nullptr);
    ASSERT_EQ(count, 12);
    for (int s = 0; s < 12; ++s) {
        SCOPED_TRACE(s);
        EXPECT_GT(expected[s], 0.0);
        EXPECT_NEAR(amplitude[s], expected[s], 1.001e-5);
    }
    WFDBMemFree(amplitude);
}
