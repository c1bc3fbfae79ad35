// The calibration file: where it is, how its lines fill the table, when it applies; and
// the static-value command.

#include "device/dac_calibration.h"

#include <sys/stat.h>

#include <cstring>
#include <tuple>

#include "device/protocol.h"
#include "engine/sample_store.h"
#include "device_world.h"

namespace {

// count rows of channel 0's 2050, channel 1's 1, the ends of the scale and 4 to 7, mixing the separators.
std::string Rows(int count, const std::string& last = "") {
    std::string text;
    for (int row = 0; row < count; ++row) text += "2050, 1,0,4095 ,4,,5  6,7\r\n";
    return text + last;
}

// Loads the calibration file of the serial number as a 12-bit device would, over the table
// and flag an earlier device left.
void LoadFor(const char* serial) {
    for (auto& channel : g_DACError) std::fill(std::begin(channel), std::end(channel), 99.0);
    g_bDACAvailable = 1;
    std::strcpy(g_strSerialNumber, serial);
    g_nDACBit = 0;
    LoadDACFile();
}

// 0 mV is code 2048 uncorrected (worked by hand: the middle of 0..4095 steps); channel 0's
// entry 2050 moves it to 2046, channel 1's entry 1 to 4095. A table is used whole or not at all.
void ExpectTable(bool isUsed, const std::string& what) {
    EXPECT_EQ(IsDACFileLoaded(), isUsed ? 1 : 0) << what;
    EXPECT_EQ(std::make_tuple(DAC(0.0, 0), DAC(0.0, 1), g_DACError[7][0]),
              isUsed ? std::make_tuple(2046, 4095, 7.0) : std::make_tuple(2048, 2048, 0.0)) << what;
}

}  // namespace

// The file is named after the connected device's short serial number; a 16-bit device never loads it.
TEST(DacCalibration, LoadsTheFileNamedAfterTheConnected12BitDevice) {
    for (const bool is16Bit : {false, true}) {
        CDeviceWorld world;
        ASSERT_NE(world.Connect([&](VirtualGeneratorOptions& o) { o.has16BitDac = is16Bit; }), nullptr);
        ReadDeviceHWInfo();
        EXPECT_EQ(std::string(GetDACFilePath()), world.CalibrationDir() + "/TAVO_DAC03-170025.txt");
        WriteTextFile(GetDACFilePath(), Rows(4096));
        g_bDACAvailable = 1;
        LoadDACFile();
        EXPECT_EQ(IsDACFileLoaded(), is16Bit ? 0 : 1);
        EXPECT_EQ(g_DACError[0][0], is16Bit ? 0 : 2050);
    }
}

// Rows beyond 4096 and values beyond 8 are ignored; a short file, a short or long-broken line
// (one read takes 255 characters), or any value that is no number, not finite or outside
// 0-4095 leaves output uncorrected.
TEST(DacCalibration, OnlyACompleteTableIsUsed) {
    std::vector<std::pair<std::string, bool>> cases = {
        {Rows(4096), true}, {Rows(4100, "x\n"), true}, {Rows(4095, "2050 1 2 3 4 5 6 7 8 junk\n"), true}, {"", false},
        {Rows(1000), false}, {Rows(4095, "1,2,3,4,5,6,7\n"), false}, {Rows(4095, "1,2,3,4,5,6," + std::string(250, ' ') + "7\n"), false}};
    for (const char* bad : {"nan", "inf", "-1", "4095.5", "abc", "1e400", "7x", "+-1", "1\t", "\t1"})
        cases.push_back({Rows(2000) + "1,2,3,4,5,6,7," + bad + "\n" + Rows(2095), false});
    for (const auto& [text, isUsed] : cases) {
        CDeviceWorld world;
        WriteTextFile(world.CalibrationDir() + "/TAVO_DAC1603025.txt", text);
        LoadFor("1603025");
        ExpectTable(isUsed, text.substr(text.size() > 40 ? text.size() - 40 : 0));
    }
}

// No file, a FIFO (which must not hang the load), a serial text that climbs out of the folder,
// and a device that gave no serial number at all.
TEST(DacCalibration, UnusableFilesLeaveOutputUncorrected) {
    CDeviceWorld world;
    ASSERT_EQ(mkfifo((world.CalibrationDir() + "/TAVO_DAC7654321.txt").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((world.CalibrationDir() + "/TAVO_DAC").c_str(), 0700), 0);
    for (const char* name : {"/escape.txt", "/TAVO_DAC.txt"}) WriteTextFile(world.CalibrationDir() + name, Rows(4096));
    for (const char* serial : {"1234567", "7654321", "/../escape", ""}) {
        LoadFor(serial);
        ExpectTable(false, serial);
    }
}

// Planes worked by hand: byte 4 + i is 0xFF when bit 11 - i of the code is set.
TEST(DacCalibration, StaticValueCommandBytes) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    struct Case { int code; std::vector<uint8_t> planes; int decoded; };
    for (const Case& c : {Case{0x800, {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x800}, Case{0xFFF, std::vector<uint8_t>(12, 0xFF), 0xFFF},
                          Case{0x1ABC, {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xABC}, Case{0, std::vector<uint8_t>(12, 0), 0}}) {
        EXPECT_EQ(DACSendStaticValue(c.code), 64);
        std::vector<uint8_t> expected(64, 0);
        expected[0] = 0x09;
        expected[1] = 0x01;
        std::copy(c.planes.begin(), c.planes.end(), expected.begin() + 4);
        ASSERT_TRUE(generator->WaitUntil([&](const auto& s) { return !s.commands.empty() && s.commands.back() == expected; }, 5000))
            << std::hex << c.code;
        EXPECT_EQ(generator->Statistics().lastStaticCode, c.decoded);
    }
    EXPECT_FALSE(DACCompensation(nullptr));
}
