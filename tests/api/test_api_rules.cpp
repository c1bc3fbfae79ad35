// Argument rules of the exports, the version, the header layout seen from C++,
// and the platform-path seam.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>

#include "api/api_lock.h"
#include "platform/platform_paths.h"
#include "tavo/tavo.h"

extern "C" unsigned int CApiVersion(void);

static_assert(offsetof(ECG_HEADER, pWFDBHeader) == 28 && offsetof(ECG_HEADER, Channel) == 44);
static_assert(sizeof(ECG_HEADER) == 64 && sizeof(ECG_CHANNEL) == 20);

TEST(ValidateFrequency, RoundsToHundredthsAndClamps) {
    struct Case {
        double in, out;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{0.004, 0}, Case{0.005, 0.01}, Case{150, 100}, Case{-3, 0}, Case{1.234, 1.23},
                          Case{1.235, 1.24}, Case{99.996, 100}, Case{100.004, 100}, Case{-0.004, 0},
                          Case{std::nan(""), 0}, Case{inf, 100}, Case{-inf, 0}, Case{1e300, 100}, Case{-1e300, 0}}) {
        double f = c.in;
        ValidateFrequency(f);
        EXPECT_DOUBLE_EQ(f, c.out) << "input " << c.in;
    }
}

TEST(ValidateAmplitude, ClampsWithoutRounding) {
    struct Case {
        double in, out;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{12, 10}, Case{-10.5, -10}, Case{9.999, 9.999}, Case{-10, -10},
                          Case{std::nan(""), 0}, Case{inf, 10}, Case{-inf, -10}}) {
        double a = c.in;
        ValidateAmplitude(a);
        EXPECT_DOUBLE_EQ(a, c.out) << "input " << c.in;
    }
}

TEST(Version, PacksFourFieldsOneBytePerField) {
    EXPECT_EQ(TAVOGetVersion(), 0x01000504u);
    EXPECT_EQ(TAVOGetVersion(), 16778500u);
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
    EXPECT_EQ(GetDeviceDirectory(), "/tmp/d");
    EXPECT_EQ(GetLockDirectory(), "/var/lock");
    EXPECT_EQ(TAVOSetPlatformPaths(nullptr, "/tmp/l", "/tmp/c"), 1);
    EXPECT_EQ(GetLockDirectory(), "/tmp/l");
    EXPECT_EQ(GetCalibrationDirectory(), "/tmp/c");
    EXPECT_EQ(TAVOSetPlatformPaths(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(GetDeviceDirectory(), "/tmp/d");
    const std::string tooLong(kMaxPlatformPath + 1, 'x');
    EXPECT_EQ(TAVOSetPlatformPaths("/tmp/e", tooLong.c_str(), nullptr), 0);
    EXPECT_EQ(TAVOSetPlatformPaths("", nullptr, nullptr), 0);
    EXPECT_EQ(GetDeviceDirectory(), "/tmp/d") << "a refused call changes nothing";
}
