// EDF to WFDB conversion: header text worked by hand, sample order, truncated and malformed
// files, and the public EDF files against another converter's record.

#include "wfdb/edf2mit.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "edf_test_files.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb_test_files.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool HasNoRecordFiles(const CTempDir& out, const std::string& name) {
    return !FileExists(out.File(name + ".hea")) && !FileExists(out.File(name + ".dat"));
}

// An EDF head followed by sampleCount zero samples.
std::vector<unsigned char> Edf(std::vector<unsigned char> head, int sampleCount) {
    head.resize(head.size() + 2 * static_cast<size_t>(sampleCount), 0);
    return head;
}

RawEdfSignal Signal(const std::string& label, const std::string& samplesPerRecord) {
    RawEdfSignal signal;
    signal.label = label;
    signal.samplesPerRecord = samplesPerRecord;
    return signal;
}

}  // namespace

// 100 and 200 samples per 1-second record: 100 frames per record, each one sample of A and
// two of B. Gain 65535 / 6553.5 = 10, baseline trunc(32767 - 32767 + 1) = 1.
TEST(Edf2Mit, TwoRatesBecomeFramesOfOneAndTwoSamples) {
    CTempDir dir;
    WriteBinaryFile(dir.File("rec.edf"), RawEdfFile({Signal("A", "100"), Signal("B", "200")}, 10,
                                                    [](int s, long long n) { return static_cast<short>(s * 10000 + n); }));
    ASSERT_TRUE(WFDBConvertEDF(dir.File("rec.edf").c_str(), dir.Path().c_str()));
    EXPECT_EQ(Lines(dir.File("rec.hea")), (std::vector<std::string>{"rec 2 100 1000", "rec.dat 16 10(1)/uV 15 0 0 0 0 A",
                                                                    "rec.dat 16x2 10(1)/uV 15 0 0 0 0 B"}));
    std::vector<int> expected;
    for (int frame = 0; frame < 1000; ++frame) expected.insert(expected.end(), {frame, 10000 + 2 * frame, 10001 + 2 * frame});
    EXPECT_EQ(DecodeFile16(dir.File("rec.dat")), expected);
}

TEST(Edf2Mit, SignalLinesCarryGainBaselineUnitAndResolution) {
    CTempDir dir;
    const std::vector<RawEdfSignal> signals = {
        {"Fpz-Cz", "uV", "-200", "200", "-32768", "32767", "100"},  // 65535 / 400; baseline 0 is the ADC zero
        {"X", "mV", "0", "100", "-2048", "2047", "100"},            // 4095 / 100; trunc(2047 - 4095 + 1)
        {"NoUnit", "", "0", "100", "-2048", "2047", "100"},
        {"Temp", "deg C", "0", "100", "-2048", "2047", "100"},  // a blank would split the header token
    };
    WriteBinaryFile(dir.File("rec.edf"), RawEdfFile(signals, 1, [](int, long long) { return short{0}; }));
    ASSERT_TRUE(WFDBConvertEDF(dir.File("rec.edf").c_str(), dir.Path().c_str()));
    EXPECT_EQ(Lines(dir.File("rec.hea")),
              (std::vector<std::string>{"rec 4 100 100", "rec.dat 16 163.8375/uV 15 0 0 0 0 Fpz-Cz",
                                        "rec.dat 16 40.95(-2047)/mV 11 0 0 0 0 X", "rec.dat 16 40.95(-2047)/ 11 0 0 0 0 NoUnit",
                                        "rec.dat 16 40.95(-2047)/deg_C 11 0 0 0 0 Temp"}));
}

// "-3276.80" fills its 8 characters; the next signal's field follows without a blank.
TEST(Edf2Mit, ReadsNumericFieldsAtTheirExactWidth) {
    CTempDir dir;
    RawEdfSignal first, second;
    first.physicalMin = "-3276.80";
    second.physicalMin = "10000000";
    second.physicalMax = "20000000";
    WriteBinaryFile(dir.File("w.edf"), Edf(RawEdfHead("0", "1", "1", "2", {first, second}), 20));
    ASSERT_TRUE(WFDBConvertEDF(dir.File("w.edf").c_str(), dir.Path().c_str()));
    // -3276.80 to 3276.7: 65535 / 6553.5 = 10; a reader running on would take -3276.801.
    EXPECT_EQ(Lines(dir.File("w.hea")).at(1), "w.dat 16 10(1)/uV 15 0 0 0 0 ECG");
}

// Only complete data records are converted, and the header counts those.
TEST(Edf2Mit, ConvertsOnlyCompleteRecords) {
    struct Case { const char* claimed; int extraBytes, converted; };
    for (const Case& c : {Case{"-1", 0, 3}, Case{"-1", 25, 3}, Case{"5", 0, 3}, Case{"2", 0, 2}, Case{"4", 38, 3}}) {
        CTempDir dir;
        std::vector<unsigned char> bytes = Edf(RawEdfHead("0", c.claimed, "1", "2", {RawEdfSignal{}, RawEdfSignal{}}), 60);
        bytes.resize(bytes.size() + c.extraBytes, 0x11);
        WriteBinaryFile(dir.File("c.edf"), bytes);
        ASSERT_TRUE(WFDBConvertEDF(dir.File("c.edf").c_str(), dir.Path().c_str()));
        EXPECT_EQ(Lines(dir.File("c.hea"))[0], "c 2 10 " + std::to_string(10 * c.converted)) << c.claimed << "+" << c.extraBytes;
        EXPECT_EQ(ReadWholeFile(dir.File("c.dat")).size(), size_t(40 * c.converted));
    }
    // Every cut of a good file: a refusal leaving nothing, or exactly the complete data records.
    CTempDir dir;
    const std::vector<unsigned char> full = RawEdfFile({Signal("A", "5"), Signal("B", "10")}, 3,
                                                       [](int s, long long n) { return static_cast<short>(100 * s + n); });
    const size_t head = 256 * 3, recordBytes = 30;
    ASSERT_EQ(full.size(), head + 3 * recordBytes);
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        SCOPED_TRACE(cut);
        WriteBinaryFile(dir.File("cut.edf"), std::vector<unsigned char>(full.begin(), full.begin() + cut));
        const size_t records = cut < head ? 0 : (cut - head) / recordBytes;
        ASSERT_EQ(WFDBConvertEDF(dir.File("cut.edf").c_str(), dir.Path().c_str()), records > 0);
        if (records == 0) {
            ASSERT_TRUE(HasNoRecordFiles(dir, "cut"));
        } else {
            ASSERT_EQ(Lines(dir.File("cut.hea"))[0], "cut 2 5 " + std::to_string(5 * records));
            ASSERT_EQ(ReadWholeFile(dir.File("cut.dat")).size(), records * recordBytes);
        }
    }
}

// One malformed file per refusal; none may leave a record behind.
TEST(Edf2Mit, RefusesFilesItCannotConvertTruthfully) {
    const RawEdfSignal plain;
    auto with = [&](std::string RawEdfSignal::*field, const char* value, const char* duration = "1") {
        RawEdfSignal s = plain;
        s.*field = value;
        return Edf(RawEdfHead("0", "1", duration, "1", {s}), 10);
    };
    std::vector<unsigned char> cutHead = RawEdfHead("0", "1", "1", "1", {plain});
    cutHead.resize(300);
    const std::pair<const char*, std::vector<unsigned char>> cases[] = {
        {"version other than 0", Edf(RawEdfHead("1", "1", "1", "1", {plain}), 10)},
        {"version 0.", Edf(RawEdfHead("0.", "1", "1", "1", {plain}), 10)},
        {"no signals", Edf(RawEdfHead("0", "1", "1", "0", {}), 10)},
        {"negative signal count", Edf(RawEdfHead("0", "1", "1", "-1", {}), 10)},
        {"more signals than headers", Edf(RawEdfHead("0", "1", "1", "3", {plain}), 10)},
        {"duration 0", Edf(RawEdfHead("0", "1", "0", "1", {plain}), 10)},
        {"duration blank", Edf(RawEdfHead("0", "1", "", "1", {plain}), 10)},
        {"negative duration", Edf(RawEdfHead("0", "1", "-1", "1", {plain}), 10)},
        {"no samples per record", with(&RawEdfSignal::samplesPerRecord, "0")},
        {"equal digital limits", with(&RawEdfSignal::digitalMin, "32767")},
        {"equal physical limits", with(&RawEdfSignal::physicalMin, "3276.7")},
        {"frame frequency below 1", with(&RawEdfSignal::samplesPerRecord, "1", "3")},
        {"no complete record", Edf(RawEdfHead("0", "1", "1", "1", {plain}), 9)},
        {"head only", RawEdfHead("0", "0", "1", "1", {plain})},
        {"cut inside the head", cutHead},
    };
    for (const auto& [what, bytes] : cases) {
        CTempDir dir;
        WriteBinaryFile(dir.File("bad.edf"), bytes);
        EXPECT_FALSE(WFDBConvertEDF(dir.File("bad.edf").c_str(), dir.Path().c_str())) << what;
        EXPECT_TRUE(HasNoRecordFiles(dir, "bad")) << what;
    }
}

TEST(Edf2Mit, RefusesNamesExtensionsAndFoldersItCannotUse) {
    CTempDir dir;
    const std::vector<unsigned char> good = Edf(RawEdfHead("0", "1", "1", "1", {RawEdfSignal{}}), 10);
    for (const char* name : {"rec.EDF", "my rec.edf", ".edf", "rec.edf.txt", "ok.edf"}) WriteBinaryFile(dir.File(name), good);
    for (const char* name : {"rec.EDF", "my rec.edf", ".edf", "rec.edf.txt", "none.edf"}) {
        EXPECT_FALSE(WFDBConvertEDF(dir.File(name).c_str(), dir.Path().c_str())) << name;
    }
    EXPECT_FALSE(WFDBConvertEDF(dir.File("ok.edf").c_str(), dir.File("missing").c_str()));
    EXPECT_FALSE(WFDBConvertEDF(dir.File("ok.edf").c_str(), std::string(300, 'd').c_str()));
    EXPECT_FALSE(WFDBConvertEDF(nullptr, dir.Path().c_str()));
    EXPECT_FALSE(WFDBConvertEDF(dir.File("ok.edf").c_str(), nullptr));
    EXPECT_TRUE(HasNoRecordFiles(dir, "ok"));
    EXPECT_TRUE(HasNoRecordFiles(dir, "rec"));
    WriteBinaryFile(dir.File("abcdefghijklmnopq.edf"), good);  // the record name is the first 15 characters
    EXPECT_TRUE(WFDBConvertEDF(dir.File("abcdefghijklmnopq.edf").c_str(), dir.Path().c_str()));
    EXPECT_EQ(Lines(dir.File("abcdefghijklmno.hea"))[0], "abcdefghijklmno 1 10 10");
}

// An EDF+ file from the EDF library: its annotation signal (57 samples per record) is one
// more signal, and with it the frame frequency falls to gcd(100, 100, 57) = 1.
TEST(Edf2Mit, EdfPlusFileKeepsItsSamplesAndItsAnnotationSignal) {
    if (!kHasEdfWriter) GTEST_SKIP() << "this build has no EDF library to write the file with";
    CTempDir dir;
    ASSERT_TRUE(WriteEdfPlusFile(dir.File("plus.edf"), {{"ECG", 100, -2048, 2047, -10, 10, "mV"}, {"V1", 100}}, 4,
                                 [](int s, long long n) { return static_cast<short>(s == 0 ? n - 200 : 7 * n); }));
    ASSERT_TRUE(WFDBConvertEDF(dir.File("plus.edf").c_str(), dir.Path().c_str()));
    CHeaderPtr header = ReadHeaderAt(dir.File("plus.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 3);
    EXPECT_EQ(header->SamplingFrequency, 1);
    EXPECT_EQ(header->NumberOfSamplesPerSignal, 400);
    EXPECT_EQ(header->Signal[2].SamplesPerFrame, 57);
    EXPECT_STREQ(header->Signal[2].Description, "EDF Annotations");
    EXPECT_DOUBLE_EQ(header->Signal[0].ADCGain, 4095 / 20.0);
    const std::vector<int> samples = DecodeFile16(dir.File("plus.dat"));
    ASSERT_EQ(samples.size(), 4u * 257);
    for (int r = 0; r < 4; ++r) {
        for (int i = 0; i < 100; ++i) {
            ASSERT_EQ(samples[257 * r + i], 100 * r + i - 200);
            ASSERT_EQ(samples[257 * r + 100 + i], 7 * (100 * r + i));
        }
    }
}

// Another converter wrote test_generator_2.dat from the same recording; every raw value of
// every signal must agree (the annotation signal included).
TEST(Edf2MitRecords, PublicGeneratorFileMatchesAnotherConvertersRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    ASSERT_TRUE(WFDBConvertEDF(SharedRecordFile("test_generator_2.edf").c_str(), dir.Path().c_str()));
    const std::vector<std::string> lines = Lines(dir.File("test_generator_.hea"));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "test_generator_ 12 1 120000");
    EXPECT_EQ(lines[1].substr(0, 29), "test_generator_.dat 16x200 32");
    EXPECT_NE(lines[12].find(" EDF Annotations"), std::string::npos);
    const std::vector<int> ours = DecodeFile16(dir.File("test_generator_.dat"));
    EXPECT_TRUE(ours == DecodeFile16(SharedRecordFile("test_generator_2.dat")));
    EXPECT_FALSE(ours.empty());
    // A zero record duration is refused.
    EXPECT_FALSE(WFDBConvertEDF(SharedRecordFile("test_edfann.edf").c_str(), dir.Path().c_str()));
    EXPECT_TRUE(HasNoRecordFiles(dir, "test_edfann"));
}

// The frame frequency is the greatest common divisor of the rates; the record line counts
// the first signal's samples, as the other converter's record does.
TEST(Edf2Mit, FramesAtTheCommonDivisorOfTheRates) {
    struct Case { const char* duration; std::vector<const char*> perRecord; std::vector<std::string> lines; };
    for (const Case& c : {Case{"1", {"250", "256"}, {"f 2 2 500", "f.dat 16x125 10(1)/uV 15 0 0 0 0 ECG", "f.dat 16x128 10(1)/uV 15 0 0 0 0 ECG"}},
                          Case{"1", {"200", "51"}, {"f 2 1 400", "f.dat 16x200 10(1)/uV 15 0 0 0 0 ECG", "f.dat 16x51 10(1)/uV 15 0 0 0 0 ECG"}},
                          Case{"0.5", {"100"}, {"f 1 200 200", "f.dat 16 10(1)/uV 15 0 0 0 0 ECG"}}}) {
        CTempDir dir;
        std::vector<RawEdfSignal> signals;
        for (const char* perRecord : c.perRecord) signals.push_back(Signal("ECG", perRecord));
        WriteBinaryFile(dir.File("f.edf"), RawEdfFile(signals, 2, [](int, long long n) { return static_cast<short>(n); }, c.duration));
        ASSERT_TRUE(WFDBConvertEDF(dir.File("f.edf").c_str(), dir.Path().c_str())) << c.lines[0];
        EXPECT_EQ(Lines(dir.File("f.hea")), c.lines);
    }
}
