// AHA text to WFDB: format-212 groups worked by hand, the header read back through the
// record-header parser, and the refusals that leave nothing behind.

#include "wfdb/aha2mit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb_test_files.h"

namespace {

bool HasNoRecordFiles(const CTempDir& out, const std::string& name) {
    return !FileExists(out.File(name + ".hea")) && !FileExists(out.File(name + ".dat"));
}

}  // namespace

// (100, -5): 100 = 0x064, -5 = 0xFFB -> 64 F0 FB. (0, 2047): 0x000, 0x7FF -> 00 70 FF.
TEST(Aha2Mit, PairsBecomeGroupsAndTheHeaderReadsBack) {
    CTempDir dir;
    WriteTextFile(dir.File("a01.txt"), "100,-5,\"N\"\n0,2047,\"V\"\n");
    ASSERT_TRUE(WFDBConvertAHA(dir.File("a01.txt").c_str(), dir.Path().c_str()));
    EXPECT_EQ(ReadWholeFile(dir.File("a01.dat")), (std::vector<unsigned char>{0x64, 0xF0, 0xFB, 0x00, 0x70, 0xFF}));

    CHeaderPtr header = ReadHeaderAt(dir.File("a01.hea"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->RecordName, "a01");
    EXPECT_EQ(header->NumberOfSignals, 2);
    EXPECT_EQ(header->SamplingFrequency, 250);
    EXPECT_EQ(header->NumberOfSamplesPerSignal, 2);
    const int initial[2] = {100, -5};
    const char* const description[2] = {"ECG0", "ECG1"};
    for (int i = 0; i < 2; ++i) {
        const WFDB_SIGNAL& signal = header->Signal[i];
        EXPECT_STREQ(signal.FileName, "a01.dat");
        EXPECT_EQ(signal.Format, 212);
        EXPECT_EQ(signal.ADCGain, 400.0);
        EXPECT_EQ(signal.ADCResolution, 12);
        EXPECT_EQ(signal.ADCZero, 0);
        EXPECT_EQ(signal.ADCBaseLine, 0);
        EXPECT_EQ(signal.InitialValue, initial[i]);
        EXPECT_STREQ(signal.Description, description[i]);
    }
    // And the samples read back in AHA units over 400.
    ASSERT_TRUE(WFDBLoadSignal(dir.Path().c_str(), header.get()));
    double frames[4] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), frames, 2), 2);
    EXPECT_EQ(frames[0], 0.25);
    EXPECT_EQ(frames[1], -5 / 400.0);
    EXPECT_EQ(frames[3], 2047 / 400.0);
}

// Which lines are pairs ("%d,%d,\"%c"): conversion stops at the first that is not.
TEST(Aha2Mit, StopsAtTheFirstLineThatIsNotAPair) {
    struct Case {
        const char* what;
        std::string text;
        int samples;
    };
    const std::vector<Case> cases = {
        {"LF ends", "1,2,\"N\"\n3,4,\"N\"\n5,6,\"N\"\n", 3},
        {"CRLF ends", "1,2,\"N\"\r\n3,4,\"N\"\r\n5,6,\"N\"\r\n", 3},
        {"CR ends", "1,2,\"N\"\r3,4,\"N\"\r5,6,\"N\"", 3},
        {"blanks before numbers", " 1, -2,\"N\"\n\t3,+4,\" \n", 2},
        {"blank before a comma", "1,2,\"N\"\n3 ,4,\"N\"\n5,6,\"N\"\n", 1},
        {"no label character", "1,2,\"N\"\n3,4,\"\n5,6,\"N\"\n", 1},
        {"blank line", "1,2,\"N\"\n\n5,6,\"N\"\n", 1},
        {"title line first", "Record a01\n1,2,\"N\"\n", 0},
        {"empty file", "", 0},
        {"line over 128 characters", "1,2,\"N" + std::string(130, 'x') + "\n3,4,\"N\"\n", 1},
        {"line of exactly 128 characters", "1,2,\"N" + std::string(122, 'x') + "\n3,4,\"N\"\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir dir;
        WriteTextFile(dir.File("r.txt"), c.text);
        ASSERT_TRUE(WFDBConvertAHA(dir.File("r.txt").c_str(), dir.Path().c_str()));
        CHeaderPtr header = ReadHeaderAt(dir.File("r.hea"));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->NumberOfSamplesPerSignal, c.samples);
        EXPECT_EQ(ReadWholeFile(dir.File("r.dat")).size(), size_t(3 * c.samples));
    }
}

TEST(Aha2Mit, KeepsTheLowTwelveBitsOfValuesOutOfRange) {
    CTempDir dir;
    WriteTextFile(dir.File("r.txt"), "2048,4101,\"N\"\n-2049,-4096,\"N\"\n");
    ASSERT_TRUE(WFDBConvertAHA(dir.File("r.txt").c_str(), dir.Path().c_str()));
    // 2048 -> 0x800, 4101 -> 0x005; -2049 -> 0x7FF, -4096 -> 0x000.
    EXPECT_EQ(DecodeFile212(dir.File("r.dat")), (std::vector<int>{-2048, 5, 2047, 0}));
}

TEST(Aha2Mit, RefusalsLeaveNoRecordBehind) {
    CTempDir dir;
    for (const char* name : {"rec.TXT", "rec.csv", "my rec.txt", ".txt"}) {
        WriteTextFile(dir.File(name), "1,2,\"N\"\n");
        EXPECT_FALSE(WFDBConvertAHA(dir.File(name).c_str(), dir.Path().c_str())) << name;
    }
    EXPECT_TRUE(HasNoRecordFiles(dir, "rec"));
    EXPECT_FALSE(WFDBConvertAHA(dir.File("missing.txt").c_str(), dir.Path().c_str()));
    EXPECT_TRUE(HasNoRecordFiles(dir, "missing"));
    WriteTextFile(dir.File("ok.txt"), "1,2,\"N\"\n");
    EXPECT_FALSE(WFDBConvertAHA(dir.File("ok.txt").c_str(), dir.File("no/such/folder").c_str()));
    EXPECT_FALSE(WFDBConvertAHA(dir.File("ok.txt").c_str(), std::string(256, 'd').c_str()));
    EXPECT_FALSE(WFDBConvertAHA(nullptr, dir.Path().c_str()));
    EXPECT_FALSE(WFDBConvertAHA(dir.File("ok.txt").c_str(), nullptr));
    EXPECT_TRUE(HasNoRecordFiles(dir, "ok"));
}

TEST(Aha2Mit, HeaderThatCannotBeWrittenTakesTheSignalFileWithIt) {
    CTempDir dir;
    WriteTextFile(dir.File("r.txt"), "1,2,\"N\"\n");
    // A directory where the header file should go: the signal file is written, the header is not.
    ASSERT_EQ(mkdir(dir.File("r.hea").c_str(), 0700), 0);
    EXPECT_FALSE(WFDBConvertAHA(dir.File("r.txt").c_str(), dir.Path().c_str()));
    EXPECT_FALSE(FileExists(dir.File("r.dat")));
}
