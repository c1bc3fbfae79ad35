// Format 212: the three-byte pairs, pairs that span signals and frames, seeks into the
// middle of a pair, and files that end inside a group or in a closing two-byte group.

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

namespace {

std::vector<int> ReadAllRaw(WFDB_HEADER* header) {
    std::vector<int> values, frame(static_cast<size_t>(header->NumberOfSignals));
    while (GetSignalHandler(header)->NextSampleEx(header, frame.data(), 1) == 1) values.insert(values.end(), frame.begin(), frame.end());
    return values;
}

}  // namespace

// Worked by hand: A = byte0 + 256 x (byte1 & 0x0F), B = byte2 + 256 x (byte1 >> 4), 12-bit signed.
TEST(Signal212, DecodesPairsAtTheLimitsAndConvertsThem) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 6\nrec.dat 212 1 12 0\nrec.dat 212 1 12 0\n",
                                   {0x01, 0x23, 0x45, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0x00,
                                    0xFF, 0x70, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x80, 0x00});
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{769, 581, -1, -1, -2048, 0, 255, 2047, 2047, 0, 0, -2048}));
    header = OpenRecord(dir.Path(), "rec 2 360 1\nrec.dat 212 200 11 1024\nrec.dat 212 200 11 1024\n", Pack212({1224, 995}));
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
    // One signal: frames 2k and 2k+1 share group k. Two: frame k is group k. Three: pairs cross frames.
    const std::vector<int> samples = {1, -2, 3, -4, 2047, -2048};
    for (const char* text : {"rec 1 100 6\nrec.dat 212\n", "rec 2 100 3\nrec.dat 212\nrec.dat 212\n",
                             "rec 3 100 2\nrec.dat 212\nrec.dat 212\nrec.dat 212\n"}) {
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), text, Pack212(samples));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(ReadAllRaw(header.get()), samples) << text;
    }
    // Signal 0 has three samples per frame, signal 1 one: frames of four samples, two groups each.
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 2\nrec.dat 212x3 1 12 0\nrec.dat 212 1 12 0\n",
                                   Pack212({1, 2, 4, 9, -1, -2, -4, -9}));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{2, 9, -2, -9}));  // 7 / 3 and -7 / 3 toward zero
    ASSERT_TRUE(GetSignalHandler(header.get())->SeekEx(header.get(), 1));
    double physical[2] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], -7.0 / 3.0);
}

TEST(Signal212, SeeksIntoTheMiddleOfAPairAndDropsAPendingSample) {
    CTempDir dir;
    const std::vector<int> samples = {10, 11, 12, 13, 14, 15, 16, 17};
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 2 8\nrec.dat 212\n", Pack212(samples));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    int value = 0;
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);  // 11 now waits
    for (int position : {3, 0, 7, 4, 1, 8}) {
        ASSERT_TRUE(handler->SeekEx(header.get(), position));
        EXPECT_EQ(ReadAllRaw(header.get()), std::vector<int>(samples.begin() + position, samples.end())) << position;
    }
    ASSERT_TRUE(WFDBSeek(header.get(), 3));  // second 3 at 2 Hz: sample 6
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{16, 17}));
    ASSERT_TRUE(WFDBSeek(header.get(), 5));  // past the 4-second record: the start
    EXPECT_EQ(ReadAllRaw(header.get()).size(), samples.size());
}

TEST(Signal212, DeliversWholeFramesOfAFileCutInsideAGroup) {
    for (size_t cut : {0, 1, 2, 4, 5, 7, 8}) {
        CTempDir dir;
        std::vector<unsigned char> bytes = Pack212({1, 2, 3, 4, 5, 6});  // two signals, three frames
        bytes.resize(cut);
        CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 3\nrec.dat 212\nrec.dat 212\n", bytes);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(ReadAllRaw(header.get()).size(), 2 * (cut / 3)) << cut;
    }
    // One signal, a group, then the two-byte group that closes a file of an odd sample
    // count: three samples, then the end, then still the end.
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08});
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAllRaw(header.get()), (std::vector<int>{7, 8, -2039}));
    int value = 0;
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &value, 1), 0);
    EXPECT_FALSE(GetSignalHandler(header.get())->SeekEx(header.get(), 3));  // an odd sample whose group is cut
}
