// The device's commands against the virtual generator: identity (serial formats, DAC width,
// faulty replies), block rewrites, link identifier, stop and close, the static value; and the
// calibration file: where it is, how its lines fill the table, and the codes on the line.

#include "device/protocol.h"

#include <sys/stat.h>

#include <cstring>
#include <tuple>

#include "device/dac_calibration.h"
#include "device_world.h"
#include "engine/sample_store.h"
#include "tavo/tavo.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kModelRequest = {0x12, 0x55, 0xAA, 0x00, 0x00};
using Identity = std::tuple<int, int, std::string, std::string>;

// What the last identity read left: newer or not, DAC width, full and short serial texts.
Identity LastIdentity() { return {g_bIsISPSupported, g_nDACBit, g_strHWInfo, g_strSerialNumber}; }

// "result:model name|serial text" of a record filled with 'x' first; each text ends at its NUL or 16 bytes.
template <typename Get>
std::string Record(Get get) {
    MODEL_INFORMATION info;
    std::memset(&info, 'x', sizeof info);
    const int result = get(&info);
    return std::to_string(result) + ":" + std::string(info.szModelName, strnlen(info.szModelName, 16)) + "|" +
           std::string(info.szSerialNumber, strnlen(info.szSerialNumber, 16));
}
const std::string kUntouched = "0:" + std::string(16, 'x') + "|" + std::string(16, 'x');

// The command before the last one the generator logged.
Bytes Penultimate(const VirtualGenerator& generator) { return *(generator.Statistics().commands.end() - 2); }

// count rows of channel 0's 2050, channel 1's 1, the ends of the scale and 4 to 7, mixing the separators.
std::string Rows(int count, const std::string& last = "") {
    std::string text;
    for (int row = 0; row < count; ++row) text += "2050, 1,0,4095 ,4,,5  6,7\r\n";
    return text + last;
}

// Loads the calibration file of the serial number as a 12-bit device would, over the table
// and flag an earlier device left. 0 mV is code 2048 uncorrected (worked by hand: the middle of 0..4095 steps); channel 0's
// entry 2050 moves it to 2046, channel 1's entry 1 to 4095. A table is used whole or not at all.
void ExpectLoaded(const char* serial, bool isUsed, const std::string& what) {
    for (auto& channel : g_DACError) std::fill(std::begin(channel), std::end(channel), 99.0);
    g_bDACAvailable = 1;
    std::strcpy(g_strSerialNumber, serial);
    g_nDACBit = 0;
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), isUsed ? 1 : 0) << what;
    EXPECT_EQ(std::make_tuple(DAC(0.0, 0), DAC(0.0, 1), g_DACError[7][0]),
              isUsed ? std::make_tuple(2046, 4095, 7.0) : std::make_tuple(2048, 2048, 0.0)) << what;
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
        auto identity = [&](VirtualGeneratorOptions& o) { o.modelNumber = c.model, o.serialBatch = c.batch, o.serialGroup = c.group, o.serialIndex = c.index; };
        ASSERT_NE(world.Connect(identity), nullptr);
        EXPECT_EQ(ReadDeviceHWInfo(), 1);
        EXPECT_EQ(Record(TAVOGetDeviceInformation), c.full.size() < 16 ? "1:TAVO 2.0|" + c.full : kUntouched);
        EXPECT_EQ(LastIdentity(), Identity(1, c.dacBit, c.full, c.shortText)) << "block byte 8 = " << int(c.model);
    }
}

// An older device (never 16-bit) has no block: its serial comes from a model reply of at least
// 18 bytes. A newer one whose block is short or bad falls back to the same reply, which the
// same fault may spoil too. Either is then refused block queries.
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
        EXPECT_EQ(Record(TAVOGetDeviceInformation), "1:TAVO 2.0|KT" + c.shortText);
        MODEL_INFORMATION_EX model{};
        EXPECT_EQ(GetModelInfo(&model), 0);
    }
}

// Then the static value, the link identifier, stop and close, and what a short reply or no
// port leaves.
TEST(Protocol, ExtendedQueriesRewritesAndShortCommands) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    MODEL_INFORMATION_EX model{};
    HW_INFORMATION_EX hw{};
    ASSERT_EQ(ReadDeviceHWInfo() + GetModelInfo(&model) + GetHWInfo(&hw), 3);
    EXPECT_EQ(std::make_tuple(std::string(model.szModelCode, 4), model.nSerialIndex, model.nSerialGroup, hw.nHWInfo0, hw.nHWInfo1, hw.nHWInfo2),
              std::make_tuple(std::string("TA\x14\x03"), 25u, 17u, 7u, 8u, 9u));
    // Bytes 3 and 6-15: store request, letters, model, batch, group (300 & 0xFF), index (the low
    // 16 bits of 0x12345, high byte first), then the three hardware bytes (0x101 & 0xFF).
    std::array<uint8_t, 64> expected = generator->HardwareBlock();
    const uint8_t rewritten[] = {0xFF, 0, 0, 'Q', 'R', 22, 4, 44, 0x23, 0x45, 3, 1, 2};
    std::copy(std::begin(rewritten), std::end(rewritten), expected.begin() + 3);
    model = {{'Q', 'R', 22, 4}, 0x12345, 300};
    hw = {0x101, 2, 3};
    EXPECT_EQ(UpdateDeviceInformation(&model, &hw), 1);
    EXPECT_EQ(Penultimate(*generator), Bytes(expected.begin(), expected.end()));
    EXPECT_STREQ(g_strHWInfo, "KQR2204-449029");
    EXPECT_EQ(g_nDACBit, 0) << "the width is settled at connection only";
    // Static value planes worked by hand: byte 4 + i is 0xFF when bit 11 - i of the code is set.
    struct Case { int code; Bytes start; int decoded; };
    for (const Case& c : {Case{0x800, {0x09, 1, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x800},
                          Case{0x1ABC, {0x09, 1, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xABC}}) {
        EXPECT_EQ(DACSendStaticValue(c.code), 64);
        Bytes command = c.start;
        command.resize(64, 0);
        ASSERT_TRUE(generator->WaitUntil([&](const auto& s) { return !s.commands.empty() && s.commands.back() == command; }, 5000))
            << std::hex << c.code;
        EXPECT_EQ(generator->Statistics().lastStaticCode, c.decoded);
    }
    EXPECT_EQ(GetLinkID(), 0x5Au) << "the reply's third byte";
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 2);
    ASSERT_TRUE(generator->WaitUntil([&](const auto& stats) { return stats.commands.back() == Bytes{'C'}; }, 5000));
    EXPECT_EQ(Penultimate(*generator), Bytes{'S'});
    generator->SetReplyFault(ReplyFault::Cut, 2);
    EXPECT_EQ(GetLinkID(), 0u) << "a short reply";
    DeviceClose();
    EXPECT_EQ(NotifyToStopOutputing() + APClose(), 0);
}

// A connection reads the file named after the device's short serial number, unless the DAC is
// 16-bit. In the file channel 0 measures every code 3 high and channel 1 2 low (held at the ends
// of the scale), so the sine's first sample, 0 mV or code 2048, goes out as 2045 and 2050.
TEST(DacCalibration, FilePresentAtConnectionMovesTheCodesOnTheLine) {
    struct Case { bool hasFile, is16Bit; int code0, code1; };
    for (const Case& c : {Case{true, false, 2045, 2050}, Case{false, false, 2048, 2048}, Case{true, true, 32768, 32768}}) {
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(0, [&](VirtualGeneratorOptions& o) { o.has16BitDac = c.is16Bit; });
        ASSERT_NE(generator, nullptr);
        std::string table;
        for (int row = 0; row < 4096; ++row)
            table += std::to_string(std::min(row + 3, 4095)) + "," + std::to_string(std::max(row - 2, 0)) + ",1,2,3,4,5,6\n";
        if (c.hasFile) WriteTextFile(world.CalibrationDir() + "/TAVO_DAC03-170025.txt", table);
        ASSERT_TRUE(TAVOConnect(-1, 20000));
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 2.0) && TAVOOutputWaveform(0, nullptr, nullptr));
        ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.samples > 0; }, 20000));
        TAVOFree();
        const sim::Frame first = generator->Frames()[0];
        EXPECT_EQ(std::make_pair(int(first[0]), int(first[1])), std::make_pair(c.code0, c.code1)) << c.hasFile << c.is16Bit;
    }
}

// Rows beyond 4096 and values beyond 8 are ignored; a short file, a short or long-broken line
// (one read takes 255 characters), or any value that is no number, not finite or outside
// 0-4095 leaves output uncorrected.
TEST(DacCalibration, OnlyACompleteTableIsUsed) {
    std::vector<std::pair<std::string, bool>> cases = {
        {Rows(4100, "x\n"), true}, {Rows(4095, "2050 1 2 3 4 5 6 7 8 junk\n"), true}, {"", false}, {Rows(4095), false},
        {Rows(4095, "1,2,3,4,5,6,7\n"), false}, {Rows(4095, "1,2,3,4,5,6," + std::string(250, ' ') + "7\n"), false}};
    for (const char* bad : {"nan", "-1", "4095.5", "1e400", "7x", "+-1", "\t1"})
        cases.push_back({Rows(2000) + "1,2,3,4,5,6,7," + bad + "\n" + Rows(2095), false});
    for (const auto& [text, isUsed] : cases) {
        CDeviceWorld world;
        WriteTextFile(world.CalibrationDir() + "/TAVO_DAC1603025.txt", text);
        ExpectLoaded("1603025", isUsed, text.substr(text.size() > 40 ? text.size() - 40 : 0));
    }
}

// No file, a FIFO (which must not hang the load), a serial text that climbs out of the folder,
// and a device that gave no serial number at all.
TEST(DacCalibration, UnusableFilesLeaveOutputUncorrected) {
    CDeviceWorld world;
    ASSERT_EQ(mkfifo((world.CalibrationDir() + "/TAVO_DAC7654321.txt").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((world.CalibrationDir() + "/TAVO_DAC").c_str(), 0700), 0);
    for (const char* name : {"/escape.txt", "/TAVO_DAC.txt"}) WriteTextFile(world.CalibrationDir() + name, Rows(4096));
    for (const char* serial : {"1234567", "7654321", "/../escape", ""}) ExpectLoaded(serial, false, serial);
}
