// Argument rules of the exports, the version, and the platform-path seam.
// The header's byte layout is checked by the C translation unit.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "api/api_lock.h"
#include "platform/platform_paths.h"
#include "tavo/tavo.h"

extern "C" unsigned int CApiVersion(void);

// Frequencies round to hundredths inside 0-100; amplitudes clamp to +-10 without rounding.
TEST(ValidateArguments, RoundAndClampEveryDouble) {
    struct Case { bool isFrequency; double in, out; };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (const Case& c : {Case{true, 0.004, 0}, {true, 0.005, 0.01}, {true, 150, 100}, {true, -3, 0}, {true, 1.234, 1.23},
                          {true, 1.235, 1.24}, {true, 99.996, 100}, {true, 100.004, 100}, {true, -0.004, 0}, {true, nan, 0},
                          {true, inf, 100}, {true, -inf, 0}, {true, 1e300, 100}, {true, -1e300, 0}, {false, 12, 10},
                          {false, -10.5, -10}, {false, 9.999, 9.999}, {false, -10, -10}, {false, nan, 0}, {false, inf, 10},
                          {false, -inf, -10}}) {
        double value = c.in;
        (c.isFrequency ? ValidateFrequency : ValidateAmplitude)(value);
        EXPECT_DOUBLE_EQ(value, c.out) << "input " << c.in << (c.isFrequency ? " Hz" : " mV");
    }
}

TEST(Version, PacksFourFieldsOneBytePerField) {
    EXPECT_EQ(TAVOGetVersion(), 0x01000504u);
    EXPECT_EQ(CApiVersion(), 0x01000504u) << "called from a C translation unit";
    EXPECT_EQ(ConvertVersion(nullptr), 0u);
    EXPECT_EQ(ConvertVersion("2.10.300.4"), (2u << 24) | (10u << 16) | ((300u & 0xFF) << 8) | 4u);
    EXPECT_EQ(ConvertVersion("3"), 3u << 24);
}

TEST(PlatformPaths, ReplacesOnlyTheGivenDirectories) {
    EXPECT_EQ(GetDeviceDirectory(), "/dev");
    EXPECT_EQ(GetLockDirectory(), "/var/lock");
    EXPECT_EQ(GetCalibrationDirectory(), "/usr/local/kestrane/tavo");
    EXPECT_EQ(TAVOSetPlatformPaths("/tmp/d", nullptr, nullptr), 1);
    EXPECT_EQ(GetLockDirectory(), "/var/lock");
    EXPECT_EQ(TAVOSetPlatformPaths(nullptr, "/tmp/l", "/tmp/c"), 1);
    EXPECT_EQ(TAVOSetPlatformPaths(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::tuple(GetDeviceDirectory(), GetLockDirectory(), GetCalibrationDirectory()),
              std::tuple("/tmp/d", "/tmp/l", "/tmp/c"));
    const std::string tooLong(kMaxPlatformPath + 1, 'x');
    EXPECT_EQ(TAVOSetPlatformPaths("/tmp/e", tooLong.c_str(), nullptr), 0);
    EXPECT_EQ(TAVOSetPlatformPaths("", nullptr, nullptr), 0);
    EXPECT_EQ(GetDeviceDirectory(), "/tmp/d") << "a refused call changes nothing";
}
