// The calibration file: where it is, how its lines fill the table, that a connection reads
// it and the codes on the line follow; and the static-value command.

#include "device/dac_calibration.h"

#include <sys/stat.h>

#include <cstring>
#include <tuple>

#include "device/protocol.h"
#include "device_world.h"
#include "engine/sample_store.h"
#include "tavo/tavo.h"

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
                          Case{0x1ABC, {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, 0xABC}}) {
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
