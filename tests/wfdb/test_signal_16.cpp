// Format 16: sample bytes, physical values, frames with several samples per
// signal, seeks, and files that end early.

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

TEST(Signal16, DecodesLittleEndianTwosComplementSamples) {
    struct Case {
        std::vector<unsigned char> bytes;
        int raw;
    };
    const Case cases[] = {{{0x34, 0x12}, 4660}, {{0xFF, 0xFF}, -1}, {{0x00, 0x80}, -32768}, {{0xFF, 0x7F}, 32767},
                          {{0x00, 0x00}, 0}};
    for (const Case& c : cases) {
        CTempDir dir;
        CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 1\nrec.dat 16 1 16 0\n", c.bytes);
        ASSERT_NE(header, nullptr);
        int raw = 0;
        ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, 1), 1);
        EXPECT_EQ(raw, c.raw);
        ASSERT_TRUE(WFDBSeek(header.get(), 0));
        double physical = 0;
        ASSERT_EQ(WFDBNextSample(header.get(), &physical, 1), 1);  // gain 1, baseline 0: the raw value
        EXPECT_EQ(physical, c.raw);
        EXPECT_EQ(WFDBNextSample(header.get(), &physical, 1), 0);
    }
}

TEST(Signal16, GivesBackWholeAdcValuesExactly) {
    // Division by a gain and multiplication back can miss the whole value by
    // one rounding step; whoever truncates the result must see the value itself.
    std::vector<int> raw;
    for (int value = -2048; value < 2048; ++value) raw.push_back(value);
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 4096\nrec.dat 16 200 11 1024\n", Pack16(raw));
    ASSERT_NE(header, nullptr);
    int mismatches = 0;
    for (int value : raw) {
        double adc = 0;
        ASSERT_TRUE(GetNextSampleWithoutDAC(header.get(), &adc));
        if (static_cast<int>(adc) != value) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Signal16, AveragesTheSamplesOfAFrame) {
    CTempDir dir;
    const char* text = "rec 2 100 2\nrec.dat 16x2 2 12 0\nrec.dat 16 1 12 0\n";
    CHeaderPtr header = OpenRecord(dir.Path(), text, Pack16({10, 13, 7, -10, -13, -7}));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    ASSERT_NE(handler, nullptr);
    int raw[4] = {};
    ASSERT_EQ(handler->NextSampleEx(header.get(), raw, 2), 2);
    EXPECT_EQ(raw[0], 11);   // 23 / 2
    EXPECT_EQ(raw[1], 7);
    EXPECT_EQ(raw[2], -11);  // -23 / 2, toward zero
    EXPECT_EQ(raw[3], -7);
    ASSERT_TRUE(handler->SeekEx(header.get(), 0));
    double physical[2] = {};
    ASSERT_EQ(handler->NextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], 5.75);  // (5 + 6.5) / 2
    EXPECT_DOUBLE_EQ(physical[1], 7.0);
}

TEST(Signal16, SeeksBySampleAndBySecond) {
    // Two signals at 4 Hz, 12 frames: frame k holds (k, 100 + k).
    std::vector<int> samples;
    for (int k = 0; k < 12; ++k) {
        samples.push_back(k);
        samples.push_back(100 + k);
    }
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 4 12\nrec.dat 16 1 16 0\nrec.dat 16 1 16 0\n", Pack16(samples));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    struct Case {
        bool isSeconds;
        int position;
        int expectedFrame;
    };
    const Case cases[] = {{false, 5, 5}, {false, 12, 12}, {false, 13, 0}, {false, 0, 0},
                          {true, 2, 8},  {true, 3, 12},   {true, 4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        const bool isSet = c.isSeconds ? WFDBSeek(header.get(), c.position) : handler->SeekEx(header.get(), c.position);
        ASSERT_TRUE(isSet);
        int frame[2] = {-1, -1};
        if (c.expectedFrame == 12) {
            EXPECT_EQ(handler->NextSampleEx(header.get(), frame, 1), 0);  // the record's end
        } else {
            ASSERT_EQ(handler->NextSampleEx(header.get(), frame, 1), 1);
            EXPECT_EQ(frame[0], c.expectedFrame);
            EXPECT_EQ(frame[1], 100 + c.expectedFrame);
        }
    }
}

TEST(Signal16, RefusesNegativePositionsAndSecondsWithoutAFrequency) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 0 4\nrec.dat 16 1 16 0\n", Pack16({1, 2, 3, 4}));
    ASSERT_NE(header, nullptr);
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    int value = 0;
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);
    EXPECT_FALSE(WFDBSeek(header.get(), 0));  // no sampling frequency: no time scale
    EXPECT_FALSE(WFDBSeek(header.get(), 1));
    EXPECT_FALSE(handler->SeekEx(header.get(), -1));
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);  // the cursor did not move
    EXPECT_EQ(value, 2);
    ASSERT_TRUE(handler->SeekEx(header.get(), 3));
    ASSERT_EQ(handler->NextSampleEx(header.get(), &value, 1), 1);
    EXPECT_EQ(value, 4);
}

TEST(Signal16, ReadsAFileThatEndsEarlyAsFarAsItHolds) {
    CTempDir dir;
    // Two signals, 11 bytes: two whole frames, one sample of signal 0, then half a sample.
    std::vector<unsigned char> bytes = Pack16({1, 2, 3, 4, 5});
    bytes.push_back(0x7F);
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 2 100 10\nrec.dat 16 1 16 0\nrec.dat 16 1 16 0\n", bytes);
    ASSERT_NE(header, nullptr);
    int frames[6] = {0, 0, 0, 0, -9, -9};
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frames, 3), 2);
    EXPECT_EQ(frames[3], 4);
    EXPECT_EQ(frames[4], 5);  // the unfinished frame's first value stays
    EXPECT_EQ(frames[5], -9);
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frames, 1), 0);

    CHeaderPtr empty = OpenRecord(dir.Path(), "e 1 100 10\ne.dat 16\n", {}, "e");
    ASSERT_NE(empty, nullptr);
    double value = 0;
    EXPECT_EQ(WFDBNextSample(empty.get(), &value, 1), 0);
}
