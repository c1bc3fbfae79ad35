// Signal files of formats 16 and 212: choosing the reader, sample bytes and physical values
// worked by hand, seeks, files that end early, and the public records against the checksums
// and initial values their headers carry.

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

TEST(SignalReader, OpensTheFirstSignalsFileInTheGivenDirectoryAndStartsAgainOnASecondLoad) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 2 100 1\nfirst.dat 16\nsecond.dat 16\n");
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), header.get()));  // first.dat does not exist yet
    double frame[2] = {};
    EXPECT_EQ(WFDBNextSample(header.get(), frame, 1), 0);
    WriteBinaryFile(dir.File("first.dat"), Pack16({7, 8}));
    WriteBinaryFile(dir.File("second.dat"), Pack16({99, 99}));
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);  // each test runs in its own process
    for (const std::string& directory : {dir.Path(), dir.Path() + "/", std::string()}) {
        ASSERT_TRUE(WFDBLoadSignal(directory.c_str(), header.get())) << directory;
        EXPECT_EQ(WFDBNextSample(header.get(), frame, 0), 0);  // nothing asked, nothing consumed
        EXPECT_EQ(WFDBNextSample(header.get(), nullptr, 1), 0);
        ASSERT_EQ(WFDBNextSample(header.get(), frame, 1), 1);
        EXPECT_EQ(frame[0], 7.0 / 200);  // both signals come from the first signal's file
        EXPECT_EQ(frame[1], 8.0 / 200);
    }
    EXPECT_FALSE(WFDBLoadSignal(nullptr, header.get()));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), nullptr));
}

// 212 worked by hand: A = byte0 + 256 x (byte1 & 0x0F), B = byte2 + 256 x (byte1 >> 4), 12-bit signed;
// a file of an odd sample count closes with a two-byte group. Samples of a frame average toward zero.
TEST(SignalReader, DecodesTheStoredBytesAsFarAsTheFileHoldsWholeFrames) {
    const std::string two212 = "rec 2 100 9\nrec.dat 212\nrec.dat 212\n", two16 = "rec 2 100 9\nrec.dat 16\nrec.dat 16\n";
    struct Case { std::string header; std::vector<unsigned char> bytes; std::vector<int> raw; };
    const Case cases[] = {
        {two212, {0x01, 0x23, 0x45, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0x00, 0xFF, 0x70, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x80, 0x00},
         {769, 581, -1, -1, -2048, 0, 255, 2047, 2047, 0, 0, -2048}},
        {"rec 1 100 6\nrec.dat 212\n", Pack212({1, -2, 3, -4, 2047}), {1, -2, 3, -4, 2047}},  // frames 2k and 2k+1 share a group
        {"rec 3 100 2\nrec.dat 212\nrec.dat 212\nrec.dat 212\n", Pack212({1, -2, 3, -4, 5, -6}), {1, -2, 3, -4, 5, -6}},
        {"rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08}, {7, 8, -2039}},
        {two212, {1, 0x00, 2, 3, 0x00}, {1, 2}},  // the third sample's frame is cut
        {two212, {1, 0x00, 2, 3, 0x00, 4, 5}, {1, 2, 3, 4}},
        {"rec 2 100 2\nrec.dat 212x3\nrec.dat 212\n", Pack212({1, 2, 4, 9, -1, -2, -4, -9}), {2, 9, -2, -9}},
        {"rec 1 100 4\nrec.dat 16\n", {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F}, {4660, -1, -32768, 32767}},
        {"rec 2 100 2\nrec.dat 16x2\nrec.dat 16\n", Pack16({10, 13, 7, -10, -13, -7}), {11, 7, -11, -7}},
        {two16, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0x7F}, {1, 2, 3, 4}},  // one sample and half of another left over
        {two16, {}, {}}};
    for (const Case& c : cases) {
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), c.header, c.bytes);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(ReadAllRaw(header.get()), c.raw) << c.header;
        int frame[3] = {};
        EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frame, 1), 0);  // the end stays the end
    }
}

// (raw - baseline) / gain, averaged over the frame's samples: (1224 - 1024) / 200, (995 - 1024) / 200; (1 + 2 + 4) / 3;
// (5 + 6.5) / 2.
TEST(SignalReader, ConvertsToPhysicalValuesAndBackToWholeAdcValues) {
    struct Case { std::string header; std::vector<unsigned char> bytes; double first, second; };
    const Case cases[] = {{"rec 2 360 1\nrec.dat 212 200 11 1024\nrec.dat 212 200 11 1024\n", Pack212({1224, 995}), 1.0, -0.145},
                          {"rec 2 100 2\nrec.dat 212x3 1 12 0\nrec.dat 212 1 12 0\n", Pack212({1, 2, 4, 9}), 7.0 / 3, 9.0},
                          {"rec 2 100 2\nrec.dat 16x2 2 12 0\nrec.dat 16 1 12 0\n", Pack16({10, 13, 7}), 5.75, 7.0}};
    for (const Case& c : cases) {
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), c.header, c.bytes);
        ASSERT_NE(header, nullptr);
        double physical[2] = {};
        ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
        EXPECT_DOUBLE_EQ(physical[0], c.first) << c.header;
        EXPECT_DOUBLE_EQ(physical[1], c.second) << c.header;
    }
    // Division by a gain and multiplication back can miss a whole value by one rounding step;
    // whoever truncates the result must see the value itself.
    std::vector<int> all;
    for (int value = -2048; value < 2048; ++value) all.push_back(value);
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4096\nrec.dat 16 200 11 1024\n", Pack16(all));
    ASSERT_NE(header, nullptr);
    int mismatches = 0;
    for (int value : all) {
        double adc = 0;
        ASSERT_TRUE(GetNextSampleWithoutDAC(header.get(), &adc));
        mismatches += static_cast<int>(adc) != value;
    }
    EXPECT_EQ(mismatches, 0);
}

// Three signals at 2 Hz, 8 frames: frame k holds (k, 100 + k, 200 + k). In 212 an odd frame starts
// inside a group, and a seek must drop the sample still waiting from the last one.
TEST(SignalReader, SeeksBySampleAndBySecondAndRefusesWhatItCannot) {
    std::vector<int> samples;
    for (int k = 0; k < 8; ++k) samples.insert(samples.end(), {k, 100 + k, 200 + k});
    for (const char* format : {"16", "212"}) {
        CTempDir dir;
        const std::string f = format;
        CHeaderPtr header = OpenRecord(dir.Path(), "rec 3 2 8\nrec.dat " + f + "\nrec.dat " + f + "\nrec.dat " + f + "\n",
                                       f == "16" ? Pack16(samples) : Pack212(samples));
        ASSERT_NE(header, nullptr);
        const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
        struct Case { bool isSeconds; int position, frame; };
        for (const Case& c : {Case{false, 3, 3}, Case{false, 0, 0}, Case{false, 7, 7}, Case{false, 8, 8}, Case{false, 9, 0},
                              Case{true, 3, 6}, Case{true, 4, 8}, Case{true, 5, 0}}) {
            ASSERT_TRUE(handler->SeekEx(header.get(), 1));  // leaves a 212 sample waiting
            ASSERT_TRUE(c.isSeconds ? WFDBSeek(header.get(), c.position) : handler->SeekEx(header.get(), c.position));
            EXPECT_EQ(ReadAllRaw(header.get()), std::vector<int>(samples.begin() + 3 * c.frame, samples.end()))
                << format << " " << c.isSeconds << " " << c.position;
        }
        ASSERT_TRUE(handler->SeekEx(header.get(), 5));
        EXPECT_FALSE(handler->SeekEx(header.get(), -1));
        header->SamplingFrequency = 0;
        EXPECT_FALSE(WFDBSeek(header.get(), 1));  // no sampling frequency: no time scale
        EXPECT_EQ(ReadAllRaw(header.get()), std::vector<int>(samples.begin() + 15, samples.end()));  // the cursor did not move
    }
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08});
    EXPECT_FALSE(GetSignalHandler(header.get())->SeekEx(header.get(), 3));  // an odd sample whose group is cut
}

// A header's checksum is the 16-bit sum of a signal's samples and its initial value the first.
// 100_3chan holds 999 x 3 samples: its last group is two bytes, carrying frame 998's last sample.
TEST(SignalReaderRecords, ReproduceTheChecksumsAndInitialValuesOfTheirHeaders) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const auto& [name, frames] : std::vector<std::pair<std::string, int>>{
             {"100", 650000}, {"100s", 21600}, {"100_3chan", 999}, {"03700181", 75000}, {"v102s", 75000}, {"s0010_re", 38400},
             {"test01_00s", 4000}}) {
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
