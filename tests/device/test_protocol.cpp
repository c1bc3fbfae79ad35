// Identity commands against the virtual generator: serial formats, DAC width, rewrites,
// link identifier, stop and close, and the identity exports.

#include "device/protocol.h"

#include <cstring>
#include <tuple>

#include "device_world.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kModelRequest = {0x12, 0x55, 0xAA, 0x00, 0x00};
using Identity = std::tuple<int, int, std::string, std::string>;

// Connects to a generator on port 0 and reads its identity. Null on failure.
VirtualGenerator* Connect(CDeviceWorld& world, const AdjustOptions& adjust = nullptr) {
    g_nDeviceReadTimeout = 300;  // an older device leaves the block read to time out
    VirtualGenerator* generator = world.Connect(adjust);
    if (generator != nullptr) ReadDeviceHWInfo();
    return generator;
}

// What the last identity read left: newer or not, DAC width, full and short serial texts.
Identity LastIdentity() { return {g_bIsISPSupported, g_nDACBit, g_strHWInfo, g_strSerialNumber}; }

// "result:model name|serial text" of a record filled with 'x' first; each text ends at its NUL or 16 bytes.
std::string Record(int (*get)(MODEL_INFORMATION*)) {
    MODEL_INFORMATION info;
    std::memset(&info, 'x', sizeof info);
    const int result = get(&info);
    return std::to_string(result) + ":" + std::string(info.szModelName, strnlen(info.szModelName, 16)) + "|" +
           std::string(info.szSerialNumber, strnlen(info.szSerialNumber, 16));
}
int GetRecord(MODEL_INFORMATION* info) { return TAVOGetDeviceInformation(info); }

Bytes Command(const VirtualGenerator& generator, size_t fromEnd = 1) {
    const auto commands = generator.Statistics().commands;
    return commands.size() < fromEnd ? Bytes{} : commands[commands.size() - fromEnd];
}

}  // namespace

// Serial texts worked by hand from the two formats: K, letter(s), then the numbers; the short
// text (the calibration file's name) is the numbers after the model. 16 characters and more do
// not fit the 16 of the record with its terminator: the call fails and leaves the record alone.
TEST(Protocol, NewerDeviceSerialFormats) {
    struct Case { uint8_t model, batch, group; uint16_t index; std::string full, shortText; int dacBit; };
    for (const Case& c : {Case{20, 3, 16, 25, "KA1603025", "1603025", 0}, Case{20, 3, 17, 25, "KAB2003-170025", "03-170025", 0},
                          Case{21, 3, 17, 25, "KAB2103-170025", "03-170025", 1}, Case{7, 3, 200, 25, "KAB0703-2000025", "03-2000025", 0},
                          Case{100, 3, 17, 25, "KAB10003-170025", "03-170025", 1}, Case{200, 9, 200, 25, "KAB20009-2000025", "09-2000025", 1},
                          Case{20, 3, 100, 10000, "KAB2003-10010000", "03-10010000", 0},
                          Case{255, 255, 255, 65535, "KAB255255-25565535", "255-25565535", 1}}) {
        CDeviceWorld world;
        ASSERT_NE(Connect(world, [&](VirtualGeneratorOptions& o) {
                      o.modelNumber = c.model, o.serialBatch = c.batch, o.serialGroup = c.group, o.serialIndex = c.index;
                  }), nullptr);
        EXPECT_STREQ(TAVOGetSerialNumber(), c.full.c_str());
        EXPECT_EQ(Record(GetRecord), c.full.size() < 16 ? "1:TAVO 2.0|" + c.full : "0:" + std::string(16, 'x') + "|" + std::string(16, 'x'));
        EXPECT_EQ(LastIdentity(), Identity(1, c.dacBit, c.full, c.shortText)) << "block byte 8 = " << int(c.model);
    }
    EXPECT_FALSE(TAVOGetDeviceInformation(nullptr));
}

TEST(Protocol, OlderDeviceTakesItsSerialFromTheModelReplyAndRefusesBlockOperations) {
    CDeviceWorld world;
    // An older device never gets 16-bit codes.
    VirtualGenerator* generator = Connect(world, [](VirtualGeneratorOptions& o) { o.isNewer = false, o.has16BitDac = true; });
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(LastIdentity(), Identity(0, 0, "", "1234567"));
    EXPECT_EQ(generator->Statistics().commands, (std::vector<Bytes>{{0xAA}, kModelRequest, {0x55}}));
    const char* first = TAVOGetSerialNumber();
    EXPECT_STREQ(first, "KT1234567");
    EXPECT_EQ(TAVOGetSerialNumber(), first) << "the same static buffer every time";
    EXPECT_EQ(Record(GetRecord), "1:TAVO 2.0|KT1234567");
    MODEL_INFORMATION_EX model{};
    HW_INFORMATION_EX hw{};
    EXPECT_EQ(GetModelInfo(&model) + GetHWInfo(&hw) + UpdateDeviceInformation(&model, &hw), 0);
    EXPECT_EQ(generator->Statistics().commands.size(), 3u) << "block operations send nothing";
}

TEST(Protocol, ModelReplyNeedsEighteenBytes) {
    for (const size_t cut : {17, 18, 19}) {
        CDeviceWorld world;
        ASSERT_NE(Connect(world, [&](VirtualGeneratorOptions& o) { o.isNewer = false, o.replyFault = ReplyFault::Cut, o.cutAt = cut; }),
                  nullptr);
        EXPECT_STREQ(g_strSerialNumber, cut >= 18 ? "1234567" : "") << cut << " bytes";
        EXPECT_EQ(Record(DoGetModelInfo), cut >= 18 ? "1:TAVO 2.0        |KT1234567       " : "0:" + std::string(16, 'x') + "|" + std::string(16, 'x'));
    }
}

// A short block falls back to the model reply, which the same fault may spoil too.
TEST(Protocol, ShortOrBadBlocksLeaveTheNewerDeviceUnrecognised) {
    struct Case { ReplyFault fault; size_t cutAt; const char* shortText; };
    for (const Case& c : {Case{ReplyFault::Cut, 0, ""}, Case{ReplyFault::Cut, 3, ""}, Case{ReplyFault::Cut, 40, "1234567"},
                          Case{ReplyFault::Cut, 63, "1234567"}, Case{ReplyFault::Garbage, 0, ""}, Case{ReplyFault::Silence, 0, ""}}) {
        CDeviceWorld world;
        VirtualGenerator* generator = Connect(world, [](VirtualGeneratorOptions& o) { o.has16BitDac = true; });
        ASSERT_NE(generator, nullptr);
        generator->SetReplyFault(c.fault, c.cutAt);
        EXPECT_EQ(ReadDeviceHWInfo(), 0);
        EXPECT_EQ(LastIdentity(), Identity(0, 0, "", c.shortText)) << "cut at " << c.cutAt;
        MODEL_INFORMATION_EX model{};
        EXPECT_EQ(GetModelInfo(&model), 0);
    }
}

TEST(Protocol, ExtendedQueriesAndRewriteReachTheBlockByteForByte) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world);
    ASSERT_NE(generator, nullptr);
    MODEL_INFORMATION_EX model{};
    HW_INFORMATION_EX hw{};
    ASSERT_EQ(GetModelInfo(&model) + GetHWInfo(&hw), 2);
    EXPECT_EQ(std::string(model.szModelCode, 4), "TA\x14\x03");
    EXPECT_EQ(std::make_tuple(model.nSerialIndex, model.nSerialGroup, hw.nHWInfo0, hw.nHWInfo1, hw.nHWInfo2),
              std::make_tuple(25u, 17u, 7u, 8u, 9u));
    // Bytes 3 and 6-15: store request, letters, model, batch, group (300 & 0xFF), index (the low
    // 16 bits of 0x12345, high byte first), then the three hardware bytes (0x101 & 0xFF).
    std::array<uint8_t, 64> expected = generator->HardwareBlock();
    const uint8_t rewritten[] = {0xFF, 0, 0, 'Q', 'R', 22, 4, 44, 0x23, 0x45, 3, 1, 2};
    std::copy(std::begin(rewritten), std::end(rewritten), expected.begin() + 3);
    model = {{'Q', 'R', 22, 4}, 0x12345, 300};
    hw = {0x101, 2, 3};
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw), 1);
    EXPECT_EQ(Command(*generator, 2), Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(Command(*generator), kModelRequest) << "then read back";
    EXPECT_EQ(generator->HardwareBlock(), expected);
    EXPECT_STREQ(g_strHWInfo, "KQR2204-449029");
    EXPECT_EQ(g_nDACBit, 0) << "the width is settled at connection only";

    const std::vector<unsigned char> confirmed(g_DeviceHWInfo, g_DeviceHWInfo + 64);
    generator->SetReplyFault(ReplyFault::Silence);
    model.szModelCode[0] = 'Z';
    const unsigned char mfg[16] = {1};
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw) + WriteMfgInfo(mfg, sizeof mfg), 0);
    EXPECT_EQ(std::vector<unsigned char>(g_DeviceHWInfo, g_DeviceHWInfo + 64), confirmed) << "a failed rewrite keeps the block";
}

TEST(Protocol, ManufacturingBytesAreSixteen) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, [](VirtualGeneratorOptions& o) {
        for (int i = 0; i < 16; ++i) o.mfgInfo[i] = static_cast<uint8_t>(0xA0 + i);
    });
    ASSERT_NE(generator, nullptr);
    unsigned char bytes[20];
    std::memset(bytes, 0xEE, sizeof bytes);
    EXPECT_EQ(ReadMfgInfo(bytes, sizeof bytes), 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(bytes[i], i < 16 ? 0xA0 + i : 0xEE) << "byte " << i;
    std::array<uint8_t, 64> expected = generator->HardwareBlock();
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(0x30 + i);
    std::copy(bytes, bytes + 16, expected.begin() + 48);
    EXPECT_EQ(WriteMfgInfo(bytes, sizeof bytes), 1);
    EXPECT_EQ(Command(*generator), Bytes(expected.begin(), expected.end())) << "byte 3 goes out as read";
    EXPECT_EQ(generator->HardwareBlock(), expected);
}

TEST(Protocol, LinkIdentifierStopCloseAndSendCommand) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, [](VirtualGeneratorOptions& o) { o.linkIdentifier = 0xC7; });
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(GetLinkID(), 0xC7u) << "the reply's third byte";
    const Bytes command = Command(*generator);
    EXPECT_TRUE(command.size() == 3 && command[0] == 0x44 && command[1] == 0x01);
    const unsigned char link[3] = {0x44, 0x01, 0x00};
    unsigned char reply[3] = {};
    EXPECT_EQ(SendCommand(link, 3, reply, 3), 1);
    EXPECT_EQ(SendCommand(link, 3, nullptr, 0), 1) << "no reply wanted";
    EXPECT_EQ(DeviceReadData(reply, 3), 3) << "the unread reply was still waiting";
    const size_t before = generator->Statistics().commands.size();
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 2);
    ASSERT_TRUE(generator->WaitUntil([&](const auto& stats) { return stats.commands.size() >= before + 2; }, 5000));
    EXPECT_EQ(Command(*generator, 2), Bytes{'S'});
    EXPECT_EQ(Command(*generator), Bytes{'C'});
    generator->SetReplyFault(ReplyFault::Cut, 2);
    EXPECT_EQ(SendCommand(link, 3, reply, 3), 0);
    generator->SetReplyFault(ReplyFault::Silence);
    EXPECT_EQ(GetLinkID(), 0u) << "no reply";
    DeviceClose();
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 0);
}
