// The wire side of a run, byte by byte: the set-up command, bit planes, and the parser of
// the device's replies, including replies cut across reads.

#include "engine/stream_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/protocol.h"
#include "engine/output_stream.h"
#include "engine/output_threads.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool SendSignalled() { return WaitForSingleObject(&g_hSendEvent, 0) == kWaitSignalled; }

class ReplyParsing : public ::testing::Test {
protected:
    void SetUp() override {
        g_hSendEvent.ResetEvent();
        g_OutputDelayCB = CollectDelay;
    }
    void TearDown() override { g_OutputDelayCB = nullptr; }
};

}  // namespace

// Reload values worked by hand: trunc(65536 - 6000000 / rate + 79 or 12); base 59536 for kind 4.
// Rates without a reload value are refused and leave the command alone.
TEST(OutputSetup, ReloadAndRangeBytes) {
    struct Case { int kind; uint32_t rate; int isNewer; double range; Bytes bytes; };
    for (const Case& c : {Case{WaveformFixedChannels, 1000, 0, 5.0, {0x00, 0xE8, 0x9C, 5}},
                          Case{WaveformFixedChannels, 1000, 1, 5.0, {0x00, 0xE8, 0xDF, 5}},
                          Case{WaveformMIT, 360, 0, 2.5, {0x00, 0xBE, 0xF1, 2}},   // 48881
                          Case{WaveformMIT, 500, 1, 10.0, {0x00, 0xD1, 0x6F, 10}},  // 53615
                          Case{WaveformMIT, 92, 0, 5.0, {0x00, 0x01, 0x4A, 5}},  // 65536 - 65217.39 + 12 = 330
                          Case{WaveformKestrane, 360, 0, 5.0, {0x00, 0xE8, 0x9C, 5}},
                          Case{WaveformKestrane, 250, 1, 4.999, {0x00, 0xE8, 0xDF, 5}},
                          Case{WaveformSine, 1000, 0, 0.5, {0x00, 0xE8, 0x9C, 0}},
                          Case{WaveformFixedChannels, 1000, 0, 300.0, {0x00, 0xE8, 0x9C, 44}},
                          Case{WaveformMIT, 0, 0, 5.0, {9, 9, 9, 9}}, Case{WaveformMIT, 50, 0, 5.0, {9, 9, 9, 9}},
                          Case{WaveformMIT, 91, 0, 5.0, {9, 9, 9, 9}}, Case{WaveformMIT, 7000000, 0, 5.0, {9, 9, 9, 9}}}) {
        g_WaveformType = c.kind;
        g_nSampleRate = c.rate;
        g_bIsISPSupported = c.isNewer;
        g_fVoltageRange = c.range;
        Bytes command{9, 9, 9, 9};
        EXPECT_EQ(BuildOutputSetup(command.data()), c.bytes[0] == 0) << "rate " << c.rate;
        EXPECT_EQ(command, c.bytes) << "kind " << c.kind << " rate " << c.rate << " range " << c.range;
    }
}

// Bit planes worked by hand: byte i holds bit (width-1-i) of the eight codes, channel c in bit c.
TEST(StreamPacket, EncodesBitPlanesMostSignificantFirst) {
    struct Case { Codes frame; int width; Bytes bytes; };
    for (const Case& c : {Case{{0xFFF, 0, 0, 0, 0, 0, 0, 0}, 12, Bytes(12, 0x01)},
                          Case{{0, 0, 0, 0, 0, 0, 0, 0x800}, 12, {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                          Case{{1, 2, 0, 0, 0, 0, 0, 0xFFFF}, 12, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                                  0x80, 0x82, 0x81}},
                          Case{{0, 0, 0, 0x8001, 0, 0, 0, 0}, 16, {0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08}},
                          Case{{0xFFFF, 0, 0, 0, 0, 0, 0x4000, 0}, 16, {0x01, 0x41, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                                                                       0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}}}) {
        Bytes out(static_cast<size_t>(c.width), 0xEE);
        EncodeSample(c.frame.data(), c.width, out.data());
        EXPECT_EQ(out, c.bytes) << "width " << c.width << ", channel 0 code " << c.frame[0];
    }
}

// "N" is two bytes, "X" three, "S" fifteen; delay = (byte 1 x 100 + byte 2) x 5, zero not reported.
TEST_F(ReplyParsing, RequestsAndDelaysOneReplyAtATime) {
    unsigned char read[] = {'N', 0x00, 'N', 0x07, 'X', 2, 3, 'X', 0, 0, 'X', 0, 1, 'X', 255, 255, 'X', 1, 0};
    for (int from : {0, 2}) {
        EXPECT_EQ(ResponseHandling(read + from, static_cast<int>(sizeof(read)) - from), read + from + 2);
        EXPECT_TRUE(SendSignalled()) << "each request signals";
    }
    for (int from = 4; from < 19; from += 3) EXPECT_EQ(ResponseHandling(read + from, 3), read + from + 3);
    EXPECT_EQ(Delays(4), (std::vector<int>{1015, 5, 128775, 500}));
}

TEST_F(ReplyParsing, CutRepliesWaitForTheirRestAndStrayBytesAreSkipped) {
    unsigned char status[15] = {'S', 'N', 0, 'X', 1, 2};
    for (int length = 1; length < 15; ++length) EXPECT_EQ(ResponseHandling(status, length), status) << "cut at " << length;
    EXPECT_EQ(ResponseHandling(status, 15), status + 15) << "its content is never read as replies";
    unsigned char cut[] = {'X', 2, 3, 'N', 0};
    EXPECT_EQ(ResponseHandling(cut, 1), cut);
    EXPECT_EQ(ResponseHandling(cut, 2), cut);
    EXPECT_EQ(ResponseHandling(cut + 3, 1), cut + 3);
    unsigned char stray[] = {0x00, 0xFF, 'N', 0};
    EXPECT_EQ(ResponseHandling(stray, 4), stray + 1);
    EXPECT_EQ(ResponseHandling(stray + 1, 3), stray + 2);
    EXPECT_FALSE(SendSignalled());
    EXPECT_EQ(ResponseHandling(stray + 2, 2), stray + 4);
    EXPECT_TRUE(SendSignalled());
    unsigned char last[] = {'X', 0, 1};
    EXPECT_EQ(ResponseHandling(last, 3), last + 3);
    EXPECT_EQ(Delays(1), std::vector<int>{5}) << "no delay came before this one";
}

// A reply cut by the end of one read is completed by the next.
TEST_F(ReplyParsing, ReadsAreJoinedAcrossCuts) {
    unsigned char buffer[64] = {'N', 0, 'X', 2};
    EXPECT_EQ(DispatchReplies(buffer, 4), 2);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{'X', 2}));
    EXPECT_TRUE(SendSignalled());
    buffer[2] = 3;
    buffer[3] = 'N';
    EXPECT_EQ(DispatchReplies(buffer, 4), 1);
    EXPECT_EQ(Delays(1), std::vector<int>{1015});
    EXPECT_FALSE(SendSignalled()) << "a request without its second byte waits";
    buffer[1] = 0;
    EXPECT_EQ(DispatchReplies(buffer, 2), 0);
    EXPECT_TRUE(SendSignalled());
}
