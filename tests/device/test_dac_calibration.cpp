// The calibration file: where it is, how its lines fill the table, when it applies; and
// the static-value command.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "device/dac_calibration.h"
#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr double kUntouched = 99.0;

void FillTable(double value) {
    for (auto& channel : g_DACError) {
        for (double& entry : channel) entry = value;
    }
}

// Writes the calibration file of the short serial number and loads it as a 12-bit device would.
void LoadText(const CDeviceWorld& world, const std::string& text) {
    std::strcpy(g_strSerialNumber, "1603025");
    g_nDACBit = 0;
    WriteTextFile(world.CalibrationDir() + "/TAVO_DAC1603025.txt", text);
    LoadDACFile();
}

}  // namespace

TEST(DacCalibration, PathIsNamedAfterTheShortSerialNumber) {
    CDeviceWorld world;
    std::strcpy(g_strSerialNumber, "1603025");
    EXPECT_EQ(std::string(GetDACFilePath()), world.CalibrationDir() + "/TAVO_DAC1603025.txt");
}

TEST(DacCalibration, LoadsTheConnectedDeviceFile) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.isNewer = false;
    ASSERT_NE(world.Add(options), nullptr);
    g_nDeviceReadTimeout = 300;
    ASSERT_TRUE(FindDevice(0));
    ReadDeviceHWInfo();
    WriteTextFile(world.CalibrationDir() + "/TAVO_DAC1234567.txt", "2048, 2049\n7\n");
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 1);
    EXPECT_EQ(g_DACError[0][0], 2048);
    EXPECT_EQ(g_DACError[1][0], 2049);
    EXPECT_EQ(g_DACError[0][1], 7);
}

TEST(DacCalibration, SixteenBitDeviceNeverLoads) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.has16BitDac = true;
    ASSERT_NE(world.Add(options), nullptr);
    ASSERT_TRUE(FindDevice(0));
    ReadDeviceHWInfo();
    ASSERT_EQ(g_nDACBit, 1);
    WriteTextFile(world.CalibrationDir() + "/TAVO_DAC" + g_strSerialNumber + ".txt", "2050\n");
    g_bDACAvailable = 1;
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    EXPECT_EQ(g_DACError[0][0], 0);
}

TEST(DacCalibration, CommasAndBlanksSeparateAlike) {
    CDeviceWorld world;
    LoadText(world, "2048, 2049\n2048,2049\n2048  2049\n ,2048 ,, 2049\r\n");
    ASSERT_EQ(IsDACFileLoaded(), 1);
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(g_DACError[0][row], 2048) << "row " << row;
        EXPECT_EQ(g_DACError[1][row], 2049) << "row " << row;
    }
}

TEST(DacCalibration, EmptyLinesAndNonNumbers) {
    CDeviceWorld world;
    FillTable(kUntouched);
    LoadText(world, "5,6\n\nabc,7\nnan inf -1e400\n1, \n2.5e1");
    ASSERT_EQ(IsDACFileLoaded(), 1);
    EXPECT_EQ(g_DACError[0][0], 5);
    EXPECT_EQ(g_DACError[1][0], 6);
    EXPECT_EQ(g_DACError[0][1], 0) << "an empty line still sets channel 0";
    EXPECT_EQ(g_DACError[1][1], kUntouched);
    EXPECT_EQ(g_DACError[0][2], 0) << "not a number";
    EXPECT_EQ(g_DACError[1][2], 7);
    for (int channel = 0; channel < 3; ++channel) EXPECT_EQ(g_DACError[channel][3], 0) << "not finite";
    EXPECT_EQ(g_DACError[0][4], 1);
    EXPECT_EQ(g_DACError[1][4], 0) << "the line end after a blank is a token of its own";
    EXPECT_EQ(g_DACError[2][4], kUntouched);
    EXPECT_EQ(g_DACError[0][5], 25) << "a last line without its end";
    EXPECT_EQ(g_DACError[0][6], kUntouched);
}

TEST(DacCalibration, AtMostEightValuesPerLine) {
    CDeviceWorld world;
    FillTable(kUntouched);
    LoadText(world, "1 2 3 4 5 6 7 8 9 10\n");
    for (int channel = 0; channel < 8; ++channel) EXPECT_EQ(g_DACError[channel][0], channel + 1);
    EXPECT_EQ(g_DACError[0][1], kUntouched) << "the ninth value goes nowhere";
}

TEST(DacCalibration, LongLinesContinueAsTheNextRow) {
    CDeviceWorld world;
    FillTable(kUntouched);
    // 255 characters fill one read; the rest of the line is read as the next row.
    LoadText(world, "7" + std::string(254, ' ') + "9\n3\n");
    EXPECT_EQ(g_DACError[0][0], 7);
    EXPECT_EQ(g_DACError[1][0], kUntouched);
    EXPECT_EQ(g_DACError[0][1], 9);
    EXPECT_EQ(g_DACError[0][2], 3);
}

TEST(DacCalibration, AtMost4096Rows) {
    CDeviceWorld world;
    FillTable(kUntouched);
    std::string text;
    for (int row = 0; row < 4100; ++row) text += std::to_string(row) + "\n";
    LoadText(world, text);
    EXPECT_EQ(g_DACError[0][0], 0);
    EXPECT_EQ(g_DACError[0][4095], 4095);
    // Row 4096 of channel 0 would be channel 1's first entry.
    for (int row = 0; row < 4; ++row) EXPECT_EQ(g_DACError[1][row], kUntouched);
}

TEST(DacCalibration, UnusableFilesLeaveTheTable) {
    CDeviceWorld world;
    LoadText(world, "11\n");
    ASSERT_EQ(IsDACFileLoaded(), 1);

    std::strcpy(g_strSerialNumber, "7654321");  // no such file
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    EXPECT_EQ(g_DACError[0][0], 11) << "a failed load keeps the old table";

    ASSERT_EQ(mkfifo((world.CalibrationDir() + "/TAVO_DAC7654321.txt").c_str(), 0600), 0);
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0) << "a FIFO is not read (and must not hang)";

    // A serial text that climbs out of the calibration directory is not followed.
    ASSERT_EQ(mkdir((world.CalibrationDir() + "/TAVO_DAC").c_str(), 0700), 0);
    WriteTextFile(world.CalibrationDir() + "/escape.txt", "12\n");
    std::strcpy(g_strSerialNumber, "/../escape");
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    EXPECT_EQ(g_DACError[0][0], 11);
}

// Planes worked by hand: byte 4 + i is 0xFF when bit 11 - i of the code is set.
TEST(DacCalibration, StaticValueCommandBytes) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Add(world.Options(0));
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(FindDevice(0));
    struct Case {
        int code;
        std::vector<uint8_t> planes;
        int decoded;
    };
    const std::vector<Case> cases = {
        {0x800, {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x800},
        {0xFFF, std::vector<uint8_t>(12, 0xFF), 0xFFF},
        {0x1ABC, {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xABC},
        {0, std::vector<uint8_t>(12, 0), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DACSendStaticValue(c.code), 64);
        std::vector<uint8_t> expected(64, 0);
        expected[0] = 0x09;
        expected[1] = 0x01;
        std::copy(c.planes.begin(), c.planes.end(), expected.begin() + 4);
        ASSERT_TRUE(generator->WaitUntil([&](const auto& stats) { return !stats.commands.empty() &&
                                                                         stats.commands.back() == expected; },
                                         5000))
            << std::hex << c.code;
        EXPECT_EQ(generator->Statistics().lastStaticCode, c.decoded);
    }
    EXPECT_FALSE(DACCompensation(nullptr));
}
