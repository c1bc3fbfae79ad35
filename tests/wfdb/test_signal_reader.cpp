// Opening signal files, choosing the reader by format, and the public records read back
// against the checksums and initial values their headers carry.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

TEST(SignalReader, ChoosesTheReaderByTheFirstSignalsFormat) {
    const std::pair<const char*, const SIGNAL_HANDLER*> cases[] = {
        {"rec 1 100 1\nrec.dat 16\n", &g_SignalHandler16}, {"rec 1 100 1\nrec.dat 212\n", &g_SignalHandler212},
        {"rec 2 100 1\nrec.dat 212\nrec.dat 16\n", &g_SignalHandler212},  // the first stands for all
        {"rec 1 100 1\nrec.dat 80\n", nullptr}, {"rec 1 100 1\nrec.dat 311\n", nullptr},
        {"rec 1 100 1\nrec.dat\n", nullptr}, {"rec 2 100 1\nrec.dat 212\nrec.dat\n", nullptr},  // no samples per frame
        {"rec 1 100 1\n", nullptr}};
    for (const auto& [text, handler] : cases) {
        SCOPED_TRACE(text);
        CTempDir dir;
        WriteTextFile(dir.File("rec.hea"), text);
        WriteBinaryFile(dir.File("rec.dat"), {1, 2, 3, 4, 5, 6});
        CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(GetSignalHandler(header.get()), handler);
        EXPECT_EQ(WFDBLoadSignal(dir.Path().c_str(), header.get()), header->NumberOfSignals > 0);
        EXPECT_EQ(IsReadableHeader(header.get()) != 0, handler != nullptr);
        double values[2] = {};
        EXPECT_EQ(WFDBNextSample(header.get(), values, 1), handler != nullptr ? 1 : 0);
        EXPECT_EQ(WFDBSeek(header.get(), 0), handler != nullptr);
        EXPECT_EQ(GetNextSampleWithoutDAC(header.get(), values), handler != nullptr);
    }
    EXPECT_EQ(GetSignalHandler(nullptr), nullptr);
    EXPECT_FALSE(g_SignalHandler16.SeekEx(nullptr, 0));
}

TEST(SignalReader, OpensTheFirstSignalsFileInTheGivenDirectoryOnly) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 2 100 1\nfirst.dat 16\nsecond.dat 16\n");
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), header.get()));  // first.dat does not exist yet
    EXPECT_EQ(IsReadableHeader(header.get()), 0);
    double frame[2] = {};
    EXPECT_EQ(WFDBNextSample(header.get(), frame, 1), 0);
    WriteBinaryFile(dir.File("first.dat"), Pack16({7, 8}));
    WriteBinaryFile(dir.File("second.dat"), Pack16({99, 99}));
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);  // each test runs in its own process
    for (const std::string& directory : {dir.Path(), dir.Path() + "/", std::string()}) {
        ASSERT_TRUE(WFDBLoadSignal(directory.c_str(), header.get())) << directory;
        ASSERT_EQ(WFDBNextSample(header.get(), frame, 1), 1);
        EXPECT_EQ(frame[0], 7.0 / 200);  // both signals come from the first signal's file
        EXPECT_EQ(frame[1], 8.0 / 200);
    }
    EXPECT_FALSE(WFDBLoadSignal(nullptr, header.get()));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), nullptr));
}

TEST(SignalReader, ConsumesNothingWhenAskedForNoFramesAndStartsAgainOnASecondLoad) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 3\nrec.dat 212\n", Pack212({5, 6, 7}));
    ASSERT_NE(header, nullptr);
    double value = 0;
    int raw = 0;
    EXPECT_EQ(WFDBNextSample(header.get(), nullptr, 1), 0);
    EXPECT_EQ(WFDBNextSample(header.get(), &value, 0), 0);
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, -3), 0);
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, 1), 1);  // 6 waits
    EXPECT_EQ(raw, 5);
    ASSERT_TRUE(WFDBLoadSignal(dir.Path().c_str(), header.get()));
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, 1), 1);
    EXPECT_EQ(raw, 5);
}

// A header's checksum is the 16-bit sum of a signal's samples and its initial value the first.
TEST(SignalReaderRecords, ReproduceTheChecksumsAndInitialValuesOfTheirHeaders) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const auto& [name, frames] : std::vector<std::pair<std::string, int>>{
             {"100", 650000}, {"100s", 21600}, {"03700181", 75000}, {"v102s", 75000}, {"s0010_re", 38400}, {"test01_00s", 4000}}) {
        SCOPED_TRACE(name);
        CHeaderPtr header = ReadHeaderAt(SharedRecordFile(name + ".hea"));
        ASSERT_NE(header, nullptr);
        ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
        const int signals = header->NumberOfSignals;
        std::vector<int> frame(signals), first(signals);
        std::vector<uint16_t> sums(signals, 0);
        int count = 0;
        for (; GetSignalHandler(header.get())->NextSampleEx(header.get(), frame.data(), 1) == 1; ++count) {
            for (int s = 0; s < signals; ++s) sums[s] = static_cast<uint16_t>(sums[s] + frame[s]);
            if (count == 0) first = frame;
        }
        EXPECT_EQ(count, frames);
        int checked = 0;
        for (int s = 0; s < signals; ++s) {
            if (header->Signal[s].SamplesPerFrame != 1) continue;
            EXPECT_EQ(first[s], header->Signal[s].InitialValue) << s;
            EXPECT_EQ(static_cast<int16_t>(sums[s]), static_cast<int16_t>(header->Signal[s].Checksum)) << s;
            ++checked;
        }
        EXPECT_GE(checked, 2);
    }
}

// 100_3chan holds 999 x 3 samples: its last group is two bytes, carrying frame 998's last sample.
TEST(SignalReaderRecords, ReadTheClosingTwoByteGroupOfAnOddSampleCount) {
    TAVO_REQUIRE_SHARED_DATA();
    CHeaderPtr header = ReadHeaderAt(SharedRecordFile("100_3chan.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
    const std::vector<int> stored = DecodeFile212(SharedRecordFile("100_3chan.dat"));
    std::vector<int> read;
    int frame[3] = {};
    while (GetSignalHandler(header.get())->NextSampleEx(header.get(), frame, 1) == 1) read.insert(read.end(), frame, frame + 3);
    EXPECT_EQ(read.size(), 999u * 3);
    EXPECT_EQ(read, stored);
    // The first frame as physical values: (995 - 1024) / 200 and (1011 - 1024) / 200.
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    double physical[3] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], -0.145);
    EXPECT_DOUBLE_EQ(physical[1], -0.065);
}

TEST(SignalReaderRecords, ReadTheTwelveAcceptedSignalsOfFifteen) {
    TAVO_REQUIRE_SHARED_DATA();
    CHeaderPtr header = ReadHeaderAt(SharedRecordFile("s0010_re.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 12);
    ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
    const std::vector<int> stored = DecodeFile16(SharedRecordFile("s0010_re.dat"));
    ASSERT_EQ(stored.size(), 12u * 38400u);
    ASSERT_TRUE(GetSignalHandler(header.get())->SeekEx(header.get(), 20000));
    int frame[12] = {};
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frame, 1), 1);
    EXPECT_EQ(std::vector<int>(frame, frame + 12), std::vector<int>(stored.begin() + 240000, stored.begin() + 240012));
}
