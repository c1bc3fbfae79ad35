// The reference-record generator: its host-independent arithmetic, the checks it makes before
// writing, the files it writes, the exact bytes of the stand-ins, and the import of licensed
// records (small WFDB records written here), whose every mismatch is one line naming the file.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "blob_writer.h"
#include "synth/det_math.h"
#include "loaders/ctscse_catalog.h"
#include "record_import.h"
#include "reference_set.h"
#include "standin_cal.h"
#include "standin_ecg.h"
#include "standin_noise.h"
#include "support/test_support.h"
#include "wfdb/wfdb_test_files.h"

namespace {

int IndexOf(const std::string& name) {
    for (int i = 0; i < kCTSCSERecordCount; ++i)
        if (kCTSCSECatalog[i].name == name) return i;
    return -1;
}
std::vector<double> Doubles(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}
std::string Text(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// One record as a writer may lay it out; the defaults are what the importer wants.
struct RecordLayout {
    std::string name;
    int samples = 0, format = 16, rate = 1000;
    std::string gain = "1000/mV";  // one ADC unit is one microvolt
    std::vector<std::string> leads = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"};
    std::string recordName, datName;  // on the record and signal lines; from name when empty
    int dropBytes = 0;                // cut from the end of the signal file
};
RecordLayout Layout(const std::string& name, int samples, const std::function<void(RecordLayout&)>& change = {}) {
    RecordLayout layout;
    layout.name = name;
    layout.samples = samples;
    if (change) change(layout);
    return layout;
}

// ADC value of file signal k at sample s: distinct per signal, inside format 212's range.
int Raw(int k, int s) { return (k + 1) * 200 - 900 + (s * 7 + k) % 61; }

// Writes NAME.hea and NAME.dat; signal k carries raw(k, s).
void WriteRecord(const std::string& dir, const RecordLayout& r, const std::function<int(int, int)>& raw = Raw) {
    const int signals = int(r.leads.size());
    std::string text = (r.recordName.empty() ? r.name : r.recordName) + " " + std::to_string(signals) + " " +
                       std::to_string(r.rate) + " " + std::to_string(r.samples) + "\n";
    for (const std::string& lead : r.leads)
        text += (r.datName.empty() ? r.name + ".dat" : r.datName) + " " + std::to_string(r.format) + " " + r.gain +
                " 12 0 0 0 0 " + lead + "\n";
    std::vector<int> frames;
    for (int s = 0; s < r.samples; ++s)
        for (int k = 0; k < signals; ++k) frames.push_back(raw(k, s));
    std::vector<unsigned char> bytes = r.format == 212 ? Pack212(frames) : Pack16(frames);
    bytes.resize(bytes.size() - size_t(r.dropBytes));
    WriteTextFile(dir + "/" + r.name + ".hea", text);
    WriteBinaryFile(dir + "/" + r.name + ".dat", bytes);
}

// Every catalogue record at its stand-in length, with the stand-in values in whole microvolts.
void WriteStandInDirectory(const std::string& dir, const REFERENCE_SET& set) {
    for (int i = 0; i < kCTSCSERecordCount; ++i) {
        const int n = kCTSCSECatalog[i].standInSamples;
        WriteRecord(dir, Layout(kCTSCSECatalog[i].name, n), [&](int k, int s) {
            return int(std::lround(set.records[size_t(i)][size_t(k * n + s)] * 1000.0));
        });
    }
}

}  // namespace

// Reference outputs published with SplitMix64 for seed 1234567; values of sin and exp known
// to more digits than a double holds, and the host's libm across the range the generator uses.
TEST(RefdataMath, MatchesPublishedStreamsAndKnownValues) {
    CSplitMix64 random(1234567);
    for (uint64_t expected : {6457827717110365317ULL, 3203168211198807973ULL, 9817491932198370423ULL,
                              4593380528125082431ULL, 16408922859458223821ULL})
        EXPECT_EQ(random.Next(), expected);
    double sum = 0.0, power = 0.0;
    for (int i = 0; i < 200000; ++i) {
        const double value = random.Normal();
        sum += value;
        power += value * value;
    }
    EXPECT_NEAR(sum / 200000, 0.0, 0.01);
    EXPECT_NEAR(power / 200000, 1.0, 0.02);
    EXPECT_EQ(Sine(0.0), 0.0);
    EXPECT_EQ(Exp(0.0), 1.0);
    EXPECT_NEAR(Sine(kPi / 6), 0.5, 3e-16);
    EXPECT_NEAR(Sine(-kPi / 4), -0.70710678118654752, 3e-16);
    EXPECT_NEAR(Cosine(kPi / 3), 0.5, 3e-16);
    EXPECT_NEAR(Sine(100.0), -0.50636564110975879, 1e-15);
    EXPECT_NEAR(Exp(1.0), 2.7182818284590452, 1e-15);
    EXPECT_NEAR(Exp(-8.0), 3.3546262790251184e-4, 1e-19);
    EXPECT_EQ(Exp(-800.0), 0.0);
    for (double x = -60.0; x <= 60.0; x += 0.01) {
        ASSERT_NEAR(Sine(x), std::sin(x), 4e-15) << x;
        ASSERT_NEAR(Cosine(x), std::cos(x), 4e-15) << x;
        if (x >= -50.0 && x <= 5.0) { ASSERT_NEAR(Exp(x) / std::exp(x), 1.0, 1e-15) << x; }
    }
    for (const auto& [in, out] : {std::pair{2.5, 3}, {-2.5, -3}, {0.4999, 0}, {-0.4999, 0}, {-0.0, 0}, {560.0, 560}})
        EXPECT_EQ(RoundToInt(in), out) << "half away from zero: " << in;
}

// Worked by hand: the steps go to every (free samples / steps)-th sample that is not a peak.
TEST(ZeroTheMean, SpreadsTheCorrectionAndKeepsBothPeaks) {
    using V = std::vector<int32_t>;
    for (auto [in, ok, out] : {std::tuple{V{9, 1, 1, 1, 1, 1, 1, -9, -2, 0}, true, V{9, 0, 1, 0, 1, 0, 1, -9, -3, 0}},
                               {V{-5, 0, 0, 0, 2, 1}, true, V{-5, 1, 0, 1, 2, 1}}, {V{3, -1, -2}, true, V{3, -1, -2}},
                               // 12 cannot be spread over the 8 samples that are not peaks: left alone.
                               {V{9, 1, 1, 1, 1, 1, 1, -3, 0, 0}, false, V{9, 1, 1, 1, 1, 1, 1, -3, 0, 0}}, {V{}, true, V{}}}) {
        EXPECT_EQ(ZeroTheMean(in), ok);
        EXPECT_EQ(in, out);
    }
}

TEST(StandIns, AreTheSameOnEveryHostAndKeepTheirPromises) {
    for (const char* name : {"CAL2000", "CAL20001", "CALX0000", "ANE20000", "CAL00000", "CAL20999", ""})
        EXPECT_TRUE(RenderCalibration(name, 1000).empty()) << name;
    EXPECT_TRUE(RenderCalibration("CAL20110", 300).empty());  // a 200 ms pulse does not fit half of 300
    EXPECT_EQ(RenderCalibration("CAL20110", 1000).size(), 8000u);
    for (int samples : {2, 3, 50, 1592, 3000}) {
        const std::vector<double> leads = RenderBeat(RandomBeatModel(7), samples);
        ASSERT_EQ(leads.size(), size_t(8 * samples));
        for (int lead = 0; lead < 8; ++lead)
            EXPECT_TRUE(leads[size_t(lead * samples)] == 0.0 && leads[size_t(lead * samples + samples - 1)] == 0.0) << samples;
    }
    EXPECT_EQ(RenderBeat(AnalyticalBeatModel(), 1), std::vector<double>(8, 0.0));
    EXPECT_TRUE(RenderBeat(AnalyticalBeatModel(), 0).empty());
    // FNV-1a pinned from the first build; an x86-64 build and an armhf build under qemu both give these.
    const REFERENCE_SET set = MakeStandInSet();
    uint64_t hashes[2] = {0xCBF29CE484222325ULL, 0xCBF29CE484222325ULL};
    auto fnv = [](uint64_t& hash, const void* data, size_t size) {
        for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 0x100000001B3ULL;
    };
    for (const auto& record : set.records) fnv(hashes[0], record.data(), record.size() * sizeof(double));
    for (const auto& noise : set.noises) fnv(hashes[1], noise.data(), noise.size() * sizeof(int32_t));
    EXPECT_EQ(hashes[0], 0xA0A81FD3FD8DA9C3ULL);
    EXPECT_EQ(hashes[1], 0x05441123A9AAE2B2ULL);
    EXPECT_TRUE(set.isStandIn);
    EXPECT_EQ(CheckReferenceSet(set), "");
}

TEST(CheckReferenceSet, NamesTheFirstMismatchInOneLine) {
    const int ma3 = IndexOf("MA1_003");
    const std::pair<std::function<void(REFERENCE_SET&)>, const char*> cases[] = {
        {[](REFERENCE_SET& s) { s.records.pop_back(); }, "the set does not hold 119 records"},
        {[](REFERENCE_SET& s) { s.noises.pop_back(); }, "the set does not hold 14 noises"},
        {[](REFERENCE_SET& s) { s.records[0].resize(7 * 1000); }, "ANE20000: cycle of 875 samples, expected 1000"},
        {[](REFERENCE_SET& s) { s.records[0].resize(8001); }, "ANE20000: not eight leads of equal length"},
        {[](REFERENCE_SET& s) { s.records[IndexOf("MA1_015")].resize(8 * 1591); }, "MA1_015: cycle of 1591 samples, expected 1592"},
        {[&](REFERENCE_SET& s) { s.records[ma3].resize(8 * 519); }, "MA1_003: cycle of 519 samples, outside 520 to 1592"},
        {[&](REFERENCE_SET& s) { s.records[ma3].resize(8 * 1593); }, "MA1_003: cycle of 1593 samples, outside 520 to 1592"},
        {[&](REFERENCE_SET& s) { s.records[ma3].resize(8 * 700); }, "the cycles add up to 105648 samples, expected 105664"},
        {[&](REFERENCE_SET& s) { s.records[ma3].resize(8 * 700); s.records[ma3 + 1].resize(8 * 835); }, ""},  // the total holds
        {[](REFERENCE_SET& s) { s.noises[13].resize(9999); }, "noise HF_50: not 10000 samples"},
    };
    for (const auto& [spoil, message] : cases) {
        REFERENCE_SET set = MakeStandInSet();
        spoil(set);
        EXPECT_EQ(CheckReferenceSet(set), message);
    }
}

TEST(WriteReferenceBlob, WritesBothDataFilesAndASourceNamingEveryArray) {
    CTempDir dir;
    const REFERENCE_SET set = MakeStandInSet();
    ASSERT_EQ(WriteReferenceBlob(set, dir.Path()), "");
    EXPECT_EQ(ReadWholeFile(dir.File(kRecordsFile)).size(), 6762496u);
    EXPECT_EQ(ReadWholeFile(dir.File(kNoiseFile)).size(), 560000u);
    const std::string source = Text(dir.File(kBlobSource));
    for (const char* symbol : {"CTSCSE_Database_ANE20000:", "CTSCSE_Database_PCTH001:", "CTSCSE_Database_PCTH125:",
                               "CTSCSE_Noise_50HZ:", "CTSCSE_Noise_HF_50:", ".hidden CTSCSE_Database_CAL20502",
                               ".size CTSCSE_Database_PCTH015, 101888", "g_bCTSCSEStandIns = true"})
        EXPECT_NE(source.find(symbol), std::string::npos) << symbol;
    EXPECT_EQ(source.find("CTSCSE_Database_MA1_"), std::string::npos);  // MA1 arrays are named PCTH
    EXPECT_EQ(Text(dir.File(kBlobDepfile)), dir.File(kBlobSource) + ":\n");
    EXPECT_FALSE(FileExists(dir.File(std::string(kRecordsFile) + ".tmp")));
    // Refused: paths the assembler cannot take or that do not exist, and a broken set.
    for (const std::string& bad : {std::string("relative/dir"), dir.File("a\"b"), dir.File("missing")})
        EXPECT_NE(WriteReferenceBlob(set, bad), "") << bad;
    EXPECT_FALSE(FileExists(dir.File("missing")));
    CTempDir empty;
    REFERENCE_SET broken = set;
    broken.noises.pop_back();
    EXPECT_EQ(WriteReferenceBlob(broken, empty.Path()), "the set does not hold 14 noises");
    EXPECT_FALSE(FileExists(empty.File(kRecordsFile)));
}

// Formats 16 and 212, mV and uV with a baseline, labelled signals in any order and case, or
// unlabelled ones taken as I, II, V1-V6 in file order.
TEST(ImportRecord, ReadsEightLeadsInMillivoltsInLeadOrder) {
    struct Case {
        RecordLayout layout;
        std::vector<int> fileSignalOfLead;
        double scale, offset;  // mV = (raw + offset) * scale
    };
    const Case cases[] = {
        {Layout("MA1_002", 532), {0, 1, 2, 3, 4, 5, 6, 7}, 1e-3, 0},
        {Layout("CAL20002", 500, [](RecordLayout& r) { r.format = 212; r.gain = "2(-100)/uV"; }), {0, 1, 2, 3, 4, 5, 6, 7}, 5e-4, 100},
        {Layout("ANE20002", 500, [](RecordLayout& r) { r.leads = {"ECG ii", "lead I", "v1", "V2", "ECG V3", "v4 ", "V5", "v6"}; }),
         {1, 0, 2, 3, 4, 5, 6, 7}, 1e-3, 0},
        {Layout("ANE20002", 500, [](RecordLayout& r) { r.leads.assign(8, ""); }), {0, 1, 2, 3, 4, 5, 6, 7}, 1e-3, 0},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        WriteRecord(dir.Path(), c.layout);
        std::vector<double> values;
        std::vector<std::string> inputs;
        ASSERT_EQ(ImportRecord(dir.Path(), IndexOf(c.layout.name), values, inputs), "") << c.layout.leads[0];
        const int n = c.layout.samples;
        ASSERT_EQ(values.size(), size_t(8 * n));
        for (int lead = 0; lead < 8; ++lead)
            for (int s = 0; s < n; ++s)
                ASSERT_DOUBLE_EQ(values[size_t(lead * n + s)], (Raw(c.fileSignalOfLead[lead], s) + c.offset) * c.scale)
                    << c.layout.leads[0] << " lead " << lead << " sample " << s;
        EXPECT_EQ(inputs, (std::vector<std::string>{dir.File(c.layout.name + ".hea"), dir.File(c.layout.name + ".dat")}));
        if (&c != cases) continue;
        // Worked by hand: lead I, sample 0 is ADC -700; lead V6, sample 531 is ADC 700 + (3717 + 7) % 61.
        EXPECT_DOUBLE_EQ(values[0], -0.7);
        EXPECT_DOUBLE_EQ(values[8 * 532 - 1], 0.703);
    }
}

TEST(ImportRecord, RefusesEveryMismatchInOneLineAndKeepsItsOutputs) {
    const std::vector<std::string> twelve = {"I", "II", "III", "aVR", "aVL", "aVF", "V1", "V2", "V3", "V4", "V5", "V6"};
    struct Case {
        RecordLayout layout;
        std::string message;  // after the directory and "/"; it starts with the record asked for
    };
    const Case cases[] = {
        {Layout("MA1_01", 940), "MA1_001.hea: missing"},
        {Layout("MA1_001", 940, [](RecordLayout& r) { r.recordName = "MA1_010"; }),
         "MA1_001.hea: names record \"MA1_010\", expected \"MA1_001\""},
        {Layout("MA1_015", 1591), "MA1_015.hea: cycle of 1591 samples, expected 1592"},
        {Layout("ANE20001", 1000), "ANE20001.hea: cycle of 1000 samples, expected 1500"},
        {Layout("MA1_003", 519), "MA1_003.hea: cycle of 519 samples, outside 520 to 1592"},
        {Layout("MA1_003", 1593), "MA1_003.hea: cycle of 1593 samples, outside 520 to 1592"},
        {Layout("MA1_003", 0), "MA1_003.hea: cycle of 0 samples, outside 520 to 1592"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.rate = 500; }), "MA1_002.hea: sampled at 500 Hz, expected 1000"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.leads.pop_back(); }), "MA1_002.hea: 7 signals, expected 8 (I, II, V1-V6)"},
        {Layout("MA1_002", 532, [&](RecordLayout& r) { r.leads = twelve; }), "MA1_002.hea: 12 signals, expected 8 (I, II, V1-V6)"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.format = 80; }), "MA1_002.hea: format 80, expected 16 or 212"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.gain = "1000/V"; }),
         "MA1_002.hea: signal 0 is in units other than mV or uV"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.datName = "other.dat"; }),
         "MA1_002.hea: signal 0 is in \"other.dat\", expected \"MA1_002.dat\""},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.leads[5] = "aVR"; }),
         "MA1_002.hea: signal 5 (\"aVR\") is not one of I, II, V1-V6"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.leads[7] = "V5"; }), "MA1_002.hea: signals 6 and 7 both carry lead V5"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.dropBytes = 2; }),
         "MA1_002.dat: 8510 bytes, expected 8512 for 8 signals of 532 samples"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.format = 212; r.dropBytes = 3; }),
         "MA1_002.dat: 6381 bytes, expected 6384 for 8 signals of 532 samples"},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        WriteRecord(dir.Path(), c.layout);
        std::vector<double> values = {1.0};
        std::vector<std::string> inputs = {"kept"};
        const int index = IndexOf(c.message.substr(0, c.message.find('.')));
        EXPECT_EQ(ImportRecord(dir.Path(), index, values, inputs), dir.Path() + "/" + c.message);
        EXPECT_EQ(values, std::vector<double>{1.0}) << c.message;
        EXPECT_EQ(inputs, std::vector<std::string>{"kept"}) << c.message;
    }
    // Signal lines the reader would misread.
    CTempDir dir;
    const std::string several = "signal 1 has several samples per frame, a skew or a byte offset";
    for (const auto& [format, message] : {std::pair<std::string, std::string>{"16x2 1000/mV", several}, {"16:3 1000/mV", several},
                                          {"16+512 1000/mV", several}, {"212 1000/mV", "signal 1 has format 212, signal 0 has 16"},
                                          {"16 -5/mV", "signal 1 has no positive gain"}, {"", "not a WFDB header"}}) {
        std::string text = "MA1_002 8 1000 532\n";
        for (const char* lead : {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"})
            text += "MA1_002.dat " + (lead == std::string("II") ? format : "16 1000/mV") + " 12 0 0 0 0 " + lead + "\n";
        WriteTextFile(dir.File("MA1_002.hea"), format.empty() ? "MA1_002\n" : text);
        std::vector<double> values;
        std::vector<std::string> inputs;
        EXPECT_EQ(ImportRecord(dir.Path(), IndexOf("MA1_002"), values, inputs), dir.File("MA1_002.hea") + ": " + message);
    }
}

TEST(ImportLicensedRecords, StandInsWrittenAsRecordsComeBackUnchangedAndAreEmbedded) {
    CTempDir dir, standInOut, importOut;
    const REFERENCE_SET standIns = MakeStandInSet();
    WriteStandInDirectory(dir.Path(), standIns);
    WriteTextFile(dir.File("MA1_006.hea"), "not a record the set uses\n");  // other files are ignored
    REFERENCE_SET set = MakeStandInSet();
    ASSERT_EQ(ImportLicensedRecords(dir.Path(), set), "");
    EXPECT_FALSE(set.isStandIn);
    EXPECT_EQ(set.records, standIns.records);
    EXPECT_EQ(set.noises, standIns.noises);
    ASSERT_EQ(set.inputs.size(), 238u);
    EXPECT_EQ(set.inputs.front(), dir.File("ANE20000.hea"));
    EXPECT_EQ(set.inputs.back(), dir.File("MA1_125.dat"));

    ASSERT_EQ(GenerateReferenceData(standInOut.Path(), ""), "");
    ASSERT_EQ(GenerateReferenceData(importOut.Path(), dir.Path()), "");
    // Equal values; the bytes may differ in the sign of a zero.
    EXPECT_EQ(Doubles(importOut.File(kRecordsFile)), Doubles(standInOut.File(kRecordsFile)));
    EXPECT_EQ(ReadWholeFile(importOut.File(kNoiseFile)), ReadWholeFile(standInOut.File(kNoiseFile)));
    EXPECT_NE(Text(importOut.File(kBlobSource)).find("g_bCTSCSEStandIns = false"), std::string::npos);
    const std::string depfile = Text(importOut.File(kBlobDepfile));
    EXPECT_EQ(depfile.rfind(importOut.File(kBlobSource) + ":", 0), 0u);
    for (const char* file : {"/ANE20000.hea", "/ANE20000.dat", "/CAL20502.dat", "/MA1_125.hea", "/MA1_125.dat"})
        EXPECT_NE(depfile.find("  " + dir.Path() + file), std::string::npos) << file;
}

TEST(ImportLicensedRecords, RefusesAnIncompleteSetAndLeavesTheStandInsAndNoOutput) {
    CTempDir dir, out;
    const REFERENCE_SET standIns = MakeStandInSet();
    WriteStandInDirectory(dir.Path(), standIns);
    const std::vector<unsigned char> keep = ReadWholeFile(dir.File("MA1_125.dat"));
    ASSERT_EQ(std::remove(dir.File("MA1_125.dat").c_str()), 0);
    REFERENCE_SET set = MakeStandInSet();
    EXPECT_EQ(ImportLicensedRecords(dir.Path(), set), dir.File("MA1_125.dat") + ": missing");
    WriteBinaryFile(dir.File("MA1_125.dat"), keep);
    // MA1_003 shorter by 16 samples: every record is in range, but the total is not the set's.
    WriteRecord(dir.Path(), Layout("MA1_003", 700));
    EXPECT_EQ(ImportLicensedRecords(dir.Path(), set), dir.Path() + ": the cycles add up to 105648 samples, expected 105664");
    EXPECT_EQ(ImportLicensedRecords(dir.File("none"), set), dir.File("none") + ": not a directory of reference records");
    EXPECT_TRUE(set.isStandIn);
    EXPECT_EQ(set.records, standIns.records);
    EXPECT_TRUE(set.inputs.empty());
    WriteRecord(dir.Path(), Layout("ANE20000", 1000, [](RecordLayout& r) { r.rate = 500; }));
    EXPECT_EQ(GenerateReferenceData(out.Path(), dir.Path()), dir.File("ANE20000.hea") + ": sampled at 500 Hz, expected 1000");
    for (const char* file : {kRecordsFile, kNoiseFile, kBlobSource, kBlobDepfile}) EXPECT_FALSE(FileExists(out.File(file)));
}
