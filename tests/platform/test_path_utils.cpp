// Path splitting and joining, record names, the configurable directories, the common-rate
// search and record times.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/common_rate.h"
#include "platform/path_utils.h"
#include "platform/platform_paths.h"
#include "platform/record_time.h"

namespace {
std::string OrNull(const char* text) { return text == nullptr ? "(null)" : text; }
}  // namespace

// GetPathName looks at the first 255 characters only; GetRecordName keeps at most 15.
TEST(PathParts, NameExtensionRecordAndDirectory) {
    const std::string deep = std::string(300, 'd') + "/r.hea";
    struct Case { const char *path, *fileName, *extension, *record, *directory; };
    for (const Case& c : {Case{"/data/100.hea", "100.hea", ".hea", "100", "/data"},
                          Case{"100.hea", "100.hea", ".hea", "100", "./"}, Case{"dir/sub/", "sub/", "(null)", "sub/", "dir/sub"},
                          Case{"/a.b/rec", "rec", ".b/rec", "rec", "/a.b"}, Case{"/", "/", "(null)", "/", ""},
                          Case{"a.b.c", "a.b.c", ".c", "a.b", "./"}, Case{"/x/abcdefghijklmnopq.edf", "abcdefghijklmnopq.edf", ".edf", "abcdefghijklmno", "/x"},
                          Case{"", "(null)", "(null)", "", "./"}, Case{deep.c_str(), "r.hea", ".hea", "r", "./"}}) {
        char record[16] = {}, directory[256] = {};
        GetRecordName(c.path, record);
        GetPathName(c.path, directory);
        EXPECT_EQ((std::vector<std::string>{OrNull(PathFindFileName(c.path)), OrNull(PathFindExtension(c.path)), record, directory}),
                  (std::vector<std::string>{c.fileName, c.extension, c.record, c.directory})) << c.path;
    }
    EXPECT_EQ(PathFindFileName(nullptr), nullptr);
}

// A refused append leaves the path as it was.
TEST(PathAppend, JoinsWithOneSlashAndRefusesOverflow) {
    const std::string fits(kMaxPath - 5, 'n'), joined = "dir/" + fits, overflows = fits + "n";  // joined + NUL is kMaxPath
    for (const auto& [start, added, isJoined, result] :
         {std::tuple{"", "r01.hea", true, "r01.hea"}, {"/tmp/edf/", "r01.hea", true, "/tmp/edf/r01.hea"},
          {"c:\\P\\", "r", true, "c:\\P\\r"}, {"dir", "r", true, "dir/r"}, {"dir", fits.c_str(), true, joined.c_str()},
          {"dir", overflows.c_str(), false, "dir"}, {"dir", nullptr, false, "dir"}}) {
        char path[kMaxPath];
        std::strcpy(path, start);
        EXPECT_EQ(PathAppend(path, added), isJoined) << start;
        EXPECT_STREQ(path, result) << start;
    }
    EXPECT_FALSE(PathAppend(nullptr, "r"));
}

// A refused replacement changes none of the three; a null keeps its directory.
TEST(PlatformPaths, ReplaceWhatIsGivenOrNothing) {
    const std::string longest(kMaxPlatformPath, 'd'), tooLong(kMaxPlatformPath + 1, 'd');
    EXPECT_EQ(GetDeviceDirectory() + GetLockDirectory() + GetCalibrationDirectory(), "/dev/var/lock/usr/local/kestrane/tavo");
    ASSERT_TRUE(ReplacePlatformPaths("/t/dev", nullptr, longest.c_str()));
    for (const auto& [device, lock, calibration] : {std::tuple{"/x", "/y", ""}, {"", nullptr, nullptr}, {nullptr, tooLong.c_str(), "/z"}})
        EXPECT_FALSE(ReplacePlatformPaths(device, lock, calibration));
    EXPECT_EQ(GetDeviceDirectory() + GetLockDirectory() + GetCalibrationDirectory(), "/t/dev/var/lock" + longest);
}

// Within 0.1 % two rates are the same; nonsense gives 0, and rates of very different size end quickly.
TEST(CommonRate, FindsTheDivisorWithinTolerance) {
    for (const auto& [a, b, divisor] : {std::tuple{250.0, 360.0, 10.0}, {360.0, 250.0, 10.0}, {250.0, 256.0, 2.0},
                                        {100.0, 200.0, 100.0}, {500.0, 500.0, 500.0}, {0.0, 360.0, 0.0}, {360.0, -1.0, 0.0},
                                        {std::nan(""), 360.0, 0.0}})
        EXPECT_DOUBLE_EQ(gcd(a, b), divisor) << a << ", " << b;
    EXPECT_TRUE(std::abs(gcd(1000, 1000.5) - 1000) <= 1 && gcd(1e15, 1) > 0);
}

// 1 January 1900 lies before a 32-bit time_t reaches: time_t is 64-bit on every build.
TEST(RecordTime, ReadsBaseTimeAndDate) {
    setenv("TZ", "UTC", 1);
    tzset();
    for (const auto& [time, date, seconds] : {std::tuple{"10:20:30.5", "25/12/1999", time_t(946117230)}, {"", "01/01/1970", 0},
                                              {"00:00:01", "01/01/1970", 1}, {"", "", time_t(-2208988800LL)}})
        EXPECT_EQ(GetRecordTime(time, date), seconds) << time << " " << date;
}
