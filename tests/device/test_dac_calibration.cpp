// The calibration file: where it is, how its lines fill the table, when it applies; and
// the static-value command.

#include "device/dac_calibration.h"

#include <sys/stat.h>

#include <cstring>
#include <tuple>

#include "device/protocol.h"
#include "device_world.h"

namespace {

constexpr double kUntouched = 99.0;

// Writes the calibration file of the short serial number and loads it as a 12-bit device would.
void LoadText(const CDeviceWorld& world, const std::string& text) {
    for (auto& channel : g_DACError) std::fill(std::begin(channel), std::end(channel), kUntouched);
    std::strcpy(g_strSerialNumber, "1603025");
    g_nDACBit = 0;
    WriteTextFile(world.CalibrationDir() + "/TAVO_DAC1603025.txt", text);
    LoadDACFile();
}

}  // namespace

TEST(DacCalibration, LoadsTheFileNamedAfterTheConnectedDevice) {
    CDeviceWorld world;
    ASSERT_NE(world.Connect(), nullptr);
    ReadDeviceHWInfo();
    EXPECT_EQ(std::string(GetDACFilePath()), world.CalibrationDir() + "/TAVO_DAC03-170025.txt");
    WriteTextFile(GetDACFilePath(), "2048, 2049\n7\n");
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 1);
    EXPECT_EQ(std::make_tuple(g_DACError[0][0], g_DACError[1][0], g_DACError[0][1]), std::make_tuple(2048.0, 2049.0, 7.0));
}

TEST(DacCalibration, SixteenBitDeviceNeverLoads) {
    CDeviceWorld world;
    ASSERT_NE(world.Connect([](VirtualGeneratorOptions& o) { o.has16BitDac = true; }), nullptr);
    ReadDeviceHWInfo();
    ASSERT_EQ(g_nDACBit, 1);
    WriteTextFile(GetDACFilePath(), "2050\n");
    g_bDACAvailable = 1;
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    EXPECT_EQ(g_DACError[0][0], 0);
}

// Each line fills one row, its values channels 0 to 7 in turn. An empty line still sets channel 0,
// a non-number or a non-finite value reads as 0, and a line end after a blank is a token of its own.
// At most 8 values a line and 4096 rows; a line longer than one read of 255 continues as the next row.
TEST(DacCalibration, LinesFillTheTableWithinItsBounds) {
    struct Cell { int channel, row; double value; };
    struct Case { std::string text; std::vector<Cell> cells; };
    std::string rows;
    for (int row = 0; row < 4100; ++row) rows += std::to_string(row) + "\n";
    const std::vector<Case> cases = {
        {"2048, 2049\n2048,2049\n2048  2049\n ,2048 ,, 2049\r\n", {{0, 0, 2048}, {1, 0, 2049}, {0, 3, 2048}, {1, 3, 2049}}},
        {"5,6\n\nabc,7\nnan inf -1e400\n1, \n2.5e1",
         {{0, 0, 5}, {1, 0, 6}, {0, 1, 0}, {1, 1, kUntouched}, {0, 2, 0}, {1, 2, 7}, {0, 3, 0}, {1, 3, 0}, {2, 3, 0},
          {0, 4, 1}, {1, 4, 0}, {2, 4, kUntouched}, {0, 5, 25}, {0, 6, kUntouched}}},
        {"1 2 3 4 5 6 7 8 9 10\n", {{0, 0, 1}, {7, 0, 8}, {0, 1, kUntouched}}},
        {"7" + std::string(254, ' ') + "9\n3\n", {{0, 0, 7}, {1, 0, kUntouched}, {0, 1, 9}, {0, 2, 3}}},
        {rows, {{0, 4095, 4095}, {1, 0, kUntouched}, {1, 3, kUntouched}}},  // row 4096 would be channel 1's first
    };
    for (const Case& c : cases) {
        CDeviceWorld world;
        LoadText(world, c.text);
        EXPECT_EQ(IsDACFileLoaded(), 1);
        for (const Cell& cell : c.cells)
            EXPECT_EQ(g_DACError[cell.channel][cell.row], cell.value) << c.text.substr(0, 40) << " @" << cell.channel << "," << cell.row;
    }
}

TEST(DacCalibration, UnusableFilesLeaveTheTable) {
    CDeviceWorld world;
    LoadText(world, "11\n");
    ASSERT_EQ(IsDACFileLoaded(), 1);
    std::strcpy(g_strSerialNumber, "7654321");  // no such file
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    ASSERT_EQ(mkfifo((world.CalibrationDir() + "/TAVO_DAC7654321.txt").c_str(), 0600), 0);
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0) << "a FIFO is not read (and must not hang)";
    // A serial text that climbs out of the calibration directory is not followed.
    ASSERT_EQ(mkdir((world.CalibrationDir() + "/TAVO_DAC").c_str(), 0700), 0);
    WriteTextFile(world.CalibrationDir() + "/escape.txt", "12\n");
    std::strcpy(g_strSerialNumber, "/../escape");
    LoadDACFile();
    EXPECT_EQ(IsDACFileLoaded(), 0);
    EXPECT_EQ(g_DACError[0][0], 11) << "a failed load keeps the old table";
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
