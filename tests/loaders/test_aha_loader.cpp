// AHA records in text and binary form, values worked by hand at 400 units per mV.

#include "loaders/aha_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/sample_store.h"
#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

namespace {

CEcgHeaderPtr Load(const std::string& path) { return CEcgHeaderPtr(LoadDatabaseAHA(path.c_str())); }

void ExpectTwoChannels(const std::vector<double>& lead0, const std::vector<double>& lead1) {
    EXPECT_EQ(g_WaveformType, WaveformAHA);
    EXPECT_EQ(g_nSampleRate, 250u);
    EXPECT_EQ(g_iECGSignalNumber, 2);
    EXPECT_EQ(StoreChannel(0), lead0);
    EXPECT_EQ(StoreChannel(1), lead1);
}

}  // namespace

TEST(AhaLoader, TextLinesSkipBlanksAndIgnoreTheBeatLabel) {
    CTempDir dir;
    WriteTextFile(dir.File("a01.txt"), "100,200,\"N\"\n\n-400,400,\"V\"\n");
    CEcgHeaderPtr header = Load(dir.File("a01.txt"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "a01");
    EXPECT_EQ(header->nSignals, 2);
    EXPECT_EQ(header->nSampleRate, 250);
    EXPECT_EQ(header->nSampleCount, 2);
    EXPECT_STREQ(header->Channel[0].szLeadName, "ECG 1");
    EXPECT_EQ(header->Channel[1].nLead, LEAD_II);
    ExpectTwoChannels({0.25, -1.0}, {0.5, 1.0});
}

// Every line end form, separators of commas and spaces in any run, malformed numbers read
// as far as they go, and lines that hold fewer than two fields (counted, not stored).
TEST(AhaLoader, TextFieldsAndLineEnds) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<double> lead0, lead1;
    };
    const std::vector<Case> cases = {
        {"CR and CRLF ends", "100,200\r-400,400\r\n40 , 80\r\n", {0.25, -1.0, 0.1}, {0.5, 1.0, 0.2}},
        {"tab is no separator", "100,200\n300\t400\n500  600\n", {0.25, 1.25, 0.0}, {0.5, 1.5, 0.0}},
        {"malformed numbers", "abc,12x\n-.5e1,+8\n", {0.0, -0.0125}, {0.03, 0.02}},
        {"white space only lines", "  \t\n100,100\n\r\n", {0.25}, {0.25}},
        {"one line without an end", "4,8", {0.01}, {0.02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir dir;
        WriteTextFile(dir.File("r.txt"), c.text);
        CEcgHeaderPtr header = Load(dir.File("r.txt"));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->nSampleCount, static_cast<int>(c.lead0.size()));
        ExpectTwoChannels(c.lead0, c.lead1);
    }
}

TEST(AhaLoader, OverlongTextLineCountsOnce) {
    CTempDir dir;
    WriteTextFile(dir.File("r.txt"), "40,80" + std::string(400, ' ') + "9,9\n-40,-80\n");
    CEcgHeaderPtr header = Load(dir.File("r.txt"));
    ASSERT_NE(header, nullptr);
    ExpectTwoChannels({0.1, -0.1}, {0.2, -0.2});
}

TEST(AhaLoader, BinaryRecordsOfFiveBytesDropATrailingPart) {
    CTempDir dir;
    WriteBinaryFile(dir.File("REC.ECG"), {0x90, 0x01, 0x70, 0xFE, 0x00, 0xFF, 0x7F, 0x00, 0x80, 0x4E, 0x12, 0x34});
    CEcgHeaderPtr header = Load(dir.File("REC.ECG"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "REC");
    EXPECT_EQ(header->nSampleCount, 2);
    ExpectTwoChannels({1.0, 32767 / 400.0}, {-1.0, -32768 / 400.0});
}

TEST(AhaLoader, EmptyBinaryFileGivesAnEmptyRecord) {
    CTempDir dir;
    WriteBinaryFile(dir.File("empty.ecg"), {});
    CEcgHeaderPtr header = Load(dir.File("empty.ecg"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 0);
    EXPECT_EQ(g_nSampleCount, 0);
}

TEST(AhaLoader, FormIsChosenFromTheWholePathTextFirst) {
    CTempDir dir;
    ASSERT_EQ(mkdir(dir.File("a.txt.d").c_str(), 0700), 0);
    WriteTextFile(dir.File("a.txt.d/rec.ecg"), "400,-400\n");
    CEcgHeaderPtr header = Load(dir.File("a.txt.d/rec.ecg"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "rec");
    ExpectTwoChannels({1.0}, {-1.0});
}

TEST(AhaLoader, NameIsTheFileNameUpToItsLastDotWhenItFits) {
    CTempDir dir;
    for (const auto& [file, name] : std::vector<std::pair<std::string, std::string>>{
             {"rec.v2.txt", "rec.v2"}, {"abcdefghijklmno.txt", "abcdefghijklmno"}, {"abcdefghijklmnop.txt", ""}}) {
        WriteTextFile(dir.File(file), "1,1\n");
        CEcgHeaderPtr header = Load(dir.File(file));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(std::string(header->szRecordName), name) << file;
    }
}

TEST(AhaLoader, RefusalsLeaveTheStoreButSetTheKind) {
    CTempDir dir;
    WriteTextFile(dir.File("good.txt"), "400,800\n");
    CEcgHeaderPtr good = Load(dir.File("good.txt"));
    ASSERT_NE(good, nullptr);
    WriteTextFile(dir.File("rec.dat"), "400,800\n");
    for (const std::string& path : {dir.File("rec.dat"), dir.File("missing.txt"), dir.File("missing.ecg"), dir.Path() + "/"}) {
        SCOPED_TRACE(path);
        g_WaveformType = WaveformMIT;
        EXPECT_EQ(Load(path), nullptr);
        EXPECT_EQ(g_WaveformType, WaveformAHA);
        EXPECT_EQ(StoreChannel(1), std::vector<double>{2.0});
    }
    EXPECT_EQ(LoadDatabaseAHA(nullptr), nullptr);
}

TEST(AhaLoader, ExportLoadsThroughTheApiLock) {
    CTempDir dir;
    WriteTextFile(dir.File("r.txt"), "40,80\n");
    ECG_HEADER* header = TAVOLoadDatabaseAHA(dir.File("r.txt").c_str());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 1);
    TAVOFreeECGHeader(header);
    EXPECT_EQ(TAVOLoadDatabaseAHA(dir.File("none.txt").c_str()), nullptr);
}
