// Whole-file reads refuse what is not a regular file and never hand out more than was read;
// writes replace a file whole or leave it. Path
// splitting and joining, record names, the configurable directories, the common-rate search
// and record times.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/common_rate.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "platform/platform_paths.h"
#include "platform/record_time.h"
#include "support/test_support.h"

namespace {
std::string OrNull(const char* text) { return text == nullptr ? "(null)" : text; }
// The bytes read, or {0xEE} when the read failed.
std::vector<unsigned char> Read(const std::string& path) {
    unsigned char* data = nullptr;
    unsigned int size = 12345;
    const bool ok = ReadFileBinaryData(path.c_str(), &data, &size);
    std::unique_ptr<unsigned char[]> owner(data);
    return ok ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>{0xEE};
}
}  // namespace

// Files under /proc claim size 0 however much they hold: nothing unread is handed out. A FIFO
// must not block or be read.
TEST(ReadFileBinaryData, ReadsRegularFilesWholeAndRefusesTheRest) {
    CTempDir dir;
    WriteBinaryFile(dir.File("five"), {1, 2, 3, 4, 5});
    WriteBinaryFile(dir.File("empty"), {});
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const auto& [path, bytes] : {std::pair{dir.File("five"), std::vector<unsigned char>{1, 2, 3, 4, 5}}, {dir.File("empty"), {}},
                                      {"/proc/self/status", {}}, {dir.File("missing"), {0xEE}}, {dir.Path(), {0xEE}}, {dir.File("fifo"), {0xEE}}})
        EXPECT_TRUE(Read(path) == bytes && (OpenInputFile(path.c_str()) == nullptr) == (bytes == std::vector<unsigned char>{0xEE})) << path;
    EXPECT_FALSE(ReadFileBinaryData(nullptr, nullptr, nullptr));
    // A program without standard input may be handed descriptor 0: it is closed like any other.
    EXPECT_EQ(ExitCodeInChild([] { close(0), CFileHandle(open(".", O_RDONLY)); return fcntl(0, F_GETFD) == -1 ? 0 : 1; }), 0);
}

// The record writers' tests cut writes short with a file-size limit.
TEST(WriteFileBinaryData, ReplacesTheFileOrLeavesItAsItWas) {
    CTempDir dir;
    const unsigned char bytes[] = {9, 8, 7};
    WriteBinaryFile(dir.File("out"), {1});
    ASSERT_TRUE(WriteFileBinaryData(dir.File("out").c_str(), bytes, 3));
    for (int i = 0; i < 2; ++i) CreateDirectory(dir.File("sub").c_str(), nullptr);
    for (const std::string& path : {dir.File("sub"), dir.File("no/such/dir")}) EXPECT_FALSE(WriteFileBinaryData(path.c_str(), bytes, 3)) << path;
    EXPECT_FALSE(WriteFileBinaryData(dir.File("out").c_str(), nullptr, 3));
    EXPECT_EQ(ReadWholeFile(dir.File("out")), (std::vector<unsigned char>{9, 8, 7}));
    DeleteFile(dir.File("out").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub")) && std::distance(std::filesystem::directory_iterator(dir.Path()), {}) == 1)
        << "no temporary, no out";
}

// GetPathName looks at the first 255 characters only; GetRecordName keeps at most 15.
TEST(PathParts, NameExtensionRecordAndDirectory) {
    const std::string deep = std::string(300, 'd') + "/r.hea";
    struct Case { const char *path, *fileName, *extension, *record, *directory; };
    for (const Case& c : {Case{"/data/100.hea", "100.hea", ".hea", "100", "/data"}, {"100.hea", "100.hea", ".hea", "100", "./"},
                          {"dir/sub/", "sub/", "(null)", "sub/", "dir/sub"}, {"/a.b/rec", "rec", ".b/rec", "rec", "/a.b"},
                          {"/", "/", "(null)", "/", ""}, {"a.b.c", "a.b.c", ".c", "a.b", "./"}, {"", "(null)", "(null)", "", "./"},
                          {"/x/abcdefghijklmnopq.edf", "abcdefghijklmnopq.edf", ".edf", "abcdefghijklmno", "/x"}, {deep.c_str(), "r.hea", ".hea", "r", "./"}}) {
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
         {std::tuple{"", "r01.hea", true, "r01.hea"}, {"/tmp/edf/", "r01.hea", true, "/tmp/edf/r01.hea"}, {"c:\\P\\", "r", true, "c:\\P\\r"},
          {"dir", "r", true, "dir/r"}, {"dir", fits.c_str(), true, joined.c_str()}, {"dir", overflows.c_str(), false, "dir"}, {"dir", nullptr, false, "dir"}}) {
        char path[kMaxPath];
        std::strcpy(path, start);
        EXPECT_TRUE(PathAppend(path, added) == isJoined && std::string(path) == result) << start;
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

// Within 0.1 % two rates are the same; nonsense gives 0, and rates of very different size end
// quickly. 1 January 1900 lies before a 32-bit time_t reaches: time_t is 64-bit on every build.
TEST(CommonRateAndRecordTime, FindTheDivisorWithinToleranceAndReadBaseTimeAndDate) {
    for (const auto& [a, b, divisor] : {std::tuple{250.0, 360.0, 10.0}, {360.0, 250.0, 10.0}, {250.0, 256.0, 2.0}, {100.0, 200.0, 100.0},
                                        {500.0, 500.0, 500.0}, {0.0, 360.0, 0.0}, {360.0, -1.0, 0.0}, {std::nan(""), 360.0, 0.0}})
        EXPECT_DOUBLE_EQ(gcd(a, b), divisor) << a << ", " << b;
    EXPECT_TRUE(std::abs(gcd(1000, 1000.5) - 1000) <= 1 && gcd(1e15, 1) > 0);
    setenv("TZ", "UTC", 1);
    tzset();
    for (const auto& [time, date, seconds] : {std::tuple{"10:20:30.5", "25/12/1999", time_t(946117230)}, {"", "01/01/1970", 0},
                                              {"00:00:01", "01/01/1970", 1}, {"", "", time_t(-2208988800LL)}})
        EXPECT_EQ(GetRecordTime(time, date), seconds) << time << " " << date;
}
