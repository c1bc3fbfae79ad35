// Format 212: the three-byte pairs, pairs that span signals and frames, seeks
// into the middle of a pair, and files that end inside a group.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

namespace {

std::vector<int> ReadAllRaw(WFDB_HEADER* header) {
    std::vector<int> values;
    const SIGNAL_HANDLER* handler = GetSignalHandler(header);
    std::vector<int> frame(static_cast<size_t>(header->NumberOfSignals));
    while (handler->NextSampleEx(header, frame.data(), 1) == 1) values.insert(values.end(), frame.begin(), frame.end());
    return values;
}

}  // namespace

// Worked by hand: A = byte0 + 256 x (byte1 & 0x0F), B = byte2 + 256 x (byte1 >> 4), 12-bit signed.
TEST(Signal212, DecodesPairsAtTheLimits) {
    struct Case {
        std::array<unsigned char, 3> in;
        int first, second;
    };
    const Case cases[] = {{{0x01, 0x23, 0x45}, 769, 581}, {{0xFF, 0xFF, 0xFF}, -1, -1},
                          {{0x00, 0x08, 0x00}, -2048, 0}, {{0xFF, 0x70, 0xFF}, 255, 2047},
                          {{0xFF, 0x07, 0x00}, 2047, 0},  {{0x00, 0x80, 0x00}, 0, -2048}};
    for (const Case& c : cases) {
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 1\nrec.dat 212 1 12 0\nrec.dat 212 1 12 0\n",
                                       {c.in[0], c.in[1], c.in[2]});
        ASSERT_NE(header, nullptr);
        int raw[2] = {};
        ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), raw, 1), 1);
        EXPECT_EQ(raw[0], c.first);
        EXPECT_EQ(raw[1], c.second);
        ASSERT_TRUE(WFDBSeek(header.get(), 0));
        double physical[2] = {};
        ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
        EXPECT_EQ(physical[0], c.first);
        EXPECT_EQ(physical[1], c.second);
    }
}

TEST(Signal212, ConvertsToPhysicalUnitsAndBack) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 360 1\nrec.dat 212 200 11 1024\nrec.dat 212 200 11 1024\n",
                                   Pack212({1224, 995}));
    ASSERT_NE(header, nullptr);
    double frame[2] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), frame, 1), 1);
    EXPECT_DOUBLE_EQ(frame[0], 1.0);
    EXPECT_DOUBLE_EQ(frame[1], -0.145);
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    ASSERT_TRUE(GetNextSampleWithoutDAC(header.get(), frame));
    EXPECT_EQ(frame[0], 1224.0);
    EXPECT_EQ(frame[1], 995.0);
}

TEST(Signal212, PairsSamplesAcrossSignalsAndFrames) {
    struct Case {
        const char* header;
        int signals;
    };
    // One signal: frames 2k and 2k+1 share group k. Two: frame k is group k.
    // Three: the pairs run across frame boundaries.
    const Case cases[] = {{"rec 1 100 6\nrec.dat 212\n", 1},
                          {"rec 2 100 3\nrec.dat 212\nrec.dat 212\n", 2},
                          {"rec 3 100 2\nrec.dat 212\nrec.dat 212\nrec.dat 212\n", 3}};
    const std::vector<int> samples = {1, -2, 3, -4, 2047, -2048};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signals);
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), c.header, Pack212(samples));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(ReadAllRaw(header.get()), samples);
    }
}

TEST(Signal212, AveragesSamplesWithinAFrameAcrossPairs) {
    CTempDir dir;
    // Signal 0 has three samples per frame, signal 1 one: frames of four samples, two groups each.
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 2\nrec.dat 212x3 1 12 0\nrec.dat 212 1 12 0\n",
                                   Pack212({1, 2, 4, 9, -1, -2, -4, -9}));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{2, 9, -2, -9}));  // 7 / 3 and -7 / 3 toward zero
    ASSERT_TRUE(GetSignalHandler(header.get())->SeekEx(header.get(), 1));
    double physical[2] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], -7.0 / 3.0);
    EXPECT_DOUBLE_EQ(physical[1], -9.0);
}

TEST(Signal212, SeeksIntoTheMiddleOfAPair) {
    CTempDir dir;
    const std::vector<int> samples = {10, 11, 12, 13, 14, 15, 16, 17};
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 2 8\nrec.dat 212\n", Pack212(samples));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    for (int position : {3, 0, 7, 4, 1, 8}) {
        SCOPED_TRACE(position);
        ASSERT_TRUE(handler->SeekEx(header.get(), position));
        const std::vector<int> rest(samples.begin() + position, samples.end());
        EXPECT_EQ(ReadAllRaw(header.get()), rest);
    }
    ASSERT_TRUE(WFDBSeek(header.get(), 3));  // second 3 at 2 Hz: sample 6
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{16, 17}));
    ASSERT_TRUE(WFDBSeek(header.get(), 5));  // past the 4-second record: the start
    EXPECT_EQ(ReadAllRaw(header.get()).size(), samples.size());
}

TEST(Signal212, SeekingDropsAPendingSample) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4\nrec.dat 212\n", Pack212({1, 2, 3, 4}));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    int value = 0;
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);  // sample 2 now waits
    ASSERT_TRUE(handler->SeekEx(header.get(), 2));
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);
    EXPECT_EQ(value, 3);
}

TEST(Signal212, DeliversWholeFramesOfAFileCutInsideAGroup) {
    for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{4}, size_t{5}, size_t{7}, size_t{8}}) {
        SCOPED_TRACE(cut);
        CTempDir dir;
        // Two signals, three frames; cut bytes into the file.
        std::vector<unsigned char> bytes = Pack212({1, 2, 3, 4, 5, 6});
        bytes.resize(cut);
        CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 3\nrec.dat 212\nrec.dat 212\n", bytes);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(ReadAllRaw(header.get()).size(), 2 * (cut / 3));
    }
    CTempDir dir;
    // One signal, a group and a half: two samples, then the end, then still the end.
    std::vector<unsigned char> bytes = Pack212({7, 8, 9, 10});
    bytes.resize(4);
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4\nrec.dat 212\n", bytes);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{7, 8}));
    int value = 0;
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &value, 1), 0);
    // A seek to an odd sample whose group is cut fails.
    EXPECT_FALSE(GetSignalHandler(header.get())->SeekEx(header.get(), 3));
}
