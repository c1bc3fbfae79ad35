// CSE records: DCD files built byte by byte and text files, values worked by hand in microvolts.

#include "loaders/cse_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/sample_store.h"
#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

namespace {

CEcgHeaderPtr Load(const std::string& path) { return CEcgHeaderPtr(LoadDatabaseCSE(path.c_str())); }

void PutBigEndian(std::vector<unsigned char>& bytes, size_t at, int value) {
    bytes[at] = static_cast<unsigned char>((value >> 8) & 0xFF);
    bytes[at + 1] = static_cast<unsigned char>(value & 0xFF);
}

// A DCD file of n samples per lead and the given total size (at least the groups' end).
// Group g, frame k, sample i holds 1000 * g + 100 * i + k microvolts (group B and A's
// third sample included, so a reader that takes them shows it).
std::vector<unsigned char> MakeDCD(const char count[5], int n, size_t size) {
    std::vector<unsigned char> bytes(size, 0xEE);
    std::memcpy(bytes.data() + 36, count, 4);
    for (int g = 0; g < 4; ++g) {
        for (int k = 0; k < n; ++k) {
            for (int i = 0; i < 3; ++i) {
                const size_t at = 3000 + size_t(6) * n * g + size_t(6) * k + 2 * i;
                if (at + 2 <= size) PutBigEndian(bytes, at, 1000 * g + 100 * i + k);
            }
        }
    }
    return bytes;
}

// Expected channel values of MakeDCD: I, II from group A, V1-V3 from C, V4-V6 from D.
std::vector<double> DCDChannel(int channel, int n) {
    static const int kGroup[8] = {0, 0, 2, 2, 2, 3, 3, 3};
    static const int kSample[8] = {0, 1, 0, 1, 2, 0, 1, 2};
    std::vector<double> values;
    for (int k = 0; k < n; ++k) values.push_back((1000 * kGroup[channel] + 100 * kSample[channel] + k) / 1000.0);
    return values;
}

}  // namespace

TEST(CseLoader, DcdFileMustReachBeyondItsGroups) {
    CTempDir dir;
    WriteBinaryFile(dir.File("ok.dcd"), MakeDCD("1000", 1000, 27001));
    WriteBinaryFile(dir.File("exact.dcd"), MakeDCD("1000", 1000, 27000));
    EXPECT_EQ(Load(dir.File("exact.dcd")), nullptr);

    CEcgHeaderPtr header = Load(dir.File("ok.dcd"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 1000);
    EXPECT_EQ(header->nSampleRate, 500);
    EXPECT_EQ(header->nSignals, 8);
    EXPECT_STREQ(header->szRecordName, "ok");
    EXPECT_STREQ(header->Channel[7].szLeadName, "ECG V6");
    EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
    EXPECT_EQ(g_nSampleRate, 500u);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), DCDChannel(ch, 1000)) << "channel " << ch;
}

TEST(CseLoader, DcdSamplesAreBigEndianMicrovolts) {
    CTempDir dir;
    std::vector<unsigned char> bytes = MakeDCD("   1", 1, 3100);
    bytes[3000] = 0x03;
    bytes[3001] = 0xE8;
    bytes[3002] = 0xFC;
    bytes[3003] = 0x18;
    WriteBinaryFile(dir.File("REC.DCD"), bytes);
    CEcgHeaderPtr header = Load(dir.File("REC.DCD"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(StoreChannel(0), std::vector<double>{1.0});
    EXPECT_EQ(StoreChannel(1), std::vector<double>{-1.0});
}

// The count field is four characters read as atoi reads them, and nothing after them.
TEST(CseLoader, DcdCountField) {
    struct Case {
        const char* field;
        bool loads;
        int count;
    };
    for (const Case& c : {Case{" 12 ", true, 12}, Case{"+3x9", true, 3}, Case{"0000", true, 0}, Case{"abcd", true, 0},
                          Case{"-1  ", false, 0}, Case{"-999", false, 0}, Case{"9999", false, 0}}) {
        SCOPED_TRACE(c.field);
        CTempDir dir;
        // Big enough for 12 samples; digits in the bytes behind the field must not be read.
        std::vector<unsigned char> bytes = MakeDCD(c.field, 12, 3400);
        bytes[40] = '7';
        WriteBinaryFile(dir.File("r.dcd"), bytes);
        CEcgHeaderPtr header = Load(dir.File("r.dcd"));
        EXPECT_EQ(header != nullptr, c.loads);
        if (header != nullptr) {
            EXPECT_EQ(header->nSampleCount, c.count);
        }
    }
}

TEST(CseLoader, RefusedDcdFilesChangeNothing) {
    CTempDir dir;
    WriteBinaryFile(dir.File("good.dcd"), MakeDCD("   2", 2, 3100));
    CEcgHeaderPtr good = Load(dir.File("good.dcd"));
    ASSERT_NE(good, nullptr);
    std::vector<unsigned char> forty = MakeDCD("   0", 0, 40);
    WriteBinaryFile(dir.File("forty.dcd"), forty);
    WriteBinaryFile(dir.File("negative.dcd"), MakeDCD("  -5", 0, 3100));
    for (const char* name : {"forty.dcd", "negative.dcd", "missing.dcd"}) {
        SCOPED_TRACE(name);
        g_WaveformType = WaveformMIT;
        EXPECT_EQ(Load(dir.File(name)), nullptr);
        EXPECT_EQ(g_WaveformType, WaveformMIT);
        EXPECT_EQ(g_nSampleCount, 2);
        EXPECT_EQ(StoreChannel(5), DCDChannel(5, 2));
    }
    // 41 bytes pass the size test; a count of 0 then needs more than 3000 bytes.
    forty.push_back(0);
    WriteBinaryFile(dir.File("fortyone.dcd"), forty);
    EXPECT_EQ(Load(dir.File("fortyone.dcd")), nullptr);
}

TEST(CseLoader, TextLineTakesValuesOneTwoAndSevenToTwelve) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.txt"), "10 20 30 40 50 60 70 80 90 100 110 120 130\n-1\t-2 3 4 5 6 7 8 9 10 11 12.9\r\n");
    CEcgHeaderPtr header = Load(dir.File("rec.txt"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 2);
    EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
    const std::vector<std::vector<double>> want = {{0.01, -0.001}, {0.02, -0.002}, {0.07, 0.007}, {0.08, 0.008},
                                                   {0.09, 0.009},  {0.1, 0.01},    {0.11, 0.011}, {0.12, 0.012}};
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), want[ch]) << "channel " << ch;
}

TEST(CseLoader, TextRecordEndsAtItsFirstBlankLine) {
    CTempDir dir;
    const std::string line = "1 2 3 4 5 6 7 8 9 10 11 12\n";
    WriteTextFile(dir.File("rec"), line + line + "   \n" + line + line);
    CEcgHeaderPtr header = Load(dir.File("rec"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 2);
    EXPECT_STREQ(header->szRecordName, "rec");
}

// A line is read 1023 characters at a time: the blank rest of a padded line is a
// line of its own, and it ends the record.
TEST(CseLoader, TextLinesAreReadInPiecesOf1023Characters) {
    CTempDir dir;
    const std::string line = "1 2 3 4 5 6 7 8 9 10 11 12";
    WriteTextFile(dir.File("rec.txt"), line + std::string(1100, ' ') + "\n" + line + "\n");
    CEcgHeaderPtr header = Load(dir.File("rec.txt"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 1);
}

TEST(CseLoader, ElevenValuesFailTheWholeLoadAfterEarlierLines) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.txt"), "1000 2 3 4 5 6 7 8 9 10 11 12\n1 2 3 4 5 6 7 8 9 10 11\n");
    g_WaveformType = WaveformMIT;
    EXPECT_EQ(Load(dir.File("rec.txt")), nullptr);
    EXPECT_EQ(g_WaveformType, WaveformFixedChannels);
    EXPECT_EQ(g_nSampleCount, 2);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 0.0}));
}

TEST(CseLoader, EmptyTextFileGivesAnEmptyRecordAndMissingFileNothing) {
    CTempDir dir;
    WriteTextFile(dir.File("empty.txt"), "");
    CEcgHeaderPtr header = Load(dir.File("empty.txt"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 0);
    EXPECT_EQ(Load(dir.File("missing.txt")), nullptr);
    EXPECT_EQ(LoadDatabaseCSE(nullptr), nullptr);
}

TEST(CseLoader, ExportLoadsThroughTheApiLock) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.txt"), "1 2 3 4 5 6 7 8 9 10 11 12\n");
    ECG_HEADER* header = TAVOLoadDatabaseCSE(dir.File("rec.txt").c_str());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 1);
    TAVOFreeECGHeader(header);
}
