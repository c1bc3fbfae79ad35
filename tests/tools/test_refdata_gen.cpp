// The reference-record generator: the stand-ins pinned by checksum on every host, the checks it
// makes before writing, and the import of licensed records (small WFDB records written here).
// The embedded arrays themselves are the loaders' tests' business; a broken blob breaks the build.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "blob_writer.h"
#include "loaders/ctscse_catalog.h"
#include "record_import.h"
#include "reference_set.h"
#include "support/test_support.h"
#include "wfdb/wfdb_test_files.h"

namespace {

int IndexOf(const std::string& name) {
    return int(std::find_if(kCTSCSECatalog, kCTSCSECatalog + kCTSCSERecordCount, [&](const auto& r) { return r.name == name; }) - kCTSCSECatalog);
}

// ADC value of file signal k at sample s: distinct per signal, inside format 212's range.
int Raw(int k, int s) { return (k + 1) * 200 - 900 + (s * 7 + k) % 61; }

// Writes NAME.hea and NAME.dat: eight labelled leads in microvolts, format 16; signal k carries raw(k, s).
void WriteRecord(const std::string& dir, const std::string& name, int samples, const std::function<int(int, int)>& raw = Raw) {
    std::string text = name + " 8 1000 " + std::to_string(samples) + "\n";
    for (const char* lead : {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"}) text += name + ".dat 16 1000/mV 12 0 0 0 0 " + lead + "\n";
    std::vector<int> frames;
    for (int s = 0; s < samples; ++s)
        for (int k = 0; k < 8; ++k) frames.push_back(raw(k, s));
    WriteTextFile(dir + "/" + name + ".hea", text);
    WriteBinaryFile(dir + "/" + name + ".dat", Pack16(frames));
}

}  // namespace

// FNV-1a pinned from the first build; an x86-64 build and an armhf build under qemu both give
// these: the random streams, the host-independent sine and exponential, the rounding and the
// zeroing of the noises' means included. What the stand-ins promise (leads ending on the baseline, calibration peaks, noise
// shapes) is checked on the embedded arrays by the loaders' tests. The check refuses cycle
// lengths past the catalogue's bounds (ANE20000 and MA1_015 fixed, MA1_003 free); the cycles'
// total is the set's only when MA1_003 and MA1_004 change together.
TEST(StandIns, AreTheSameOnEveryHostAndPassTheChecksThatRefuseEveryShapeTheCatalogueForbids) {
    REFERENCE_SET good = MakeStandInSet();
    const auto fnv = [](const auto& arrays, uint64_t hash = 0xCBF29CE484222325ULL) {
        for (const auto& a : arrays)
            for (size_t i = 0; i < a.size() * sizeof(a[0]); ++i) hash = (hash ^ reinterpret_cast<const unsigned char*>(a.data())[i]) * 0x100000001B3ULL;
        return hash;
    };
    EXPECT_EQ(std::pair(fnv(good.records), fnv(good.noises)), (std::pair<uint64_t, uint64_t>(0xA0A81FD3FD8DA9C3ULL, 0x05441123A9AAE2B2ULL)));
    EXPECT_TRUE(good.isStandIn && CheckReferenceSet(good).empty());
    const int ane = IndexOf("ANE20000"), ma3 = IndexOf("MA1_003");
    // Rows (noises rather than records, index, new length, or -1 to drop the last one).
    for (const auto& [isNoise, index, length] : {std::tuple{false, ane, 7000}, {false, ane, 8001}, {false, IndexOf("MA1_015"), 8 * 1591},
                                                 {false, ma3, 8 * 519}, {false, ma3, 8 * 1593}, {false, ma3, 8 * 700}, {false, 0, -1},
                                                 {true, 0, -1}, {true, 13, 9999}}) {
        REFERENCE_SET set = good;
        const auto spoil = [&, i = size_t(index), n = length](auto& v) { n < 0 ? v.pop_back() : v[i].resize(size_t(n)); };
        isNoise ? spoil(set.noises) : spoil(set.records);
        EXPECT_NE(CheckReferenceSet(set), "") << isNoise << " " << index << " " << length;
    }
    good.records[size_t(ma3)].resize(8 * 700);
    good.records[size_t(ma3) + 1].resize(8 * 835);
    EXPECT_EQ(CheckReferenceSet(good), "");
}

// Each row changes the header of a good record (the first from becomes to) or cuts its
// signal file; a record without files is refused too. A refused import leaves its outputs as they were.
TEST(ImportRecord, RefusesWhatTheLoaderWouldPlayWronglyAndKeepsItsOutputs) {
    struct Case { const char *name, *from, *to; uintmax_t cut = 0; };
    for (const Case& c : {Case{"MA1_002", "MA1_002 8", "MA1_010 8"}, {"MA1_015", " 1592\n", " 1591\n"}, {"MA1_003", " 716\n", " 519\n"},
                          {"MA1_003", " 716\n", " 1593\n"}, {"MA1_002", " 1000 ", " 500 "}, {"MA1_002", "MA1_002 8", "MA1_002 7"},
                          {"MA1_002", " 16 ", " 80 "}, {"MA1_002", "/mV", "/V"}, {"MA1_002", "MA1_002.dat", "other.dat"}, {"MA1_002", "", "", 2},
                          {"MA1_002", " V4\n", " aVR\n"}, {"MA1_002", " V6\n", " V5\n"}, {"MA1_002", " 16 1000", " 16x2 1000"},
                          {"MA1_002", " 16 1000", " 16:3 1000"}, {"MA1_002", " 16 1000", " 16+512 1000"}, {"MA1_002", "1000/mV", "-5/mV"},
                          {"MA1_002", "16 1000/mV 12 0 0 0 0 II", "212 1000/mV 12 0 0 0 0 II"}, {"MA1_002", "MA1_002 8 1000 532", "MA1_002"}}) {
        CTempDir dir;
        WriteRecord(dir.Path(), c.name, kCTSCSECatalog[IndexOf(c.name)].standInSamples);
        std::string header = ReadTextFile(dir.File(c.name) + ".hea");
        WriteTextFile(dir.File(c.name) + ".hea", header.replace(header.find(c.from), std::string_view(c.from).size(), c.to));
        std::filesystem::resize_file(dir.File(c.name) + ".dat", std::filesystem::file_size(dir.File(c.name) + ".dat") - c.cut);
        std::vector<double> values = {1.0};
        std::vector<std::string> inputs = {"kept"};
        EXPECT_NE(ImportRecord(dir.Path(), IndexOf(c.name), values, inputs), "") << c.from << " -> " << c.to;
        EXPECT_TRUE(!ImportRecord(dir.Path(), IndexOf("MA1_001"), values, inputs).empty() && values == std::vector<double>{1.0} &&
                    inputs == std::vector<std::string>{"kept"}) << c.from << ", or no such file";
    }
}

// Other files in the directory are ignored; an imported set is embedded as such, with its
// sources listed for the build.
TEST(ImportLicensedRecords, TakesACompleteSetWholeOrNothing) {
    CTempDir dir, importOut, refusedOut;
    const REFERENCE_SET standIns = MakeStandInSet();
    for (int i = 0, n = 0; i < kCTSCSERecordCount; ++i)
        WriteRecord(dir.Path(), kCTSCSECatalog[i].name, n = kCTSCSECatalog[i].standInSamples,
                    [&](int k, int s) { return int(std::lround(standIns.records[size_t(i)][size_t(k * n + s)] * 1000.0)); });
    WriteTextFile(dir.File("MA1_006.hea"), "not a record the set uses\n");
    REFERENCE_SET set = standIns;
    ASSERT_EQ(ImportLicensedRecords(dir.Path(), set), "");
    EXPECT_TRUE(!set.isStandIn && set.records == standIns.records && set.noises == standIns.noises && set.inputs.size() == 238u);
    EXPECT_TRUE(set.inputs.front() == dir.File("ANE20000.hea") && set.inputs.back() == dir.File("MA1_125.dat"));
    ASSERT_EQ(GenerateReferenceData(importOut.Path(), dir.Path()), "");
    EXPECT_NE(ReadTextFile(importOut.File(kBlobSource)).find("g_bCTSCSEStandIns = false"), std::string::npos);
    for (const char* file : {"/ANE20000.hea", "/ANE20000.dat", "/MA1_125.hea", "/MA1_125.dat"})
        EXPECT_NE(ReadTextFile(importOut.File(kBlobDepfile)).find("  " + dir.Path() + file), std::string::npos) << file;

    // MA1_003 shorter by 16 samples: every record is in range, but the total is not the set's.
    WriteRecord(dir.Path(), "MA1_003", 700);
    REFERENCE_SET refused = standIns;
    EXPECT_FALSE(ImportLicensedRecords(dir.Path(), refused).empty() || ImportLicensedRecords(dir.File("none"), refused).empty());
    EXPECT_TRUE(refused.isStandIn && refused.records == standIns.records && refused.inputs.empty());
    EXPECT_NE(GenerateReferenceData(refusedOut.Path(), dir.Path()), "");
    for (const char* file : {kRecordsFile, kNoiseFile, kBlobSource, kBlobDepfile}) EXPECT_FALSE(FileExists(refusedOut.File(file)));
}
