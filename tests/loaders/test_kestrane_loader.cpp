// The maker's text records: head, labels and sections, values worked by hand in microvolts.

#include "loaders/kestrane_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sample_store.h"
#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

namespace {

CEcgHeaderPtr LoadText(const CTempDir& dir, const std::string& text, const std::string& name = "rec.kst") {
    WriteTextFile(dir.File(name), text);
    return CEcgHeaderPtr(LoadDatabaseKestrane(dir.File(name).c_str()));
}

std::vector<double> Zeros(size_t n) { return std::vector<double>(n, 0.0); }

}  // namespace

TEST(KestraneLoader, LoadsOneSectionAndLeavesTheOthersZero) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadText(dir, "500\n3\nSTART\nLead I\n1000\n-1000\n500\n");
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "rec");
    EXPECT_EQ(header->nSignals, 8);
    EXPECT_EQ(header->nSampleRate, 500);
    EXPECT_EQ(header->nSampleCount, 3);
    EXPECT_EQ(header->Channel[2].nLead, LEAD_V1);
    EXPECT_EQ(g_WaveformType, WaveformKestrane);
    EXPECT_EQ(g_nSampleRate, 500u);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, -1.0, 0.5}));
    for (int ch = 1; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), Zeros(3)) << "channel " << ch;
}

TEST(KestraneLoader, HeadTakesIntegerPartsAndAnyCaseOfStart) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadText(dir, "  999.9  \r\n2.7\r\n\r\n  sTaRt \r\n");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleRate, 999);
    EXPECT_EQ(header->nSampleCount, 2);
}

// Which lines are labels: the whole line in any case, never one that starts with a digit
// or a blank; anything else after "start" is a sample.
TEST(KestraneLoader, LabelsAndSampleLines) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadText(dir,
                                    "250\n4\nstart\n"
                                    "2000\n"               // before any label: ignored
                                    "lead ii\n100\n"       // lower case selects II
                                    " V1\n"                // a leading blank: a sample of 0
                                    "-0.5\n.5e3\nabc\n"    // signs, points and junk
                                    "v6\n1\n2\n3\n4\n5\n"  // longer than the count: cut
                                    "V6\n9000\n");         // a repeated label starts over
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(StoreChannel(0), Zeros(4));
    EXPECT_EQ(StoreChannel(1), (std::vector<double>{0.1, 0.0, -0.0005, 0.5}));
    EXPECT_EQ(StoreChannel(7), (std::vector<double>{9.0, 0.002, 0.003, 0.004}));
}

TEST(KestraneLoader, SectionsInAnyOrderAndShorterOnesLeaveZeros) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadText(dir, "1000\n3\nstart\nV3\n3000\nV2\n2000\n2000\n2000\nLead I\n7\n");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{0.007, 0.0, 0.0}));
    EXPECT_EQ(StoreChannel(3), (std::vector<double>{2.0, 2.0, 2.0}));
    EXPECT_EQ(StoreChannel(4), (std::vector<double>{3.0, 0.0, 0.0}));
}

TEST(KestraneLoader, HeadWithoutStartLineLoadsAZeroRecord) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadText(dir, "500\n4\n");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 4);
    EXPECT_EQ(StoreChannel(6), Zeros(4));
    CEcgHeaderPtr empty = LoadText(dir, "", "empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->nSampleRate, 0);
    EXPECT_EQ(empty->nSampleCount, 0);
}

TEST(KestraneLoader, RefusalsChangeNothing) {
    CTempDir dir;
    CEcgHeaderPtr good = LoadText(dir, "500\n1\nstart\nV5\n4000\n", "good.txt");
    ASSERT_NE(good, nullptr);
    struct Case {
        const char* what;
        const char* text;
    };
    for (const Case& c : {Case{"third line not start", "500\n3\nbegin\n"}, Case{"start with more", "500\n3\nstart now\n"},
                          Case{"negative count", "500\n-3\nstart\n"}, Case{"negative rate", "-500\n3\nstart\n"},
                          Case{"count beyond an int", "500\n1e12\nstart\n"}}) {
        SCOPED_TRACE(c.what);
        g_WaveformType = WaveformMIT;
        EXPECT_EQ(LoadText(dir, c.text, "bad.txt"), nullptr);
        EXPECT_EQ(g_WaveformType, WaveformMIT);
        EXPECT_EQ(g_nSampleCount, 1);
        EXPECT_EQ(StoreChannel(6), std::vector<double>{4.0});
    }
    EXPECT_EQ(LoadDatabaseKestrane(dir.File("missing.txt").c_str()), nullptr);
    EXPECT_EQ(LoadDatabaseKestrane(nullptr), nullptr);
}

TEST(KestraneLoader, ExportLoadsThroughTheApiLock) {
    CTempDir dir;
    WriteTextFile(dir.File("r.txt"), "100\n2\nstart\nV4\n1\n");
    ECG_HEADER* header = TAVOLoadDatabaseKestrane(dir.File("r.txt").c_str());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(StoreChannel(5), (std::vector<double>{0.001, 0.0}));
    TAVOFreeECGHeader(header);
}
