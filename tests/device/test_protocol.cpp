// Identity commands against the virtual generator: serial formats, DAC width, rewrites,
// link identifier, stop and close, and the identity exports.

#include <gtest/gtest.h>

#include <cstring>

#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

// Connects to a generator with these options and reads its identity. Null on failure.
VirtualGenerator* Connect(CDeviceWorld& world, const VirtualGeneratorOptions& options) {
    g_nDeviceReadTimeout = 300;  // an older device leaves the block read to time out
    VirtualGenerator* generator = world.Add(options);
    if (generator == nullptr || !FindDevice(options.port)) return nullptr;
    ReadDeviceHWInfo();
    return generator;
}

VirtualGeneratorOptions Older(const CDeviceWorld& world) {
    VirtualGeneratorOptions options = world.Options(0);
    options.isNewer = false;
    return options;
}

std::vector<uint8_t> LastCommand(const VirtualGenerator& generator) {
    const auto commands = generator.Statistics().commands;
    return commands.empty() ? std::vector<uint8_t>{} : commands.back();
}

}  // namespace

// Serial texts worked by hand from the two formats: K, letter(s), then the numbers.
TEST(Protocol, NewerDeviceSerialFormats) {
    struct Case {
        uint8_t group;
        uint8_t model;
        const char* full;
        const char* shortText;
        int dacBit;
    };
    for (const Case& c : {Case{16, 20, "KA1603025", "1603025", 0}, Case{17, 20, "KAB2003-170025", "03-170025", 0},
                          Case{17, 21, "KAB2103-170025", "03-170025", 1}, Case{200, 7, "KAB0703-2000025", "03-2000025", 0}}) {
        CDeviceWorld world;
        VirtualGeneratorOptions options = world.Options(0);
        options.serialGroup = c.group;
        options.modelNumber = c.model;
        ASSERT_NE(Connect(world, options), nullptr);
        EXPECT_EQ(g_bIsISPSupported, 1);
        EXPECT_STREQ(g_strHWInfo, c.full);
        EXPECT_STREQ(g_strSerialNumber, c.shortText);
        EXPECT_EQ(g_nDACBit, c.dacBit) << "block byte 8 = " << int(c.model);
        EXPECT_STREQ(TAVOGetSerialNumber(), c.full);
    }
}

TEST(Protocol, OlderDeviceTakesItsSerialFromTheModelReply) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = Older(world);
    options.has16BitDac = true;  // an older device never gets 16-bit codes
    VirtualGenerator* generator = Connect(world, options);
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(g_bIsISPSupported, 0);
    EXPECT_EQ(g_nDACBit, 0);
    EXPECT_STREQ(g_strSerialNumber, "1234567");
    EXPECT_STREQ(g_strHWInfo, "");
    const auto commands = generator->Statistics().commands;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[1], (std::vector<uint8_t>{0x12, 0x55, 0xAA, 0x00, 0x00}));
    EXPECT_EQ(commands[2], std::vector<uint8_t>{0x55});

    const char* first = TAVOGetSerialNumber();
    EXPECT_STREQ(first, "KT1234567");
    EXPECT_EQ(TAVOGetSerialNumber(), first) << "the same static buffer every time";
}

TEST(Protocol, DeviceInformationForBothKinds) {
    for (const bool isNewer : {false, true}) {
        CDeviceWorld world;
        VirtualGeneratorOptions options = world.Options(0);
        options.isNewer = isNewer;
        ASSERT_NE(Connect(world, options), nullptr);
        MODEL_INFORMATION info;
        std::memset(&info, 'x', sizeof info);
        ASSERT_TRUE(TAVOGetDeviceInformation(&info));
        EXPECT_EQ(std::memcmp(info.szModelName, "TAVO 2.0", 9), 0);
        EXPECT_STREQ(info.szSerialNumber, isNewer ? "KAB2003-170025" : "KT1234567");
        EXPECT_FALSE(TAVOGetDeviceInformation(nullptr));
    }
}

TEST(Protocol, SerialTooLongForTheRecordIsNotCopied) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.modelNumber = 255;
    options.serialBatch = 255;
    options.serialGroup = 255;
    options.serialIndex = 65535;
    ASSERT_NE(Connect(world, options), nullptr);
    EXPECT_STREQ(TAVOGetSerialNumber(), "KAB255255-25565535");
    MODEL_INFORMATION info;
    std::memset(&info, 'x', sizeof info);
    ASSERT_TRUE(TAVOGetDeviceInformation(&info));
    EXPECT_EQ(std::string(info.szSerialNumber, 16), std::string(16, 'x')) << "18 characters do not fit in 16";
}

TEST(Protocol, ModelReplyNeedsEighteenBytes) {
    for (const size_t cut : {17, 18, 19}) {
        CDeviceWorld world;
        VirtualGeneratorOptions options = Older(world);
        options.replyFault = ReplyFault::Cut;
        options.cutAt = cut;
        ASSERT_NE(Connect(world, options), nullptr);
        EXPECT_STREQ(g_strSerialNumber, cut >= 18 ? "1234567" : "") << cut << " bytes";
        MODEL_INFORMATION model{};
        const int accepted = DoGetModelInfo(&model);
        EXPECT_EQ(accepted, cut >= 18 ? 1 : 0);
        if (accepted) {
            EXPECT_EQ(std::string(model.szModelName, 16), "TAVO 2.0        ");
            EXPECT_EQ(std::string(model.szSerialNumber, 16), "KT1234567       ");
        }
    }
}

TEST(Protocol, ShortOrBadBlocksLeaveTheNewerDeviceUnrecognised) {
    struct Case {
        ReplyFault fault;
        size_t cutAt;
        const char* shortText;
    };
    // A short block falls back to the model reply, which the same fault may spoil too.
    for (const Case& c : {Case{ReplyFault::Cut, 0, ""}, Case{ReplyFault::Cut, 3, ""}, Case{ReplyFault::Cut, 40, "1234567"},
                          Case{ReplyFault::Cut, 63, "1234567"}, Case{ReplyFault::Garbage, 0, ""},
                          Case{ReplyFault::Silence, 0, ""}}) {
        CDeviceWorld world;
        VirtualGeneratorOptions options = world.Options(0);
        options.has16BitDac = true;
        VirtualGenerator* generator = Connect(world, options);
        ASSERT_NE(generator, nullptr);
        generator->SetReplyFault(c.fault, c.cutAt);
        EXPECT_EQ(ReadDeviceHWInfo(), 0);
        EXPECT_EQ(g_bIsISPSupported, 0);
        EXPECT_EQ(g_nDACBit, 0);
        EXPECT_STREQ(g_strHWInfo, "");
        EXPECT_STREQ(g_strSerialNumber, c.shortText) << "cut at " << c.cutAt;
        MODEL_INFORMATION_EX model{};
        EXPECT_EQ(GetModelInfo(&model), 0);
    }
}

TEST(Protocol, ExtendedQueriesReadTheBlock) {
    CDeviceWorld world;
    ASSERT_NE(Connect(world, world.Options(0)), nullptr);
    MODEL_INFORMATION_EX model{};
    ASSERT_EQ(GetModelInfo(&model), 1);
    EXPECT_EQ(std::memcmp(model.szModelCode, "TA\x14\x03", 4), 0);
    EXPECT_EQ(model.nSerialIndex, 25u);
    EXPECT_EQ(model.nSerialGroup, 17u);
    HW_INFORMATION_EX hw{};
    ASSERT_EQ(GetHWInfo(&hw), 1);
    EXPECT_EQ(hw.nHWInfo0, 7u);
    EXPECT_EQ(hw.nHWInfo1, 8u);
    EXPECT_EQ(hw.nHWInfo2, 9u);
}

TEST(Protocol, OlderDeviceRefusesBlockOperations) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, Older(world));
    ASSERT_NE(generator, nullptr);
    const size_t commandsBefore = generator->Statistics().commands.size();
    MODEL_INFORMATION_EX model{};
    HW_INFORMATION_EX hw{};
    EXPECT_EQ(GetModelInfo(&model), 0);
    EXPECT_EQ(GetHWInfo(&hw), 0);
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw), 0);
    EXPECT_EQ(generator->Statistics().commands.size(), commandsBefore) << "nothing was sent";
}

TEST(Protocol, RewriteReachesTheDeviceByteForByte) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, world.Options(0));
    ASSERT_NE(generator, nullptr);
    std::array<uint8_t, 64> expected = generator->HardwareBlock();
    expected[3] = 0xFF;
    expected[6] = 'Q';
    expected[7] = 'R';
    expected[8] = 22;
    expected[9] = 4;
    expected[10] = 44;    // 300 & 0xFF
    expected[11] = 0x23;  // 0x12345 keeps its low 16 bits, high byte first
    expected[12] = 0x45;
    expected[13] = 3;
    expected[14] = 1;  // 0x101 & 0xFF
    expected[15] = 2;

    MODEL_INFORMATION_EX model{{'Q', 'R', 22, 4}, 0x12345, 300};
    HW_INFORMATION_EX hw{0x101, 2, 3};
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw), 1);
    const auto commands = generator->Statistics().commands;
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(commands.back(), (std::vector<uint8_t>{0x12, 0x55, 0xAA, 0x00, 0x00})) << "then read back";
    EXPECT_EQ(generator->HardwareBlock(), expected);
    EXPECT_STREQ(g_strHWInfo, "KQR2204-449029");
    EXPECT_EQ(g_nDACBit, 0) << "the width is settled at connection only";
}

TEST(Protocol, FailedRewriteKeepsTheConfirmedBlock) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, world.Options(0));
    ASSERT_NE(generator, nullptr);
    unsigned char before[64];
    std::memcpy(before, g_DeviceHWInfo, sizeof before);
    generator->SetReplyFault(ReplyFault::Silence);
    MODEL_INFORMATION_EX model{{'Q', 'R', 22, 4}, 1, 2};
    HW_INFORMATION_EX hw{1, 2, 3};
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw), 0);
    EXPECT_EQ(std::memcmp(g_DeviceHWInfo, before, sizeof before), 0);
    const unsigned char mfg[16] = {1};
    EXPECT_EQ(WriteMfgInfo(mfg, sizeof mfg), 0);
    EXPECT_EQ(std::memcmp(g_DeviceHWInfo, before, sizeof before), 0);
}

TEST(Protocol, ManufacturingBytesAreSixteen) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.mfgInfo = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
    VirtualGenerator* generator = Connect(world, options);
    ASSERT_NE(generator, nullptr);

    unsigned char read[20];
    std::memset(read, 0xEE, sizeof read);
    EXPECT_EQ(ReadMfgInfo(read, sizeof read), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(read[i], 0xA0 + i);
    for (int i = 16; i < 20; ++i) EXPECT_EQ(read[i], 0xEE) << "beyond 16 bytes nothing is touched";

    std::array<uint8_t, 64> expected = generator->HardwareBlock();
    unsigned char written[20];
    for (int i = 0; i < 20; ++i) written[i] = static_cast<unsigned char>(0x30 + i);
    for (int i = 0; i < 16; ++i) expected[48 + i] = static_cast<uint8_t>(0x30 + i);
    EXPECT_EQ(WriteMfgInfo(written, sizeof written), 1);
    EXPECT_EQ(LastCommand(*generator), std::vector<uint8_t>(expected.begin(), expected.end()))
        << "byte 3 goes out as read, not as a store request";
    EXPECT_EQ(generator->HardwareBlock(), expected);
}

TEST(Protocol, LinkIdentifierIsTheReplyThirdByte) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.linkIdentifier = 0xC7;
    VirtualGenerator* generator = Connect(world, options);
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(GetLinkID(), 0xC7u);
    const std::vector<uint8_t> command = LastCommand(*generator);
    ASSERT_EQ(command.size(), 3u);
    EXPECT_EQ(command[0], 0x44);
    EXPECT_EQ(command[1], 0x01);
    generator->SetReplyFault(ReplyFault::Silence);
    EXPECT_EQ(GetLinkID(), 0u) << "no reply";
}

TEST(Protocol, StopAndCloseAreSingleBytes) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, world.Options(0));
    ASSERT_NE(generator, nullptr);
    const size_t before = generator->Statistics().commands.size();
    EXPECT_EQ(NotifyToStopOutputing(), 1);
    EXPECT_EQ(APClose(), 1);
    ASSERT_TRUE(generator->WaitUntil([&](const auto& stats) { return stats.commands.size() >= before + 2; }, 5000));
    const auto commands = generator->Statistics().commands;
    EXPECT_EQ(commands[before], std::vector<uint8_t>{'S'});
    EXPECT_EQ(commands[before + 1], std::vector<uint8_t>{'C'});
    DeviceClose();
    EXPECT_EQ(NotifyToStopOutputing(), 0);
    EXPECT_EQ(APClose(), 0);
}

TEST(Protocol, SendCommandNeedsTheWholeReply) {
    CDeviceWorld world;
    VirtualGenerator* generator = Connect(world, world.Options(0));
    ASSERT_NE(generator, nullptr);
    const unsigned char link[3] = {0x44, 0x01, 0x00};
    unsigned char reply[3] = {};
    EXPECT_EQ(SendCommand(link, 3, reply, 3), 1);
    EXPECT_EQ(SendCommand(link, 3, nullptr, 0), 1) << "no reply wanted";
    unsigned char drain[3];
    EXPECT_EQ(DeviceReadData(drain, 3), 3) << "the unread reply was still waiting";
    generator->SetReplyFault(ReplyFault::Cut, 2);
    EXPECT_EQ(SendCommand(link, 3, reply, 3), 0);
}
