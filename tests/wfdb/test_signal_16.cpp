// Format 16: sample bytes, physical values, frames with several samples per signal,
// seeks, and files that end early.

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

TEST(Signal16, DecodesLittleEndianTwosComplementSamplesExactly) {
    CTempDir dir;
    const std::vector<unsigned char> bytes = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4\nrec.dat 16 1 16 0\n", bytes);
    ASSERT_NE(header, nullptr);
    int raw[5] = {};
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), raw, 5), 4);
    EXPECT_EQ(std::vector<int>(raw, raw + 4), (std::vector<int>{4660, -1, -32768, 32767}));
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    double physical[4] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 4), 4);  // gain 1, baseline 0: the raw values
    EXPECT_EQ(physical[2], -32768.0);

    // Division by a gain and multiplication back can miss a whole value by one rounding
    // step; whoever truncates the result must see the value itself.
    std::vector<int> all;
    for (int value = -2048; value < 2048; ++value) all.push_back(value);
    header = OpenRecord(dir.Path(), "rec 1 100 4096\nrec.dat 16 200 11 1024\n", Pack16(all));
    ASSERT_NE(header, nullptr);
    int mismatches = 0;
    for (int value : all) {
        double adc = 0;
        ASSERT_TRUE(GetNextSampleWithoutDAC(header.get(), &adc));
        mismatches += static_cast<int>(adc) != value;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Signal16, AveragesTheSamplesOfAFrame) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 2\nrec.dat 16x2 2 12 0\nrec.dat 16 1 12 0\n",
                                   Pack16({10, 13, 7, -10, -13, -7}));
    ASSERT_NE(header, nullptr);
    int raw[4] = {};
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), raw, 2), 2);
    EXPECT_EQ(std::vector<int>(raw, raw + 4), (std::vector<int>{11, 7, -11, -7}));  // toward zero
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    double physical[2] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], 5.75);  // (5 + 6.5) / 2
    EXPECT_DOUBLE_EQ(physical[1], 7.0);
}

TEST(Signal16, SeeksBySampleAndBySecondAndRefusesWhatItCannot) {
    std::vector<int> samples;  // two signals at 4 Hz, 12 frames: frame k holds (k, 100 + k)
    for (int k = 0; k < 12; ++k) samples.insert(samples.end(), {k, 100 + k});
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 4 12\nrec.dat 16\nrec.dat 16\n", Pack16(samples));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    struct Case { bool isSeconds; int position, frame; };
    for (const Case& c : {Case{false, 5, 5}, Case{false, 12, 12}, Case{false, 13, 0}, Case{false, 0, 0},
                          Case{true, 2, 8}, Case{true, 3, 12}, Case{true, 4, 0}}) {
        SCOPED_TRACE(c.position);
        ASSERT_TRUE(c.isSeconds ? WFDBSeek(header.get(), c.position) : handler->SeekEx(header.get(), c.position));
        int frame[2] = {-1, -1};
        ASSERT_EQ(handler->NextSampleEx(header.get(), frame, 1), c.frame == 12 ? 0 : 1);  // 12: the record's end
        if (c.frame != 12) {
            EXPECT_EQ(frame[0] + frame[1], 100 + 2 * c.frame);
        }
    }
    header = OpenRecord(dir.Path(), "rec 1 0 4\nrec.dat 16 1 16 0\n", Pack16({1, 2, 3, 4}));
    int value = 0;
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);
    EXPECT_FALSE(WFDBSeek(header.get(), 1));  // no sampling frequency: no time scale
    EXPECT_FALSE(handler->SeekEx(header.get(), -1));
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);  // the cursor did not move
    EXPECT_EQ(value, 2);
}

TEST(Signal16, ReadsAFileThatEndsEarlyAsFarAsItHolds) {
    CTempDir dir;
    // Two signals, 11 bytes: two whole frames, one sample of signal 0, then half a sample.
    std::vector<unsigned char> bytes = Pack16({1, 2, 3, 4, 5});
    bytes.push_back(0x7F);
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 10\nrec.dat 16\nrec.dat 16\n", bytes);
    ASSERT_NE(header, nullptr);
    int frames[6] = {0, 0, 0, 0, -9, -9};
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frames, 3), 2);
    EXPECT_EQ(std::vector<int>(frames, frames + 6), (std::vector<int>{1, 2, 3, 4, 5, -9}));
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frames, 1), 0);
    CHeaderPtr empty = OpenRecord(dir.Path(), "e 1 100 10\ne.dat 16\n", {}, "e");
    ASSERT_NE(empty, nullptr);
    double value = 0;
    EXPECT_EQ(WFDBNextSample(empty.get(), &value, 1), 0);
}
