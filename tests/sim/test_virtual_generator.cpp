// The virtual generator seen from the host side of its pty: packet checks, bit-plane
// decoding, requests, pacing, faults and the record it writes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/monotonic_clock.h"
#include "sim/sim_packet.h"
#include "sim/virtual_generator.h"
#include "support/test_support.h"

namespace {

using sim::Frame;

// The host end: the node opened raw, as the driver would.
class CHost {
public:
    explicit CHost(const std::string& node) {
        m_fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios settings{};
        if (m_fd >= 0 && tcgetattr(m_fd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~CHost() {
        if (m_fd >= 0) close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    void Send(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            pollfd entry{m_fd, POLLOUT, 0};
            poll(&entry, 1, 5000);
            const ssize_t put = write(m_fd, bytes.data() + sent, bytes.size() - sent);
            if (put > 0) sent += static_cast<size_t>(put);
            if (put < 0 && errno != EAGAIN && errno != EINTR) return;
        }
    }
    // Up to count bytes, waiting at most timeoutMs overall. An empty result on hang-up.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 5000) {
        std::vector<uint8_t> bytes;
        const int64_t deadline = MonotonicNanoseconds() + int64_t{timeoutMs} * 1000000;
        while (bytes.size() < count) {
            const int64_t left = (deadline - MonotonicNanoseconds()) / 1000000;
            if (left <= 0) break;
            pollfd entry{m_fd, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left)) <= 0) break;
            uint8_t chunk[256];
            const ssize_t got = read(m_fd, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got <= 0 && !(got < 0 && errno == EAGAIN)) break;
            if (got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

VirtualGeneratorOptions OptionsIn(const CTempDir& dir) {
    VirtualGeneratorOptions options;
    options.deviceDirectory = dir.Path();
    return options;
}

// Set-up for 1000 samples per second on a newer device: 65536 - 6000 + 79 = 59615.
const std::vector<uint8_t> kSetup1000 = {0x00, 0xE8, 0xDF, 0x05};

// The test's own encoder, used only for bulk; single samples below are written out by hand.
std::vector<uint8_t> BuildPacket(uint8_t& sequence, const std::vector<Frame>& frames, bool is16Bit) {
    const size_t bits = is16Bit ? 16 : 12;
    const size_t perBlock = is16Bit ? 3 : 5;
    std::vector<uint8_t> packet(3200, 0);
    for (size_t block = 0; block < 50; ++block) {
        uint8_t* b = &packet[block * 64];
        b[0] = 0x01;
        b[1] = sequence++;
        for (size_t s = 0; s < perBlock; ++s) {
            const size_t index = block * perBlock + s;
            if (index >= frames.size()) continue;
            for (size_t plane = 0; plane < bits; ++plane) {
                for (size_t channel = 0; channel < 8; ++channel) {
                    if ((frames[index][channel] >> (bits - 1 - plane)) & 1) b[4 + s * bits + plane] |= 1 << channel;
                }
            }
        }
    }
    packet[322] = 0x45;
    return packet;
}

std::vector<uint8_t> EmptyPacket(uint8_t& sequence) { return BuildPacket(sequence, {}, false); }

bool WaitPackets(const VirtualGenerator& generator, uint64_t packets) {
    return generator.WaitUntil([&](const VirtualGeneratorStatistics& s) { return s.packets >= packets; }, 5000);
}

}  // namespace

// Worked by hand: channel 0 = 0xFFF alone is twelve bytes 0x01; channel 7 = 0x800 alone is 0x80 then eleven 0x00.
TEST(VirtualGenerator, DecodesHandWorkedTwelveBitSamples) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    ASSERT_TRUE(host.IsOpen());
    std::vector<uint8_t> packet(3200, 0);
    for (size_t block = 0; block < 50; ++block) {
        packet[block * 64] = 0x01;
        packet[block * 64 + 1] = static_cast<uint8_t>(block);
    }
    for (size_t i = 0; i < 12; ++i) packet[4 + i] = 0x01;
    packet[16] = 0x80;
    packet[322] = 0x45;
    host.Send(kSetup1000);
    host.Send(packet);
    EXPECT_EQ(host.Read(2), (std::vector<uint8_t>{'N', 0x00})) << "fast: asks at once";

    const VirtualGeneratorStatistics stats = generator.Statistics();
    EXPECT_EQ(stats.packets, 1u);
    EXPECT_EQ(stats.samples, 250u);
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.blockMarkerErrors + stats.check.markerByteErrors +
                  stats.check.formatErrors,
              0u);
    EXPECT_EQ(stats.reload, 59615);
    EXPECT_EQ(stats.range, 5);
    EXPECT_DOUBLE_EQ(stats.sampleRate, 1000.0);
    const std::vector<Frame> frames = generator.Frames();
    ASSERT_EQ(frames.size(), 250u);
    EXPECT_EQ(frames[0], (Frame{0xFFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(frames[1], (Frame{0, 0, 0, 0, 0, 0, 0, 0x800}));
    EXPECT_EQ(frames[2], Frame{});
    EXPECT_EQ(generator.Statistics().commands, std::vector<std::vector<uint8_t>>{kSetup1000});
}

TEST(VirtualGenerator, DecodesSixteenBitSamplesAndChecksTheUnusedBytes) {
    CTempDir dir;
    VirtualGeneratorOptions options = OptionsIn(dir);
    options.has16BitDac = true;
    VirtualGenerator generator(options);
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    std::vector<uint8_t> packet = BuildPacket(sequence, {}, true);
    packet[4] = 0x08;  // channel 3 = 0x8001: the first and the last of sixteen planes
    packet[19] = 0x08;
    packet[64 + 52] = 0x01;  // bytes 52-63 of a 16-bit block must stay 0
    host.Send(packet);
    ASSERT_TRUE(WaitPackets(generator, 1));
    const VirtualGeneratorStatistics stats = generator.Statistics();
    EXPECT_EQ(stats.samples, 150u);
    EXPECT_EQ(stats.check.formatErrors, 1u);
    EXPECT_EQ(generator.Frames()[0], (Frame{0, 0, 0, 0x8001, 0, 0, 0, 0}));
}

TEST(VirtualGenerator, SequenceNumbersRunOnAcrossPacketsAndWrap) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    std::vector<uint8_t> firstBytes;
    for (int i = 0; i < 7; ++i) {
        const std::vector<uint8_t> packet = EmptyPacket(sequence);
        firstBytes.push_back(packet[1]);
        host.Send(packet);
    }
    EXPECT_EQ(firstBytes[1], 50);
    EXPECT_EQ(firstBytes[5], 250);
    EXPECT_EQ(firstBytes[6], 44);
    ASSERT_TRUE(WaitPackets(generator, 7));
    EXPECT_EQ(generator.Statistics().check.sequenceErrors, 0u);

    std::vector<uint8_t> slipped = EmptyPacket(sequence);
    for (size_t block = 10; block < 50; ++block) ++slipped[block * 64 + 1];  // a block lost before block 10
    host.Send(slipped);
    ASSERT_TRUE(WaitPackets(generator, 8));
    EXPECT_EQ(generator.Statistics().check.sequenceErrors, 1u) << "one slip, counted once";

    host.Send(kSetup1000);  // a new run numbers from 0 again
    uint8_t fresh = 0;
    host.Send(EmptyPacket(fresh));
    ASSERT_TRUE(WaitPackets(generator, 9));
    EXPECT_EQ(generator.Statistics().check.sequenceErrors, 1u);
}

TEST(VirtualGenerator, FlagsMarkersThatAreWrong) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    std::vector<uint8_t> packet = EmptyPacket(sequence);
    packet[322] = 0x00;
    packet[3 * 64] = 0x02;
    packet[7 * 64 + 3] = 0x10;
    host.Send(packet);
    ASSERT_TRUE(WaitPackets(generator, 1));
    const sim::PacketCheck check = generator.Statistics().check;
    EXPECT_EQ(check.markerByteErrors, 1u);
    EXPECT_EQ(check.blockMarkerErrors, 1u);
    EXPECT_EQ(check.formatErrors, 1u);
}

TEST(VirtualGenerator, StalledDeviceStopsAsking) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    host.Send(EmptyPacket(sequence));
    EXPECT_EQ(host.Read(2), (std::vector<uint8_t>{'N', 0}));
    generator.SetStalled(true);
    host.Send(EmptyPacket(sequence));
    ASSERT_TRUE(WaitPackets(generator, 2));
    EXPECT_EQ(generator.Statistics().requestsSent, 1u);
    generator.InjectReply({'Q'});  // whatever comes next must be this, not a late request
    EXPECT_EQ(host.Read(1), std::vector<uint8_t>{'Q'});
}

TEST(VirtualGenerator, DelayAndStatusReportsFollowPackets) {
    CTempDir dir;
    VirtualGeneratorOptions options = OptionsIn(dir);
    options.delayReportEvery = 1;
    options.delayBytes = {2, 3};
    options.statusReplyEvery = 2;
    VirtualGenerator generator(options);
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    host.Send(EmptyPacket(sequence));
    EXPECT_EQ(host.Read(5), (std::vector<uint8_t>{'X', 2, 3, 'N', 0}));
    host.Send(EmptyPacket(sequence));
    std::vector<uint8_t> expected = {'X', 2, 3, 'S'};
    expected.resize(3 + 15, 0);
    expected.push_back('N');
    expected.push_back(0);
    EXPECT_EQ(host.Read(expected.size()), expected);
}

TEST(VirtualGenerator, PacedDeviceBuffersAFewPacketsAndCountsUnderruns) {
    CTempDir dir;
    VirtualGeneratorOptions options = OptionsIn(dir);
    options.isPaced = true;
    options.bufferPackets = 3;
    VirtualGenerator generator(options);
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    for (int i = 0; i < 6; ++i) {
        host.Send(EmptyPacket(sequence));
        ASSERT_EQ(host.Read(2), (std::vector<uint8_t>{'N', 0})) << "packet " << i;
    }
    const VirtualGeneratorStatistics playing = generator.Statistics();
    EXPECT_TRUE(playing.isPlaying || playing.underruns > 0);
    EXPECT_LE(playing.requestsSent, playing.packets) << "never more than one request outstanding";
    // The host sends nothing more: the buffer runs dry while playing.
    ASSERT_TRUE(generator.WaitUntil([](const auto& s) { return s.underruns >= 1; }, 10000));
    EXPECT_FALSE(generator.Statistics().isPlaying);

    host.Send(EmptyPacket(sequence));
    EXPECT_EQ(host.Read(2), (std::vector<uint8_t>{'N', 0})) << "a packet restarts play";
    host.Send({'S'});
    ASSERT_TRUE(generator.WaitUntil([](const auto& s) { return !s.isPlaying; }, 5000));
    const uint64_t underruns = generator.Statistics().underruns;
    EXPECT_EQ(host.Read(2, 300).size(), 0u) << "a stopped device asks for nothing";
    EXPECT_EQ(generator.Statistics().underruns, underruns) << "running dry after a stop is no underrun";
}

TEST(VirtualGenerator, UnplugsAfterSomePacketsAndComesBack) {
    CTempDir dir;
    VirtualGeneratorOptions options = OptionsIn(dir);
    options.unplugAfterPackets = 2;
    VirtualGenerator generator(options);
    ASSERT_TRUE(generator.Start());
    {
        CHost host(generator.NodePath());
        host.Send(kSetup1000);
        uint8_t sequence = 0;
        host.Send(EmptyPacket(sequence));
        EXPECT_EQ(host.Read(2).size(), 2u);
        host.Send(EmptyPacket(sequence));
        ASSERT_TRUE(generator.WaitUntil([](const auto& s) { return !s.isPlugged; }, 5000));
        EXPECT_FALSE(FileExists(generator.NodePath()));
        EXPECT_TRUE(host.Read(2, 1000).empty()) << "hung up";
        EXPECT_EQ(generator.Statistics().unplugs, 1u);
    }
    ASSERT_TRUE(generator.Replug());
    CHost again(generator.NodePath());
    ASSERT_TRUE(again.IsOpen());
    again.Send({0xAA});
    EXPECT_EQ(again.Read(5), (std::vector<uint8_t>{'T', 'A', '2', '0', 0}));
    generator.Stop();
    EXPECT_FALSE(FileExists(generator.NodePath())) << "Stop removes the node";
}

TEST(VirtualGenerator, StaticValueMustBeOneCodeForAllChannels) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    std::vector<uint8_t> command(64, 0);
    command[0] = 0x09;
    command[1] = 0x01;
    command[4] = 0x0F;  // only channels 0-3 have bit 11
    host.Send(command);
    ASSERT_TRUE(generator.WaitUntil([](const auto& s) { return s.commands.size() == 1; }, 5000));
    EXPECT_EQ(generator.Statistics().lastStaticCode, -1);
}

TEST(VirtualGenerator, CodesBackToMillivolts) {
    struct Case {
        uint16_t code;
        bool is16Bit;
        double range;
        double millivolts;
    };
    for (const Case& c : {Case{2048, false, 5, 0}, Case{4095, false, 5, 5.1175}, Case{0, false, 5, -5.12},
                          Case{3048, false, 2.5, 1.25}, Case{32768, true, 5, 0}, Case{65535, true, 5, 5.11984375},
                          Case{0, true, 10, -10.24}}) {
        EXPECT_DOUBLE_EQ(sim::CodeToMillivolts(c.code, c.is16Bit, c.range), c.millivolts) << c.code;
    }
}

// Checksums worked by hand: channel 0 holds 2047 once and -2048 249 times, which sums to
// -507905, or 16383 modulo 65536; the other channels follow the same way.
TEST(VirtualGenerator, WritesWhatItPlayedAsAWfdbRecord) {
    CTempDir dir;
    VirtualGenerator generator(OptionsIn(dir));
    ASSERT_TRUE(generator.Start());
    CHost host(generator.NodePath());
    host.Send(kSetup1000);
    uint8_t sequence = 0;
    host.Send(BuildPacket(sequence, {Frame{0xFFF, 0, 0, 0, 0, 0, 0, 0}, Frame{0, 0, 0, 0, 0, 0, 0, 0x800}}, false));
    ASSERT_TRUE(WaitPackets(generator, 1));
    ASSERT_TRUE(generator.WriteRecord(dir.Path(), "played"));

    std::string expected = "played 8 1000 250\n";
    const char* labels[] = {"I", "II", "V6", "V5", "V4", "V3", "V2", "V1"};
    for (int channel = 0; channel < 8; ++channel) {
        const int first = channel == 0 ? 2047 : -2048;
        const int checksum = channel == 0 ? 16383 : channel == 7 ? 14336 : 12288;
        expected += "played.dat 16 400(0)/mV 16 0 " + std::to_string(first) + " " + std::to_string(checksum) +
                    " 0 " + labels[channel] + "\n";
    }
    const std::vector<unsigned char> header = ReadWholeFile(dir.File("played.hea"));
    EXPECT_EQ(std::string(header.begin(), header.end()), expected);
    const std::vector<unsigned char> data = ReadWholeFile(dir.File("played.dat"));
    ASSERT_EQ(data.size(), 250u * 16);
    EXPECT_EQ(data[0], 0xFF);  // 2047, little-endian
    EXPECT_EQ(data[1], 0x07);
    EXPECT_EQ(data[2], 0x00);  // -2048
    EXPECT_EQ(data[3], 0xF8);
    EXPECT_EQ(data[16 + 14], 0x00);  // channel 7 of the second frame: 0x800 is mid-scale, 0
    EXPECT_EQ(data[16 + 15], 0x00);
}

TEST(VirtualGenerator, RefusesATakenNodeName) {
    CTempDir dir;
    WriteTextFile(dir.File("ttyACM0"), "someone else's");
    VirtualGenerator generator(OptionsIn(dir));
    EXPECT_FALSE(generator.Start());
    EXPECT_EQ(ReadWholeFile(dir.File("ttyACM0")).size(), 14u) << "left as it was";
}
