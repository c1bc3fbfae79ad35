// The virtual generator seen from the host side of its pty: packet checks, bit-plane
// decoding, requests, faults and the record it writes; then its command framer and arguments alone. Pacing
// is the playback tests' (their generators play in real time).

#include "sim/virtual_generator.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "sim/pacer.h"
#include "sim/standing_generator.h"
#include "support/test_support.h"

namespace {

using sim::Frame;
using Bytes = std::vector<uint8_t>;

// Set-up for 1000 samples per second on a newer device: 65536 - 6000 + 79 = 59615.
const Bytes kSetup1000 = {0x00, 0xE8, 0xDF, 0x05};
const Bytes kRequest = {'N', 0};
const Bytes kIdentity = {'T', 'A', '2', '0', 0};

// A packet of zero samples whose blocks are numbered on from sequence.
Bytes Packet(uint8_t& sequence) {
    Bytes packet(3200, 0);
    for (size_t block = 0; block < 50; ++block) {
        packet[block * 64] = 0x01;
        packet[block * 64 + 1] = sequence++;
    }
    packet[322] = 0x45;
    return packet;
}

// A generator in a private directory, and the host end of its node opened raw as the driver
// would, but blocking: a write takes all. Every test keeps to the protocol unless it says otherwise.
class VirtualGeneratorTest : public ::testing::Test {
protected:
    void Start(const std::function<void(VirtualGeneratorOptions&)>& adjust = nullptr) {
        VirtualGeneratorOptions options;
        options.deviceDirectory = m_dir.Path();
        if (adjust) adjust(options);
        m_generator = std::make_unique<VirtualGenerator>(options);
        ASSERT_TRUE(m_generator->Start());
        Open();
    }
    void Open() {
        if (m_fd >= 0) close(m_fd);
        m_fd = open(m_generator->NodePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        ASSERT_EQ(tcgetattr(m_fd, &settings), 0);
        cfmakeraw(&settings);
        tcsetattr(m_fd, TCSANOW, &settings);
    }
    void TearDown() override {
        close(m_fd);
        EXPECT_EQ(m_generator ? m_generator->Statistics().violations.Total() : 0, m_expectedViolations);
    }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    // Up to count bytes within timeoutMs in all (generous; only silence waits it out). Short on hang-up.
    Bytes Read(size_t count, int timeoutMs = 5000) {
        Bytes bytes;
        pollfd entry{m_fd, POLLIN, 0};
        for (uint8_t byte; bytes.size() < count && poll(&entry, 1, timeoutMs) == 1 && read(m_fd, &byte, 1) == 1;) bytes.push_back(byte);
        return bytes;
    }
    bool WaitUntil(const std::function<bool(const VirtualGeneratorStatistics&)>& isDone) { return m_generator->WaitUntil(isDone, 10000); }

    CTempDir m_dir;
    std::unique_ptr<VirtualGenerator> m_generator;
    int m_fd = -1;
    uint8_t m_sequence = 0;
    uint64_t m_expectedViolations = 0;
};

}  // namespace

// Worked by hand: channel 0 = 0xFFF alone is twelve bytes 0x01; channel 7 = 0x800 alone is
// 0x80 then eleven 0x00. As 16-bit samples of the 12-bit range, they are written as 2047 and
// 0, the rest as -2048: channel 0 sums to 2047 - 249 * 2048 = -507905, 16383 modulo 65536.
TEST_F(VirtualGeneratorTest, DecodesHandWorkedSamplesAndWritesThemAsAWfdbRecord) {
    Start();
    Bytes packet = Packet(m_sequence);
    std::fill(packet.begin() + 4, packet.begin() + 16, 0x01);
    packet[16] = 0x80;
    Send(kSetup1000);
    Send(packet);
    EXPECT_EQ(Read(2), kRequest) << "fast: asks at once";
    const VirtualGeneratorStatistics stats = m_generator->Statistics();
    EXPECT_EQ(std::make_tuple(stats.packets, stats.samples, stats.reload, stats.range, stats.sampleRate),
              std::make_tuple(uint64_t{1}, uint64_t{250}, uint16_t{59615}, uint8_t{5}, 1000.0));
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.blockMarkerErrors + stats.check.markerByteErrors + stats.check.formatErrors, 0u);
    const std::vector<Frame> frames = m_generator->Frames();
    ASSERT_EQ(frames.size(), 250u);
    EXPECT_EQ(std::vector<Frame>(frames.begin(), frames.begin() + 3),
              (std::vector<Frame>{{0xFFF, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0x800}, {}}));
    ASSERT_TRUE(m_generator->WriteRecord(m_dir.Path(), "played"));
    std::string expected = "played 8 1000 250\n";
    const char* labels[] = {"I", "II", "V6 output", "V5 output", "V4 output", "V3 output", "V2 output", "V1 output"};
    for (int channel = 0; channel < 8; ++channel) {
        expected += "played.dat 16 400(0)/mV 16 0 " + std::string(channel == 0 ? "2047 16383" : channel == 7 ? "-2048 14336" : "-2048 12288") +
                    " 0 " + labels[channel] + "\n";
    }
    EXPECT_EQ(ReadTextFile(m_dir.File("played.hea")), expected);
    const std::vector<unsigned char> data = ReadWholeFile(m_dir.File("played.dat"));
    ASSERT_EQ(data.size(), 250u * 16);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0xFF, 0x07, 0x00, 0xF8}));
    EXPECT_EQ(data[16 + 14] | data[16 + 15], 0);
}

// Channel 3 = 0x8001 sets the first and the last of sixteen planes. The second packet's
// marker byte, a block marker, and a reserved byte are wrong; the numbers wrap after 255
// (packet 6 starts at 250), and a block lost before block 10 of the eighth is one slip.
TEST_F(VirtualGeneratorTest, DecodesSixteenBitSamplesAndCountsWhatIsWrong) {
    Start([](VirtualGeneratorOptions& o) { o.has16BitDac = true; });
    Send(kSetup1000);
    Bytes packet = Packet(m_sequence);
    packet[4] = packet[19] = 0x08;
    packet[64 + 52] = 0x01;  // bytes 52-63 of a 16-bit block must stay 0
    Send(packet);
    packet = Packet(m_sequence);
    packet[322] = 0x00;
    packet[3 * 64] = 0x02;
    packet[7 * 64 + 3] = 0x10;
    Send(packet);
    for (int i = 0; i < 5; ++i) Send(Packet(m_sequence));
    Bytes slipped = Packet(m_sequence);
    for (size_t block = 10; block < 50; ++block) ++slipped[block * 64 + 1];
    Send(slipped);
    ASSERT_TRUE(WaitUntil([](const auto& s) { return s.packets == 8; }));
    const sim::PacketCheck check = m_generator->Statistics().check;
    EXPECT_EQ(std::make_tuple(check.markerByteErrors, check.blockMarkerErrors, check.formatErrors, check.sequenceErrors),
              std::make_tuple(1u, 1u, 2u, 1u));
    EXPECT_EQ(m_generator->Statistics().samples, 8u * 150);
    EXPECT_EQ(m_generator->Frames()[0], (Frame{0, 0, 0, 0x8001, 0, 0, 0, 0}));
}

TEST_F(VirtualGeneratorTest, UnplugsMidRunAndComesBack) {
    Start();
    Send(kSetup1000);
    Send(Packet(m_sequence));
    EXPECT_EQ(Read(2), kRequest);
    m_generator->Unplug();
    EXPECT_FALSE(FileExists(m_generator->NodePath())) << "the node goes with the line";
    ASSERT_TRUE(m_generator->Replug());
    Open();
    Send({0xAA});
    EXPECT_EQ(Read(5), kIdentity) << "back under the same name; the run ended with the line";
    m_generator->SetCommandHook([this](uint8_t) { m_generator->Unplug(); });  // from its own thread
    Send({0xAA});
    EXPECT_TRUE(Read(5).empty() && WaitUntil([](const auto& s) { return s.unplugs == 2; })) << "gone before it answered";
    m_generator->Stop();
    EXPECT_FALSE(FileExists(m_generator->NodePath())) << "Stop removes the node";
}

// What a host left unfinished is forgotten when it goes: a set-up cut short, then a read not yet
// told from a rewrite. The next host's rewrite, sent whole, is one.
TEST_F(VirtualGeneratorTest, ForgetsWhatItsHostsLeftUnfinished) {
    Start();
    Bytes rewrite = {0x12, 0x55, 0xAA, 0, 0};
    for (const Bytes& left : {Bytes{0x00, 0xE8}, rewrite}) {
        Send(left);
        close(std::exchange(m_fd, -1));
        usleep(300000);  // the generator sees the host go; a slow one decides the read first, either is right
        Open();
    }
    Send((rewrite.resize(64, 7), rewrite));
    ASSERT_TRUE(WaitUntil([](const auto& s) { return !s.commands.empty() && s.commands.back().size() == 64; }));
}

// Each row is sent at once, then an identify whose reply shows that all before it was taken.
TEST_F(VirtualGeneratorTest, CountsWhatTheProtocolForbids) {
    uint8_t sequence = 0;
    const Bytes packet = Packet(sequence);
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
        const ProtocolViolations v = m_generator->Statistics().violations, e = c.expected;
        EXPECT_EQ(std::tuple(v.packetsOutsideRun, v.commandsMidRun, v.commandsMidExchange, v.unknownBytes),
                  std::tuple(e.packetsOutsideRun, e.commandsMidRun, e.commandsMidExchange, e.unknownBytes)) << c.what;
        m_expectedViolations = c.expected.Total();
    }
}

// A block read and a rewrite that keeps byte 3 begin alike; a rewrite comes in one write (at
// most split by the line), a read is followed by the host's pause: 30 ms decides. Times in
// milliseconds.
TEST(CommandFramer, TellsABlockReadFromARewriteByWhatFollowsWhen) {
    using sim::Command;
    const Bytes read = {0x12, 0x55, 0xAA, 0, 0};
    Bytes rewrite(64, 7);
    std::copy(read.begin(), read.end(), rewrite.begin());
    const Bytes rewriteRest(rewrite.begin() + 5, rewrite.end());
    struct Chunk { Bytes bytes; int64_t atMs; };
    struct Case { std::vector<Chunk> chunks; std::vector<Command> commands; };
    for (const Case& c : {Case{{{read, 0}}, {Command::BlockRead}}, Case{{{rewrite, 0}}, {Command::BlockRewrite}},
                          Case{{{read, 0}, {rewriteRest, 29}}, {Command::BlockRewrite}},
                          Case{{{read, 0}, {{0x55}, 30}}, {Command::BlockRead, Command::Model}},
                          Case{{{{0x12, 0x55, 0xAA, 0xFF, 0}, 0}, {Bytes(59, 0), 500}}, {Command::BlockRewrite}},
                          Case{{{{0x12, 'S'}, 0}}, {Command::Unknown, Command::Stop}}, Case{{{{0x12}, 0}, {{0x55, 0xAA, 0, 0}, 1}}, {Command::BlockRead}}}) {
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

TEST(VirtualGenerator, CodesBackToMillivoltsAndATakenNodeNameIsRefused) {
    struct Case { uint16_t code; bool is16Bit; double range, millivolts; };
    for (const Case& c : {Case{2048, false, 5, 0}, Case{4095, false, 5, 5.1175}, Case{0, false, 5, -5.12}, Case{3048, false, 2.5, 1.25},
                          Case{32768, true, 5, 0}, Case{65535, true, 5, 5.11984375}, Case{0, true, 10, -10.24}})
        EXPECT_DOUBLE_EQ(sim::CodeToMillivolts(c.code, c.is16Bit, c.range), c.millivolts) << c.code;
    CTempDir dir;
    WriteTextFile(dir.File("ttyACM0"), "someone else's");
    VirtualGeneratorOptions options;
    options.deviceDirectory = dir.Path();
    EXPECT_FALSE(VirtualGenerator(options).Start());
    EXPECT_EQ(ReadWholeFile(dir.File("ttyACM0")).size(), 14u) << "left as it was";
}

// tavo-sim's arguments: help and refusals return before any generator starts.
TEST(SimCommand, HelpsWithoutAFolderAndRefusesBadArguments) {
    for (const auto& [arguments, status] : std::initializer_list<std::pair<std::vector<std::string>, int>>{
             {{"--help"}, 0}, {{"--older", "--port=127", "-h"}, 0}, {{"--port", "128", "--help"}, 2}, {{"--port", "x", "-h"}, 2},
             {{"--port"}, 2}, {{"--fast=1", "--help"}, 2}, {{"--older"}, 2}})
        EXPECT_EQ(RunSimCommand(arguments, "tavo-sim"), status) << arguments.size() << " " << arguments[0];
}

// The pacer on a clock of its own (nanoseconds): 1000 samples/s, packets of 250, room for four. The first
// packet comes unasked, one request is outstanding at a time, 250 due with 250 held is no underrun.
TEST(Pacer, PlaysAtItsRateAsksWhileThereIsRoomAndReportsAnUnderrun) {
    sim::CPacer pacer(250, 4);
    pacer.Begin(1000);
    EXPECT_TRUE(!pacer.TakeRequestTurn() && pacer.NextEventIn(0) == -1);
    pacer.Receive(250, 0);
    EXPECT_TRUE(pacer.TakeRequestTurn() && !pacer.TakeRequestTurn());
    EXPECT_FALSE(pacer.Advance(0) || pacer.Advance(100'000'000) || pacer.Advance(250'000'000));
    EXPECT_TRUE(pacer.Advance(251'000'000) && !pacer.IsPlaying()) << "a sample due with none to play";
    pacer.Receive(250, 300'000'000);
    pacer.End();
    EXPECT_FALSE(pacer.TakeRequestTurn()) << "nothing is asked for after a stop";
}
