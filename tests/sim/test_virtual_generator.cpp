// The virtual generator seen from the host side of its pty: packet checks, bit-plane
// decoding, requests, pacing, faults and the record it writes.

#include "sim/virtual_generator.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "support/test_support.h"

namespace {

using sim::Frame;
using Bytes = std::vector<uint8_t>;

// Set-up for 1000 samples per second on a newer device: 65536 - 6000 + 79 = 59615.
const Bytes kSetup1000 = {0x00, 0xE8, 0xDF, 0x05};
const Bytes kRequest = {'N', 0};
const Bytes kIdentity = {'T', 'A', '2', '0', 0};

// The test's own encoder, used only for bulk; single samples below are written out by hand.
Bytes BuildPacket(uint8_t& sequence, const std::vector<Frame>& frames = {}, bool is16Bit = false) {
    const size_t bits = is16Bit ? 16 : 12, perBlock = is16Bit ? 3 : 5;
    Bytes packet(3200, 0);
    for (size_t block = 0; block < 50; ++block) {
        uint8_t* b = &packet[block * 64];
        b[0] = 0x01;
        b[1] = sequence++;
        for (size_t s = 0; s < perBlock && block * perBlock + s < frames.size(); ++s)
            for (size_t plane = 0; plane < bits; ++plane)
                for (size_t channel = 0; channel < 8; ++channel)
                    if ((frames[block * perBlock + s][channel] >> (bits - 1 - plane)) & 1) b[4 + s * bits + plane] |= 1 << channel;
    }
    packet[322] = 0x45;
    return packet;
}

// A generator in a private directory, and the host end of its node opened raw as the driver would.
class VirtualGeneratorTest : public ::testing::Test {
protected:
    void Start(const std::function<void(VirtualGeneratorOptions&)>& adjust = nullptr, bool isRaw = true) {
        VirtualGeneratorOptions options;
        options.deviceDirectory = m_dir.Path();
        if (adjust) adjust(options);
        m_generator = std::make_unique<VirtualGenerator>(options);
        ASSERT_TRUE(m_generator->Start());
        Open(isRaw);
    }
    // Opens the node and sets it raw unless asked not to; m_wasCooked tells how it was found.
    void Open(bool isRaw = true) {
        if (m_fd >= 0) close(m_fd);
        m_fd = open(m_generator->NodePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios settings{};
        ASSERT_EQ(tcgetattr(m_fd, &settings), 0);
        m_wasCooked = (settings.c_lflag & ICANON) != 0;
        cfmakeraw(&settings);
        if (isRaw) tcsetattr(m_fd, TCSANOW, &settings);
    }
    // Every test here keeps to the protocol unless it says otherwise.
    void TearDown() override {
        close(m_fd);
        EXPECT_EQ(m_generator ? Stats().violations.Total() : 0, m_expectedViolations);
    }
    void Send(const Bytes& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            pollfd entry{m_fd, POLLOUT, 0};
            poll(&entry, 1, 5000);
            const ssize_t put = write(m_fd, bytes.data() + sent, bytes.size() - sent);
            if (put < 0 && errno != EAGAIN && errno != EINTR) return;
            sent += put > 0 ? static_cast<size_t>(put) : 0;
        }
    }
    // Up to count bytes within timeoutMs in all (generous; only silence waits it out). Short on hang-up.
    Bytes Read(size_t count, int timeoutMs = 5000) {
        Bytes bytes;
        pollfd entry{m_fd, POLLIN, 0};
        for (uint8_t byte; bytes.size() < count && poll(&entry, 1, timeoutMs) == 1;) {
            const ssize_t got = read(m_fd, &byte, 1);
            if (got == 1) bytes.push_back(byte);
            else if (!(got < 0 && errno == EAGAIN)) break;
        }
        return bytes;
    }
    bool WaitPackets(uint64_t packets) {
        return m_generator->WaitUntil([&](const VirtualGeneratorStatistics& s) { return s.packets >= packets; }, 5000);
    }
    VirtualGeneratorStatistics Stats() const { return m_generator->Statistics(); }

    CTempDir m_dir;
    std::unique_ptr<VirtualGenerator> m_generator;
    int m_fd = -1;
    uint8_t m_sequence = 0;
    uint64_t m_expectedViolations = 0;
    bool m_wasCooked = false;
};

}  // namespace

// Worked by hand: channel 0 = 0xFFF alone is twelve bytes 0x01; channel 7 = 0x800 alone is 0x80 then eleven 0x00.
TEST_F(VirtualGeneratorTest, DecodesHandWorkedTwelveBitSamples) {
    Start();
    Bytes packet(3200, 0);
    for (size_t block = 0; block < 50; ++block) {
        packet[block * 64] = 0x01;
        packet[block * 64 + 1] = static_cast<uint8_t>(block);
    }
    std::fill(packet.begin() + 4, packet.begin() + 16, 0x01);
    packet[16] = 0x80;
    packet[322] = 0x45;
    Send(kSetup1000);
    Send(packet);
    EXPECT_EQ(Read(2), kRequest) << "fast: asks at once";
    const VirtualGeneratorStatistics stats = Stats();
    EXPECT_EQ(std::make_tuple(stats.packets, stats.samples, stats.reload, stats.range, stats.sampleRate),
              std::make_tuple(uint64_t{1}, uint64_t{250}, uint16_t{59615}, uint8_t{5}, 1000.0));
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.blockMarkerErrors + stats.check.markerByteErrors + stats.check.formatErrors, 0u);
    const std::vector<Frame> frames = m_generator->Frames();
    ASSERT_EQ(frames.size(), 250u);
    EXPECT_EQ(frames[0], (Frame{0xFFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(frames[1], (Frame{0, 0, 0, 0, 0, 0, 0, 0x800}));
    EXPECT_EQ(frames[2], Frame{});
    EXPECT_EQ(stats.commands, std::vector<Bytes>{kSetup1000});
    Bytes staticValue(64, 0);
    staticValue[0] = 0x09;
    staticValue[1] = 0x01;
    staticValue[4] = 0x0F;  // only channels 0-3 have bit 11: not one code for all channels
    Send({'S'});
    Send(staticValue);
    ASSERT_TRUE(m_generator->WaitUntil([](const auto& s) { return s.commands.size() == 3; }, 5000));
    EXPECT_EQ(Stats().lastStaticCode, -1);
}

TEST_F(VirtualGeneratorTest, DecodesSixteenBitSamplesAndFlagsWrongMarkers) {
    Start([](VirtualGeneratorOptions& o) { o.has16BitDac = true; });
    Send(kSetup1000);
    Bytes packet = BuildPacket(m_sequence, {}, true);
    packet[4] = packet[19] = 0x08;  // channel 3 = 0x8001: the first and the last of sixteen planes
    packet[64 + 52] = 0x01;         // bytes 52-63 of a 16-bit block must stay 0
    Send(packet);
    packet = BuildPacket(m_sequence, {}, true);
    packet[322] = 0x00;
    packet[3 * 64] = 0x02;
    packet[7 * 64 + 3] = 0x10;
    Send(packet);
    ASSERT_TRUE(WaitPackets(2));
    const sim::PacketCheck check = Stats().check;
    EXPECT_EQ(Stats().samples, 300u);
    EXPECT_EQ(std::make_tuple(check.markerByteErrors, check.blockMarkerErrors, check.formatErrors), std::make_tuple(1u, 1u, 2u));
    EXPECT_EQ(m_generator->Frames()[0], (Frame{0, 0, 0, 0x8001, 0, 0, 0, 0}));
}

TEST_F(VirtualGeneratorTest, SequenceNumbersRunOnAcrossPacketsAndWrap) {
    Start();
    Send(kSetup1000);
    Bytes firstBytes;
    for (int i = 0; i < 7; ++i) {
        const Bytes packet = BuildPacket(m_sequence);
        firstBytes.push_back(packet[1]);
        Send(packet);
    }
    EXPECT_EQ(firstBytes, (Bytes{0, 50, 100, 150, 200, 250, 44}));
    ASSERT_TRUE(WaitPackets(7));
    EXPECT_EQ(Stats().check.sequenceErrors, 0u);
    Bytes slipped = BuildPacket(m_sequence);
    for (size_t block = 10; block < 50; ++block) ++slipped[block * 64 + 1];  // a block lost before block 10
    Send(slipped);
    ASSERT_TRUE(WaitPackets(8));
    EXPECT_EQ(Stats().check.sequenceErrors, 1u) << "one slip, counted once";
    Send({'S'});
    Send(kSetup1000);  // a new run numbers from 0 again
    m_sequence = 0;
    Send(BuildPacket(m_sequence));
    ASSERT_TRUE(WaitPackets(9));
    EXPECT_EQ(Stats().check.sequenceErrors, 1u);
}

TEST_F(VirtualGeneratorTest, StalledDeviceStopsAsking) {
    Start();
    Send(kSetup1000);
    Send(BuildPacket(m_sequence));
    EXPECT_EQ(Read(2), kRequest);
    m_generator->SetStalled(true);
    Send(BuildPacket(m_sequence));
    ASSERT_TRUE(WaitPackets(2));
    EXPECT_EQ(Stats().requestsSent, 1u);
    m_generator->InjectReply({'Q'});  // whatever comes next must be this, not a late request
    EXPECT_EQ(Read(1), Bytes{'Q'});
}

TEST_F(VirtualGeneratorTest, DelayAndStatusReportsFollowPackets) {
    Start([](VirtualGeneratorOptions& o) { o.delayReportEvery = 1, o.delayBytes = {2, 3}, o.statusReplyEvery = 2; });
    Send(kSetup1000);
    Send(BuildPacket(m_sequence));
    EXPECT_EQ(Read(5), (Bytes{'X', 2, 3, 'N', 0}));
    Send(BuildPacket(m_sequence));
    Bytes expected = {'X', 2, 3, 'S'};
    expected.resize(3 + 15, 0);
    expected.insert(expected.end(), kRequest.begin(), kRequest.end());
    EXPECT_EQ(Read(expected.size()), expected);
}

// The buffer's arithmetic is the pacer's (tested below); here, that the line follows it.
TEST_F(VirtualGeneratorTest, PacedDeviceAsksAsItPlaysAndCountsUnderruns) {
    Start([](VirtualGeneratorOptions& o) { o.isPaced = true, o.bufferPackets = 3; });
    Send(kSetup1000);
    for (int i = 0; i < 3; ++i) {
        Send(BuildPacket(m_sequence));
        ASSERT_EQ(Read(2), kRequest) << "packet " << i;
    }
    // The host sends nothing more: the buffer runs dry while playing.
    ASSERT_TRUE(m_generator->WaitUntil([](const auto& s) { return s.underruns == 1 && !s.isPlaying; }, 10000));
    Send({'S'});
    EXPECT_EQ(Read(2, 300).size(), 0u) << "a stopped device asks for nothing";
}

TEST_F(VirtualGeneratorTest, UnplugsAfterSomePacketsAndComesBack) {
    Start([](VirtualGeneratorOptions& o) { o.unplugAfterPackets = 2; });
    Send(kSetup1000);
    Send(BuildPacket(m_sequence));
    EXPECT_EQ(Read(2), kRequest);
    Send(BuildPacket(m_sequence));
    ASSERT_TRUE(m_generator->WaitUntil([](const auto& s) { return !s.isPlugged; }, 5000));
    EXPECT_FALSE(FileExists(m_generator->NodePath()));
    EXPECT_TRUE(Read(2, 1000).empty()) << "hung up";
    EXPECT_EQ(Stats().unplugs, 1u);
    ASSERT_TRUE(m_generator->Replug());
    Open();
    Send({0xAA});
    EXPECT_EQ(Read(5), kIdentity);
    m_generator->UnplugFor(200);
    EXPECT_FALSE(FileExists(m_generator->NodePath())) << "gone at once";
    ASSERT_TRUE(m_generator->WaitUntil([](const auto& s) { return s.isPlugged; }, 5000));
    Open();
    EXPECT_TRUE(m_wasCooked) << "a new line, cooked again";
    Send({0xAA});
    EXPECT_EQ(Read(5), kIdentity) << "back under the same name";
    EXPECT_EQ(Stats().unplugs, 2u);
    m_generator->Stop();
    EXPECT_FALSE(FileExists(m_generator->NodePath())) << "Stop removes the node";
}

// Each row is sent at once, then an identify whose reply shows that all before it was taken.
TEST_F(VirtualGeneratorTest, CountsWhatTheProtocolForbids) {
    uint8_t sequence = 0;
    const Bytes packet = BuildPacket(sequence);
    Bytes staticValue(64, 0);
    staticValue[0] = 0x09;
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case { const char* what; Bytes bytes; size_t replyBytes; ProtocolViolations expected; };
    for (const Case& c : {Case{"a run", join({kSetup1000, packet, {'S'}}), 2, {}},
                          Case{"a packet before any set-up", packet, 0, {1, 0, 0, 0}},
                          Case{"a packet after S", join({kSetup1000, {'S'}, packet}), 0, {1, 0, 0, 0}},
                          Case{"a static value mid-run", join({kSetup1000, staticValue, {'S'}}), 0, {0, 1, 0, 0}},
                          Case{"set-up twice, close mid-run", join({kSetup1000, kSetup1000, {'C', 'S'}}), 0, {0, 2, 0, 0}},
                          Case{"stop before the identity came", {0xAA, 'S'}, 5, {0, 0, 1, 0}},
                          Case{"a stray byte", {0x7E}, 0, {0, 0, 0, 1}}}) {
        Start();
        Send(c.bytes);
        Send({0xAA});
        ASSERT_EQ(Read(c.replyBytes + 5).size(), c.replyBytes + 5) << c.what;  // all counted before its reply
        auto counts = [](const ProtocolViolations& v) {
            return std::tuple(v.packetsOutsideRun, v.commandsMidRun, v.commandsMidExchange, v.unknownBytes);
        };
        EXPECT_EQ(counts(Stats().violations), counts(c.expected)) << c.what;
        m_expectedViolations = c.expected.Total();
    }
}

TEST_F(VirtualGeneratorTest, CountsBytesReceivedBeforeTheHostSetTheLineRaw) {
    Start(nullptr, false);
    EXPECT_TRUE(m_wasCooked) << "a new node has the kernel's default line settings";
    Send({'S', 'S'});
    ASSERT_TRUE(m_generator->WaitUntil([](const auto& s) { return s.commands.size() == 2; }, 5000));
    Open();
    Send({0xAA});
    EXPECT_EQ(Read(5), kIdentity);
    EXPECT_EQ(Stats().bytesWhileNotRaw, 2u);
}

// A block read and a rewrite that keeps byte 3 begin alike; a rewrite comes in one write (at
// most split by the line), a read is followed by the host's pause. Times in milliseconds.
TEST(CommandFramer, TellsABlockReadFromARewriteByWhatFollowsWhen) {
    using sim::Command;
    const Bytes read = {0x12, 0x55, 0xAA, 0, 0};
    Bytes rewrite(64, 7);
    std::copy(read.begin(), read.end(), rewrite.begin());
    const Bytes rewriteRest(rewrite.begin() + 5, rewrite.end());
    struct Chunk { Bytes bytes; int64_t atMs; };
    struct Case { std::vector<Chunk> chunks; std::vector<Command> commands; };
    for (const Case& c : {Case{{{read, 0}}, {Command::BlockRead}}, Case{{{rewrite, 0}}, {Command::BlockRewrite}},
                          Case{{{read, 0}, {rewriteRest, 10}}, {Command::BlockRewrite}},
                          Case{{{read, 0}, {{0x55}, 700}}, {Command::BlockRead, Command::Model}},
                          Case{{{{0x12, 0x55, 0xAA, 0xFF, 0}, 0}, {Bytes(59, 0), 500}}, {Command::BlockRewrite}},
                          Case{{{{0x12, 'S'}, 0}}, {Command::Unknown, Command::Stop}}}) {
        sim::CCommandFramer framer;
        Bytes pending;
        std::vector<Command> commands;
        auto take = [&](int64_t atMs) {
            for (Command command; framer.Next(pending, atMs * 1000000, command);) {
                commands.push_back(command);
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(sim::RuleFor(command).length));
            }
        };
        for (const Chunk& chunk : c.chunks) {
            pending.insert(pending.end(), chunk.bytes.begin(), chunk.bytes.end());
            take(chunk.atMs);
        }
        take(c.chunks.back().atMs + 1000);
        EXPECT_EQ(commands, c.commands) << c.chunks.size() << " chunks, the first " << c.chunks[0].bytes.size() << " bytes";
    }
}

// 250 samples a packet, room for three, 1000 samples a second; times in milliseconds.
TEST(Pacer, AsksForPacketsAsRoomAppearsAndCountsUnderruns) {
    constexpr int64_t kMs = 1000000;
    sim::CPacer pacer(250, 3);
    pacer.Begin(1000);
    EXPECT_FALSE(pacer.TakeRequestTurn()) << "the first packet comes unasked";
    pacer.Receive(250, 0);
    EXPECT_TRUE(pacer.IsPlaying());
    EXPECT_TRUE(pacer.TakeRequestTurn());
    EXPECT_FALSE(pacer.TakeRequestTurn()) << "one request outstanding at most";
    pacer.Receive(250, 0);
    EXPECT_TRUE(pacer.TakeRequestTurn());
    pacer.Receive(250, 0);
    EXPECT_FALSE(pacer.TakeRequestTurn()) << "full";
    EXPECT_EQ(pacer.NextEventIn(0), 250 * kMs) << "room for one packet after 250 samples";
    EXPECT_FALSE(pacer.Advance(250 * kMs));
    EXPECT_TRUE(pacer.TakeRequestTurn());
    EXPECT_EQ(pacer.NextEventIn(250 * kMs), 501 * kMs) << "with a request out, it wakes when the buffer runs dry";
    EXPECT_TRUE(pacer.Advance(1000 * kMs)) << "750 played, 1000 fell due";
    EXPECT_FALSE(pacer.IsPlaying());
    EXPECT_EQ(pacer.NextEventIn(1000 * kMs), -1);
    pacer.End();
    EXPECT_FALSE(pacer.TakeRequestTurn()) << "nothing is asked for after a stop";
}

TEST(VirtualGenerator, CodesBackToMillivolts) {
    struct Case { uint16_t code; bool is16Bit; double range, millivolts; };
    for (const Case& c : {Case{2048, false, 5, 0}, Case{4095, false, 5, 5.1175}, Case{0, false, 5, -5.12}, Case{3048, false, 2.5, 1.25},
                          Case{32768, true, 5, 0}, Case{65535, true, 5, 5.11984375}, Case{0, true, 10, -10.24}})
        EXPECT_DOUBLE_EQ(sim::CodeToMillivolts(c.code, c.is16Bit, c.range), c.millivolts) << c.code;
}

// Checksums worked by hand: channel 0 holds 2047 once and -2048 249 times, which sums to
// -507905, or 16383 modulo 65536; the other channels follow the same way.
TEST_F(VirtualGeneratorTest, WritesWhatItPlayedAsAWfdbRecord) {
    Start();
    Send(kSetup1000);
    Send(BuildPacket(m_sequence, {Frame{0xFFF, 0, 0, 0, 0, 0, 0, 0}, Frame{0, 0, 0, 0, 0, 0, 0, 0x800}}));
    ASSERT_TRUE(WaitPackets(1));
    ASSERT_TRUE(m_generator->WriteRecord(m_dir.Path(), "played"));
    std::string expected = "played 8 1000 250\n";
    const char* labels[] = {"I", "II", "V6 output", "V5 output", "V4 output", "V3 output", "V2 output", "V1 output"};
    for (int channel = 0; channel < 8; ++channel) {
        expected += "played.dat 16 400(0)/mV 16 0 " + std::string(channel == 0 ? "2047 16383" : channel == 7 ? "-2048 14336" : "-2048 12288") +
                    " 0 " + labels[channel] + "\n";
    }
    const std::vector<unsigned char> header = ReadWholeFile(m_dir.File("played.hea"));
    EXPECT_EQ(std::string(header.begin(), header.end()), expected);
    const std::vector<unsigned char> data = ReadWholeFile(m_dir.File("played.dat"));
    ASSERT_EQ(data.size(), 250u * 16);
    // 2047 and -2048, little-endian; channel 7 of the second frame: 0x800 is mid-scale, 0.
    EXPECT_EQ(std::vector<unsigned char>(data.begin(), data.begin() + 4), (std::vector<unsigned char>{0xFF, 0x07, 0x00, 0xF8}));
    EXPECT_EQ(data[16 + 14] | data[16 + 15], 0);
}

TEST(VirtualGenerator, RefusesATakenNodeName) {
    CTempDir dir;
    WriteTextFile(dir.File("ttyACM0"), "someone else's");
    VirtualGeneratorOptions options;
    options.deviceDirectory = dir.Path();
    EXPECT_FALSE(VirtualGenerator(options).Start());
    EXPECT_EQ(ReadWholeFile(dir.File("ttyACM0")).size(), 14u) << "left as it was";
}
