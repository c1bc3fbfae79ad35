// Identity commands against the virtual generator: serial formats, DAC width, faulty
// replies, rewrites, link identifier, stop and close.

#include "device/protocol.h"

#include <cstring>
#include <tuple>

#include "device_world.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kModelRequest = {0x12, 0x55, 0xAA, 0x00, 0x00};
using Identity = std::tuple<int, int, std::string, std::string>;

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
const std::string kUntouched = "0:" + std::string(16, 'x') + "|" + std::string(16, 'x');

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
    for (const Case& c : {Case{20, 3, 16, 25, "KA1603025", "1603025", 0}, Case{21, 3, 17, 25, "KAB2103-170025", "03-170025", 1},
                          Case{7, 3, 200, 25, "KAB0703-2000025", "03-2000025", 0}, Case{100, 3, 17, 25, "KAB10003-170025", "03-170025", 1},
                          Case{255, 255, 255, 65535, "KAB255255-25565535", "255-25565535", 1}}) {
        CDeviceWorld world;
        ASSERT_NE(world.Connect([&](VirtualGeneratorOptions& o) {
                      o.modelNumber = c.model, o.serialBatch = c.batch, o.serialGroup = c.group, o.serialIndex = c.index;
                  }), nullptr);
        EXPECT_EQ(ReadDeviceHWInfo(), 1);
        EXPECT_STREQ(TAVOGetSerialNumber(), c.full.c_str());
        EXPECT_EQ(Record(GetRecord), c.full.size() < 16 ? "1:TAVO 2.0|" + c.full : kUntouched);
        EXPECT_EQ(LastIdentity(), Identity(1, c.dacBit, c.full, c.shortText)) << "block byte 8 = " << int(c.model);
    }
    EXPECT_FALSE(TAVOGetDeviceInformation(nullptr));
}

// An older device (never 16-bit) has no block: its serial comes from a model reply of at least
// 18 bytes. A newer one whose block is short or bad falls back to the same reply, which the
// same fault may spoil too. Either is then refused block operations, which send nothing.
TEST(Protocol, WithoutAGoodBlockTheSerialComesFromTheModelReply) {
    struct Case { bool isNewer; ReplyFault fault; size_t cutAt; std::string shortText, record; };
    const std::string older = "1:TAVO 2.0        |KT1234567       ";
    for (const Case& c : {Case{false, ReplyFault::Cut, 17, "", kUntouched}, Case{false, ReplyFault::Cut, 18, "1234567", older},
                          Case{false, ReplyFault::None, 0, "1234567", older}, Case{true, ReplyFault::Cut, 3, "", kUntouched},
                          Case{true, ReplyFault::Cut, 63, "1234567", older}, Case{true, ReplyFault::Garbage, 0, "", kUntouched},
                          Case{true, ReplyFault::Silence, 0, "", kUntouched}}) {
        CDeviceWorld world;
        g_nDeviceReadTimeout = 300;  // an older device leaves the block read to time out
        VirtualGenerator* generator = world.Connect([&](VirtualGeneratorOptions& o) { o.isNewer = c.isNewer, o.has16BitDac = true; });
        ASSERT_NE(generator, nullptr);
        generator->SetReplyFault(c.fault, c.cutAt);
        EXPECT_EQ(ReadDeviceHWInfo(), 0);
        EXPECT_EQ(LastIdentity(), Identity(0, 0, "", c.shortText)) << c.isNewer << " cut at " << c.cutAt;
        const std::string record = Record(DoGetModelInfo);
        EXPECT_TRUE(c.fault == ReplyFault::Garbage || record == c.record) << record;
        MODEL_INFORMATION_EX model{};
        HW_INFORMATION_EX hw{};
        const size_t sent = generator->Statistics().commands.size();
        EXPECT_EQ(GetModelInfo(&model) + GetHWInfo(&hw) + UpdateDeviceInformation(&model, &hw), 0);
        EXPECT_EQ(generator->Statistics().commands.size(), sent) << "block operations send nothing";
    }
}

TEST(Protocol, ExtendedQueriesAndRewritesReachTheBlockByteForByte) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    MODEL_INFORMATION_EX model{};
    HW_INFORMATION_EX hw{};
    ASSERT_EQ(ReadDeviceHWInfo() + GetModelInfo(&model) + GetHWInfo(&hw), 3);
    EXPECT_EQ(std::string(model.szModelCode, 4), "TA\x14\x03");
    EXPECT_EQ(std::make_tuple(model.nSerialIndex, model.nSerialGroup, hw.nHWInfo0, hw.nHWInfo1, hw.nHWInfo2),
              std::make_tuple(25u, 17u, 7u, 8u, 9u));
    unsigned char mfg[20] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE};
    EXPECT_EQ(ReadMfgInfo(mfg, sizeof mfg), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mfg), 17), std::string("MFG-01") + std::string(10, '\0') + "\xEE") << "sixteen bytes";
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
    EXPECT_STREQ(g_strHWInfo, "KQR2204-449029");
    EXPECT_EQ(g_nDACBit, 0) << "the width is settled at connection only";
    for (int i = 0; i < 20; ++i) mfg[i] = static_cast<unsigned char>(0x30 + i);
    std::copy(mfg, mfg + 16, expected.begin() + 48);
    EXPECT_EQ(WriteMfgInfo(mfg, sizeof mfg), 1);
    EXPECT_EQ(Command(*generator), Bytes(expected.begin(), expected.end())) << "sixteen bytes; byte 3 goes out as read";
    EXPECT_EQ(generator->HardwareBlock(), expected);
    generator->SetReplyFault(ReplyFault::Silence);
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw) + WriteMfgInfo(mfg, 16), 0);
    EXPECT_EQ(Bytes(g_DeviceHWInfo, g_DeviceHWInfo + 64), Bytes(expected.begin(), expected.end())) << "a failed rewrite keeps the block";
}

TEST(Protocol, LinkIdentifierStopCloseAndSendCommand) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect([](VirtualGeneratorOptions& o) { o.linkIdentifier = 0xC7; });
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(GetLinkID(), 0xC7u) << "the reply's third byte";
    const Bytes command = Command(*generator);
    EXPECT_TRUE(command.size() == 3 && command[0] == 0x44 && command[1] == 0x01);
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 2);
    ASSERT_TRUE(generator->WaitUntil([&](const auto& stats) { return stats.commands.back() == Bytes{'C'}; }, 5000));
    EXPECT_EQ(Command(*generator, 2), Bytes{'S'});
    const unsigned char link[3] = {0x44, 0x01, 0x00};
    unsigned char reply[3] = {};
    generator->SetReplyFault(ReplyFault::Cut, 2);
    EXPECT_EQ(SendCommand(link, 3, reply, 3), 0);
    generator->SetReplyFault(ReplyFault::Silence);
    EXPECT_EQ(GetLinkID(), 0u) << "no reply";
    DeviceClose();
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 0);
}
