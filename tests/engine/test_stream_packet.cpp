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

// Successive reads: "N" is two bytes, "X" three, "S" fifteen whose content is never read as
// replies; a cut reply waits for the rest of it, stray bytes are skipped one at a time.
// Delay = (byte 1 x 100 + byte 2) x 5; zero is not reported.
TEST(ReplyParsing, ReadsAreSplitIntoRepliesAcrossCuts) {
    g_OutputDelayCB = CollectDelay;
    struct Read { Bytes bytes; int kept; bool isRequest; };
    const Read reads[] = {{{'N', 0x00, 'N', 0x07}, 0, true},
                          {{'X', 2, 3, 'X', 0, 0, 'X', 0, 1, 'X', 255, 255, 'X', 1, 0}, 0, false},
                          {{'S', 'N', 0, 'X', 1, 2}, 6, false}, {Bytes(9, 0), 0, false},
                          {{'X', 2}, 2, false}, {{3, 'N'}, 1, false}, {{0}, 0, true},
                          {{0x00, 0xFF, 'N'}, 1, false}, {{0}, 0, true}};
    unsigned char buffer[64];
    int kept = 0;
    for (const Read& read : reads) {
        std::copy(read.bytes.begin(), read.bytes.end(), buffer + kept);
        kept = DispatchReplies(buffer, kept + static_cast<int>(read.bytes.size()));
        EXPECT_EQ(kept, read.kept) << "read starting " << int(read.bytes[0]);
        EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0) == kWaitSignalled, read.isRequest) << int(read.bytes[0]);
    }
    EXPECT_EQ(Delays(5), (std::vector<int>{1015, 5, 128775, 500, 1015}));
    EXPECT_EQ(ResponseHandling(buffer, 0), buffer);
}
