// AHA text to WFDB: format-212 groups and header text worked by hand, the lines that
// end the conversion, and the refusals that leave nothing behind.

#include "wfdb/aha2mit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tavo/tavo_ext.h"
#include "wfdb_test_files.h"

// Which lines are pairs ("%d,%d,\"%c"): conversion stops at the first that is not; out-of-range
// values keep their low twelve bits. (100, -5): 0x064, 0xFFB -> 64 F0 FB; (0, 2047): 0x000, 0x7FF -> 00 70 FF.
TEST(Aha2Mit, PairsBecomeGroupsUntilTheFirstLineThatIsNotAPair) {
    CTempDir dir;
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"100,-5,\"N\"\n0,2047,\"V\"\n", {100, -5, 0, 2047}},
        {"1,2,\"N\"\r\n3,4,\"N\"\r\n5,6,\"N\"\r\n", {1, 2, 3, 4, 5, 6}}, {"1,2,\"N\"\r3,4,\"N\"\r5,6,\"N\"", {1, 2, 3, 4, 5, 6}},
        {" 1, -2,\"N\"\n\t3,+4,\" \n", {1, -2, 3, 4}}, {"1,2,\"N\"\n3 ,4,\"N\"\n5,6,\"N\"\n", {1, 2}}, {"1,2,\"N\"\n3,4,\"\n5,6,\"N\"\n", {1, 2}},
        {"1,2,\"N\"\n\n5,6,\"N\"\n", {1, 2}}, {"1;2,\"N\"\n", {}}, {"1,2;\"N\"\n", {}}, {"1,x,\"N\"\n", {}}, {"1,2,N\n", {}}, {"Record a01\n1,2,\"N\"\n", {}}, {"", {}},
        {"1,2,\"N" + std::string(130, 'x') + "\n3,4,\"N\"\n", {1, 2}},  // a line over 128 characters
        {"1,2,\"N" + std::string(122, 'x') + "\n3,4,\"N\"\n", {1, 2, 3, 4}},
        {"1,2,\"N" + std::string(122, 'x') + "\r\n3,4,\"N\"\n", {1, 2, 3, 4}},  // 128 characters, then CR LF
        {"2048,4101,\"N\"\n-2049,-4096,\"N\"\n", {-2048, 5, 2047, 0}}};
    for (const auto& [input, samples] : cases) {
        WriteTextFile(dir.File("r.txt"), input);
        ASSERT_TRUE(WFDBConvertAHA(dir.File("r.txt").c_str(), dir.Path().c_str())) << input;
        const std::vector<unsigned char> text = ReadWholeFile(dir.File("r.hea"));
        const std::string firstLine = "r 2 250 " + std::to_string(samples.size() / 2) + "\n";
        EXPECT_EQ(std::string(text.begin(), text.begin() + std::min(text.size(), firstLine.size())), firstLine) << input;
        EXPECT_EQ(DecodeFile212(dir.File("r.dat")), samples) << input;
        if (&samples == &cases[0].second) {
            EXPECT_EQ(ReadWholeFile(dir.File("r.dat")), (std::vector<unsigned char>{0x64, 0xF0, 0xFB, 0x00, 0x70, 0xFF}));
            EXPECT_EQ(std::string(text.begin(), text.end()), firstLine + "r.dat 212 400 12 0 100 0 0 ECG0\nr.dat 212 400 12 0 -5 0 0 ECG1\n");
        }
    }
}

// A record path must leave room for its extension within 260 characters: "<folder>/ok" of 256 does not.
// A directory where the header should go: the signal file written first goes with it.
TEST(Aha2Mit, RefusalsLeaveNoRecordBehind) {
    CTempDir dir;
    for (const char* name : {"rec.TXT", "rec.csv", "my rec.txt", ".txt", "ok.txt"}) WriteTextFile(dir.File(name), "1,2,\"N\"\n");
    for (const char* name : {"rec.TXT", "rec.csv", "my rec.txt", ".txt", "missing.txt"}) EXPECT_FALSE(WFDBConvertAHA(dir.File(name).c_str(), dir.Path().c_str())) << name;
    const std::string ok = dir.File("ok.txt"), wide = dir.File(std::string(252 - dir.Path().size(), 'w')), narrow = wide.substr(0, wide.size() - 1);
    ASSERT_TRUE(mkdir(wide.c_str(), 0700) == 0 && mkdir(narrow.c_str(), 0700) == 0);
    EXPECT_FALSE(WFDBConvertAHA(ok.c_str(), dir.File("no/such/folder").c_str()) || WFDBConvertAHA(ok.c_str(), std::string(256, 'd').c_str()) ||
                 WFDBConvertAHA(nullptr, dir.Path().c_str()) || WFDBConvertAHA(ok.c_str(), nullptr) || WFDBConvertAHA(ok.c_str(), wide.c_str()));
    EXPECT_TRUE(WFDBConvertAHA(ok.c_str(), narrow.c_str()));
    ASSERT_EQ(mkdir(dir.File("ok.hea").c_str(), 0700), 0);
    EXPECT_FALSE(WFDBConvertAHA(ok.c_str(), dir.Path().c_str()));
    for (const char* name : {"rec.hea", "rec.dat", "missing.hea", "missing.dat", "ok.dat"}) EXPECT_FALSE(FileExists(dir.File(name))) << name;
    EXPECT_FALSE(FileExists(wide + "/ok.dat"));
}
