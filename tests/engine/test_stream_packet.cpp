// The wire side of a run, byte by byte: the set-up command, bit planes, and the parser of
// the device's replies, including replies cut across reads.

#include "engine/stream_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <vector>

#include "device/protocol.h"
#include "engine/output_stream.h"
#include "engine/output_threads.h"
#include "engine/sample_store.h"
#include "tavo/tavo_ext.h"

namespace {

using Codes = std::array<int, 8>;

std::mutex g_delayMutex;
std::vector<int> g_delays;
void CollectDelay(int delay) {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    g_delays.push_back(delay);
}
std::vector<int> Delays() {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    return g_delays;
}

}  // namespace

// Reload values worked by hand: trunc(65536 - 6000000 / rate + 79 or 12); base 59536 for kind 4.
TEST(OutputSetup, ReloadAndRangeBytes) {
    struct Case {
        int kind;
        uint32_t rate;
        int isNewer;
        double range;
        std::array<unsigned char, 4> bytes;
    };
    for (const Case& c : {Case{WaveformFixedChannels, 1000, 0, 5.0, {0x00, 0xE8, 0x9C, 5}},
                          Case{WaveformFixedChannels, 1000, 1, 5.0, {0x00, 0xE8, 0xDF, 5}},
                          Case{WaveformMIT, 360, 0, 2.5, {0x00, 0xBE, 0xF1, 2}},  // 48881
                          Case{WaveformMIT, 500, 1, 10.0, {0x00, 0xD1, 0x6F, 10}},  // 53615
                          Case{WaveformKestrane, 360, 0, 5.0, {0x00, 0xE8, 0x9C, 5}},
                          Case{WaveformKestrane, 250, 1, 4.999, {0x00, 0xE8, 0xDF, 5}},
                          Case{WaveformSine, 1000, 0, 0.5, {0x00, 0xE8, 0x9C, 0}},
                          Case{WaveformFixedChannels, 1000, 0, 300.0, {0x00, 0xE8, 0x9C, 44}}}) {
        g_WaveformType = c.kind;
        g_nSampleRate = c.rate;
        g_bIsISPSupported = c.isNewer;
        g_fVoltageRange = c.range;
        std::array<unsigned char, 4> command{};
        ASSERT_TRUE(BuildOutputSetup(command.data())) << "rate " << c.rate;
        EXPECT_EQ(command, c.bytes) << "kind " << c.kind << " rate " << c.rate << " range " << c.range;
    }
}

TEST(OutputSetup, RatesWithoutAReloadValueAreRefused) {
    g_WaveformType = WaveformMIT;
    g_bIsISPSupported = 0;
    for (uint32_t rate : {0u, 50u, 91u, 7000000u}) {
        g_nSampleRate = rate;
        std::array<unsigned char, 4> command{9, 9, 9, 9};
        EXPECT_FALSE(BuildOutputSetup(command.data())) << rate;
        EXPECT_EQ(command, (std::array<unsigned char, 4>{9, 9, 9, 9})) << "left alone";
    }
    g_nSampleRate = 92;  // 65536 - 65217.39 + 12 = 330
    std::array<unsigned char, 4> command{};
    ASSERT_TRUE(BuildOutputSetup(command.data()));
    EXPECT_EQ(command[1] << 8 | command[2], 330);
}

// Bit planes worked by hand: byte i holds bit (width-1-i) of the eight codes, channel c in bit c.
TEST(StreamPacket, EncodesBitPlanesMostSignificantFirst) {
    struct Case {
        Codes frame;
        int width;
        std::vector<unsigned char> bytes;
    };
    const std::vector<Case> cases = {
        {{0xFFF, 0, 0, 0, 0, 0, 0, 0}, 12, std::vector<unsigned char>(12, 0x01)},
        {{0, 0, 0, 0, 0, 0, 0, 0x800}, 12, {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{1, 2, 0, 0, 0, 0, 0, 0xFFFF}, 12, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x82, 0x81}},
        {{0, 0, 0, 0x8001, 0, 0, 0, 0}, 16, {0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08}},
        {{0xFFFF, 0, 0, 0, 0, 0, 0x4000, 0}, 16, {0x01, 0x41, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                                                  0x01, 0x01, 0x01, 0x01}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out(static_cast<size_t>(c.width), 0xEE);
        EncodeSample(c.frame.data(), c.width, out.data());
        EXPECT_EQ(out, c.bytes) << "width " << c.width << ", channel 0 code " << c.frame[0];
    }
}

// "N" is two bytes, "X" three, "S" fifteen; delay = (byte 1 x 100 + byte 2) x 5.
TEST(ReplyParsing, TwoRequestsAndADelayInOneRead) {
    g_hSendEvent.ResetEvent();
    g_delays.clear();
    g_OutputDelayCB = CollectDelay;
    unsigned char read[] = {'N', 0x00, 'N', 0x07, 'X', 2, 3};
    unsigned char* at = ResponseHandling(read, 7);
    EXPECT_EQ(at, read + 2);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitSignalled);
    at = ResponseHandling(at, 5);
    EXPECT_EQ(at, read + 4);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitSignalled) << "the second request signals again";
    at = ResponseHandling(at, 3);
    EXPECT_EQ(at, read + 7);
    EXPECT_EQ(Delays(), std::vector<int>{1015});
    g_OutputDelayCB = nullptr;
}

TEST(ReplyParsing, DelayValuesAndSilentZero) {
    g_OutputDelayCB = CollectDelay;
    g_delays.clear();
    for (std::array<unsigned char, 3> reply : {std::array<unsigned char, 3>{'X', 0, 0}, {'X', 0, 1}, {'X', 255, 255},
                                               {'X', 1, 0}}) {
        EXPECT_EQ(ResponseHandling(reply.data(), 3), reply.data() + 3);
    }
    EXPECT_EQ(Delays(), (std::vector<int>{5, 128775, 500})) << "a zero delay is not reported";
    g_OutputDelayCB = nullptr;
}

TEST(ReplyParsing, CutRepliesWaitForTheirRestAndStrayBytesAreSkipped) {
    g_OutputDelayCB = CollectDelay;
    g_delays.clear();
    g_hSendEvent.ResetEvent();
    unsigned char status[15] = {'S', 'N', 0, 'X', 1, 2};
    for (int length = 1; length < 15; ++length) {
        EXPECT_EQ(ResponseHandling(status, length), status) << "status cut at " << length;
    }
    EXPECT_EQ(ResponseHandling(status, 15), status + 15) << "its content is never read as replies";
    unsigned char cut[] = {'X', 2, 3, 'N', 0};
    EXPECT_EQ(ResponseHandling(cut, 1), cut);
    EXPECT_EQ(ResponseHandling(cut, 2), cut);
    EXPECT_EQ(ResponseHandling(cut + 3, 1), cut + 3);
    unsigned char stray[] = {0x00, 0xFF, 'N', 0};
    EXPECT_EQ(ResponseHandling(stray, 4), stray + 1);
    EXPECT_EQ(ResponseHandling(stray + 1, 3), stray + 2);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitTimedOut);
    EXPECT_EQ(ResponseHandling(stray + 2, 2), stray + 4);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitSignalled);
    EXPECT_TRUE(Delays().empty());
    g_OutputDelayCB = nullptr;
}

// A reply cut by the end of one read is completed by the next.
TEST(ReplyParsing, ReadsAreJoinedAcrossCuts) {
    g_OutputDelayCB = CollectDelay;
    g_delays.clear();
    g_hSendEvent.ResetEvent();
    unsigned char buffer[64] = {'N', 0, 'X', 2};
    int kept = DispatchReplies(buffer, 4);
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(buffer[1], 2);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitSignalled);
    buffer[2] = 3;
    buffer[3] = 'N';
    kept = DispatchReplies(buffer, 4);
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(Delays(), std::vector<int>{1015});
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitTimedOut) << "a request without its second byte waits";
    buffer[1] = 0;
    EXPECT_EQ(DispatchReplies(buffer, 2), 0);
    EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0), kWaitSignalled);
    g_OutputDelayCB = nullptr;
}
