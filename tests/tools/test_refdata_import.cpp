// Import of licensed reference records: small WFDB records written here, read back lead by lead,
// and every mismatch refused with one line that names the file.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "blob_writer.h"
#include "loaders/ctscse_catalog.h"
#include "record_import.h"
#include "reference_set.h"
#include "support/test_support.h"
#include "wfdb/wfdb_test_files.h"

namespace {

// One record as a writer may lay it out; the defaults are what the importer wants.
struct RecordLayout {
    std::string name;
    int samples = 0;
    int format = 16;
    int rate = 1000;
    std::string gain = "1000/mV";  // one ADC unit is one microvolt
    std::vector<std::string> descriptions = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"};
    std::string recordName;  // on the record line; the file name when empty
    std::string datName;     // in every signal line; NAME.dat when empty
    int dropBytes = 0;       // cut from the end of the signal file
};

// ADC value of lead `lead` at sample `s`: distinct per lead, inside format 212's range.
int Raw(int lead, int s) { return (lead + 1) * 200 - 900 + (s * 7 + lead) % 61; }

// Writes NAME.hea and NAME.dat; signal k of the file carries Raw(k, s).
void WriteRecord(const std::string& dir, const RecordLayout& layout) {
    const int signals = int(layout.descriptions.size());
    const std::string dat = layout.datName.empty() ? layout.name + ".dat" : layout.datName;
    std::string text = (layout.recordName.empty() ? layout.name : layout.recordName) + " " + std::to_string(signals) + " " +
                       std::to_string(layout.rate) + " " + std::to_string(layout.samples) + "\n";
    for (int k = 0; k < signals; ++k)
        text += dat + " " + std::to_string(layout.format) + " " + layout.gain + " 12 0 0 0 0 " + layout.descriptions[size_t(k)] + "\n";
    std::vector<int> frames;
    for (int s = 0; s < layout.samples; ++s)
        for (int k = 0; k < signals; ++k) frames.push_back(Raw(k, s));
    std::vector<unsigned char> bytes = layout.format == 212 ? Pack212(frames) : Pack16(frames);
    bytes.resize(bytes.size() - size_t(layout.dropBytes));
    WriteTextFile(dir + "/" + layout.name + ".hea", text);
    WriteBinaryFile(dir + "/" + layout.name + ".dat", bytes);
}

RecordLayout Layout(const std::string& name, int samples, const std::function<void(RecordLayout&)>& change = {}) {
    RecordLayout layout;
    layout.name = name;
    layout.samples = samples;
    if (change) change(layout);
    return layout;
}

int IndexOf(const std::string& name) {
    for (int i = 0; i < kCTSCSERecordCount; ++i)
        if (kCTSCSECatalog[i].name == name) return i;
    return -1;
}

// Lead `lead` of an imported cycle.
std::vector<double> LeadOf(const std::vector<double>& values, int samples, int lead) {
    return std::vector<double>(values.begin() + lead * samples, values.begin() + (lead + 1) * samples);
}

// Lead values of file signal `fileSignal` for a gain of 1000 ADC units per mV.
std::vector<double> Expected(int fileSignal, int samples) {
    std::vector<double> values;
    for (int s = 0; s < samples; ++s) values.push_back(Raw(fileSignal, s) / 1000.0);
    return values;
}

// Every catalogue record at its stand-in length, with the stand-in values in whole microvolts.
void WriteStandInDirectory(const std::string& dir, const REFERENCE_SET& set) {
    for (int index = 0; index < kCTSCSERecordCount; ++index) {
        const CTSCSE_CATALOG_ENTRY& entry = kCTSCSECatalog[index];
        const int samples = entry.standInSamples;
        std::string text = std::string(entry.name) + " 8 1000 " + std::to_string(samples) + "\n";
        for (const char* lead : {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"})
            text += std::string(entry.name) + ".dat 16 1000/mV 16 0 0 0 0 " + lead + "\n";
        std::vector<int> frames;
        for (int s = 0; s < samples; ++s)
            for (int lead = 0; lead < 8; ++lead)
                frames.push_back(int(std::lround(set.records[size_t(index)][size_t(lead * samples + s)] * 1000.0)));
        WriteTextFile(dir + "/" + entry.name + ".hea", text);
        WriteBinaryFile(dir + "/" + entry.name + ".dat", Pack16(frames));
    }
}

std::vector<double> Doubles(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

}  // namespace

TEST(ImportRecord, ReadsEightLeadsOfAFormat16RecordInMillivolts) {
    CTempDir dir;
    WriteRecord(dir.Path(), Layout("MA1_002", 532));
    std::vector<double> values;
    std::vector<std::string> inputs;
    ASSERT_EQ(ImportRecord(dir.Path(), IndexOf("MA1_002"), values, inputs), "");
    ASSERT_EQ(values.size(), 8u * 532u);
    for (int lead = 0; lead < 8; ++lead) EXPECT_EQ(LeadOf(values, 532, lead), Expected(lead, 532)) << lead;
    // Worked by hand: lead I, sample 0 is ADC -700, lead V6, sample 531 is ADC 700 + (3717 + 7) % 61 = 700 + 3.
    EXPECT_DOUBLE_EQ(values[0], -0.7);
    EXPECT_DOUBLE_EQ(values[8 * 532 - 1], 0.703);
    EXPECT_EQ(inputs, (std::vector<std::string>{dir.File("MA1_002.hea"), dir.File("MA1_002.dat")}));
}

TEST(ImportRecord, ReadsFormat212WithABaselineAndMicrovoltUnits) {
    CTempDir dir;
    WriteRecord(dir.Path(), Layout("CAL20002", 500, [](RecordLayout& r) { r.format = 212; r.gain = "2(-100)/uV"; }));
    std::vector<double> values;
    std::vector<std::string> inputs;
    ASSERT_EQ(ImportRecord(dir.Path(), IndexOf("CAL20002"), values, inputs), "");
    // (ADC + 100) / 2 microvolts.
    EXPECT_DOUBLE_EQ(values[0], (-700 + 100) / 2.0 / 1000.0);
    std::vector<double> expected;
    for (int s = 0; s < 500; ++s) expected.push_back((Raw(4, s) + 100) / 2.0 / 1000.0);
    const std::vector<double> leadV3 = LeadOf(values, 500, 4);
    for (int s = 0; s < 500; ++s) ASSERT_DOUBLE_EQ(leadV3[size_t(s)], expected[size_t(s)]) << s;
}

TEST(ImportRecord, PutsLabelledSignalsInLeadOrder) {
    struct Case {
        std::vector<std::string> descriptions;
        std::vector<int> fileSignalOfLead;
    };
    const Case cases[] = {
        {{"V6", "V5", "V4", "V3", "V2", "V1", "II", "I"}, {7, 6, 5, 4, 3, 2, 1, 0}},
        {{"ECG ii", "lead I", "v1", "V2", "ECG V3", "v4 ", "V5", "v6"}, {1, 0, 2, 3, 4, 5, 6, 7}},
        // Without labels the file order is taken as I, II, V1-V6.
        {{"", "", "", "", "", "", "", ""}, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        WriteRecord(dir.Path(), Layout("ANE20002", 500, [&](RecordLayout& r) { r.descriptions = c.descriptions; }));
        std::vector<double> values;
        std::vector<std::string> inputs;
        ASSERT_EQ(ImportRecord(dir.Path(), IndexOf("ANE20002"), values, inputs), "") << c.descriptions[0];
        for (int lead = 0; lead < 8; ++lead)
            EXPECT_EQ(LeadOf(values, 500, lead), Expected(c.fileSignalOfLead[size_t(lead)], 500))
                << c.descriptions[0] << " lead " << lead;
    }
}

TEST(ImportRecord, RefusesEveryMismatchInOneLineAndKeepsItsOutputs) {
    const std::vector<std::string> seven = {"I", "II", "V1", "V2", "V3", "V4", "V5"};
    const std::vector<std::string> twelve = {"I", "II", "III", "aVR", "aVL", "aVF", "V1", "V2", "V3", "V4", "V5", "V6"};
    struct Case {
        RecordLayout layout;
        std::string record;   // the catalogue record asked for
        std::string message;  // after the directory and "/"
    };
    const Case cases[] = {
        {Layout("MA1_01", 940), "MA1_001", "MA1_001.hea: missing"},
        {Layout("MA1_001", 940, [](RecordLayout& r) { r.recordName = "MA1_010"; }), "MA1_001",
         "MA1_001.hea: names record \"MA1_010\", expected \"MA1_001\""},
        {Layout("MA1_015", 1591), "MA1_015", "MA1_015.hea: cycle of 1591 samples, expected 1592"},
        {Layout("ANE20001", 1000), "ANE20001", "ANE20001.hea: cycle of 1000 samples, expected 1500"},
        {Layout("MA1_003", 519), "MA1_003", "MA1_003.hea: cycle of 519 samples, outside 520 to 1592"},
        {Layout("MA1_003", 1593), "MA1_003", "MA1_003.hea: cycle of 1593 samples, outside 520 to 1592"},
        {Layout("MA1_003", 0), "MA1_003", "MA1_003.hea: cycle of 0 samples, outside 520 to 1592"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.rate = 500; }), "MA1_002", "MA1_002.hea: sampled at 500 Hz, expected 1000"},
        {Layout("MA1_002", 532, [&](RecordLayout& r) { r.descriptions = seven; }), "MA1_002",
         "MA1_002.hea: 7 signals, expected 8 (I, II, V1-V6)"},
        {Layout("MA1_002", 532, [&](RecordLayout& r) { r.descriptions = twelve; }), "MA1_002",
         "MA1_002.hea: 12 signals, expected 8 (I, II, V1-V6)"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.format = 80; }), "MA1_002", "MA1_002.hea: format 80, expected 16 or 212"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.gain = "1000/V"; }), "MA1_002",
         "MA1_002.hea: signal 0 is in units other than mV or uV"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.datName = "other.dat"; }), "MA1_002",
         "MA1_002.hea: signal 0 is in \"other.dat\", expected \"MA1_002.dat\""},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.descriptions = {"I", "II", "V1", "V2", "V3", "aVR", "V5", "V6"}; }),
         "MA1_002", "MA1_002.hea: signal 5 (\"aVR\") is not one of I, II, V1-V6"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.descriptions = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V5"}; }),
         "MA1_002", "MA1_002.hea: signals 6 and 7 both carry lead V5"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.dropBytes = 2; }), "MA1_002",
         "MA1_002.dat: 8510 bytes, expected 8512 for 8 signals of 532 samples"},
        {Layout("MA1_002", 532, [](RecordLayout& r) { r.format = 212; r.dropBytes = 3; }), "MA1_002",
         "MA1_002.dat: 6381 bytes, expected 6384 for 8 signals of 532 samples"},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        WriteRecord(dir.Path(), c.layout);
        std::vector<double> values = {1.0};
        std::vector<std::string> inputs = {"kept"};
        EXPECT_EQ(ImportRecord(dir.Path(), IndexOf(c.record), values, inputs), dir.Path() + "/" + c.message);
        EXPECT_EQ(values, std::vector<double>{1.0}) << c.message;
        EXPECT_EQ(inputs, std::vector<std::string>{"kept"}) << c.message;
    }
}

TEST(ImportRecord, RefusesSignalLinesTheReaderWouldMisread) {
    CTempDir dir;
    WriteRecord(dir.Path(), Layout("MA1_002", 532));
    const std::string header = "MA1_002 8 1000 532\n";
    struct Case {
        std::string secondLine, message;
    };
    for (const Case& c : {Case{"MA1_002.dat 16x2 1000/mV 12 0 0 0 0 II", "signal 1 has several samples per frame, a skew or a byte offset"},
                          Case{"MA1_002.dat 16:3 1000/mV 12 0 0 0 0 II", "signal 1 has several samples per frame, a skew or a byte offset"},
                          Case{"MA1_002.dat 16+512 1000/mV 12 0 0 0 0 II", "signal 1 has several samples per frame, a skew or a byte offset"},
                          Case{"MA1_002.dat 212 1000/mV 12 0 0 0 0 II", "signal 1 has format 212, signal 0 has 16"},
                          Case{"MA1_002.dat 16 -5/mV 12 0 0 0 0 II", "signal 1 has no positive gain"}}) {
        std::string text = header + "MA1_002.dat 16 1000/mV 12 0 0 0 0 I\n" + c.secondLine + "\n";
        for (const char* lead : {"V1", "V2", "V3", "V4", "V5", "V6"}) text += std::string("MA1_002.dat 16 1000/mV 12 0 0 0 0 ") + lead + "\n";
        WriteTextFile(dir.File("MA1_002.hea"), text);
        std::vector<double> values;
        std::vector<std::string> inputs;
        EXPECT_EQ(ImportRecord(dir.Path(), IndexOf("MA1_002"), values, inputs), dir.File("MA1_002.hea") + ": " + c.message);
    }
    WriteTextFile(dir.File("MA1_002.hea"), "MA1_002\n");
    std::vector<double> values;
    std::vector<std::string> inputs;
    EXPECT_EQ(ImportRecord(dir.Path(), IndexOf("MA1_002"), values, inputs), dir.File("MA1_002.hea") + ": not a WFDB header");
}

TEST(ImportLicensedRecords, StandInsWrittenAsRecordsComeBackUnchanged) {
    CTempDir dir;
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
}

TEST(ImportLicensedRecords, RefusesAnIncompleteSetAndLeavesTheStandIns) {
    CTempDir dir;
    const REFERENCE_SET standIns = MakeStandInSet();
    WriteStandInDirectory(dir.Path(), standIns);
    std::vector<unsigned char> keep = ReadWholeFile(dir.File("MA1_125.dat"));
    std::remove(dir.File("MA1_125.dat").c_str());
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
}

TEST(GenerateReferenceData, EmbedsImportedRecordsAndListsEveryInputForTheBuild) {
    CTempDir records, standInOut, importOut;
    WriteStandInDirectory(records.Path(), MakeStandInSet());
    ASSERT_EQ(GenerateReferenceData(standInOut.Path(), ""), "");
    ASSERT_EQ(GenerateReferenceData(importOut.Path(), records.Path()), "");

    // Equal values; the bytes may differ in the sign of a zero.
    EXPECT_EQ(Doubles(importOut.File(kRecordsFile)), Doubles(standInOut.File(kRecordsFile)));
    EXPECT_EQ(ReadWholeFile(importOut.File(kNoiseFile)), ReadWholeFile(standInOut.File(kNoiseFile)));
    const std::vector<unsigned char> raw = ReadWholeFile(importOut.File(kBlobSource));
    const std::string source(raw.begin(), raw.end());
    EXPECT_NE(source.find("g_bCTSCSEStandIns = false"), std::string::npos);
    const std::vector<unsigned char> rawDeps = ReadWholeFile(importOut.File(kBlobDepfile));
    const std::string depfile(rawDeps.begin(), rawDeps.end());
    EXPECT_EQ(depfile.rfind(importOut.File(kBlobSource) + ":", 0), 0u);
    for (const char* file : {"/ANE20000.hea", "/ANE20000.dat", "/CAL20502.dat", "/MA1_125.hea", "/MA1_125.dat"})
        EXPECT_NE(depfile.find("  " + records.Path() + file), std::string::npos) << file;
}

TEST(GenerateReferenceData, WritesNothingWhenTheImportIsRefused) {
    CTempDir records, out;
    WriteRecord(records.Path(), Layout("ANE20000", 1000, [](RecordLayout& r) { r.rate = 500; }));
    EXPECT_EQ(GenerateReferenceData(out.Path(), records.Path()),
              records.File("ANE20000.hea") + ": sampled at 500 Hz, expected 1000");
    for (const char* file : {kRecordsFile, kNoiseFile, kBlobSource, kBlobDepfile}) EXPECT_FALSE(FileExists(out.File(file)));
}
