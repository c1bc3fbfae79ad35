// Path splitting and joining, record names, the common-rate search and record times.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "platform/common_rate.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
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
        EXPECT_EQ(OrNull(PathFindFileName(c.path)), c.fileName) << c.path;
        EXPECT_EQ(OrNull(PathFindExtension(c.path)), c.extension) << c.path;
        char record[16] = {}, directory[256] = {};
        GetRecordName(c.path, record);
        EXPECT_STREQ(record, c.record) << c.path;
        GetPathName(c.path, directory);
        EXPECT_STREQ(directory, c.directory) << c.path;
    }
    EXPECT_EQ(PathFindFileName(nullptr), nullptr);
}

TEST(PathAppend, JoinsWithOneSlashAndRefusesOverflow) {
    char path[kMaxPath];
    for (const auto& [start, added, joined] : {std::make_tuple("", "r01.hea", "r01.hea"), std::make_tuple("/tmp/edf/", "r01.hea", "/tmp/edf/r01.hea"),
                                               std::make_tuple("c:\\P\\", "r", "c:\\P\\r"), std::make_tuple("dir", "r", "dir/r")}) {
        std::strcpy(path, start);
        EXPECT_TRUE(PathAppend(path, added));
        EXPECT_STREQ(path, joined);
    }
    std::strcpy(path, "dir");
    ASSERT_TRUE(PathAppend(path, std::string(kMaxPath - 5, 'n').c_str())) << "dir/ + fill + NUL = kMaxPath exactly";
    EXPECT_EQ(std::strlen(path), kMaxPath - 1);
    std::strcpy(path, "dir");
    EXPECT_FALSE(PathAppend(path, std::string(kMaxPath - 4, 'n').c_str()));
    EXPECT_STREQ(path, "dir");
}

TEST(TempNames, AreFixedAndBounded) {
    char dir[kMaxPath], tiny[3], name[kMaxPath];
    EXPECT_EQ(GetTempPath(sizeof dir, dir), 4u);
    EXPECT_STREQ(dir, "/tmp");
    EXPECT_EQ(GetTempPath(sizeof tiny, tiny), 2u);
    EXPECT_STREQ(tiny, "/t");
    EXPECT_EQ(GetTempFileName("/tmp", "tavo", 7, name), 12u);
    EXPECT_STREQ(name, "/tmp/tavoXXX");
    EXPECT_EQ(GetTempFileName(std::string(kMaxPath, 'd').c_str(), "tavo", 0, name), 0u);
    EXPECT_STREQ(name, "");
}

// Within 0.1 % two rates are the same; nonsense gives 0, and rates of very different size end quickly.
TEST(CommonRate, FindsTheDivisorWithinTolerance) {
    for (const auto& [a, b, divisor] : {std::make_tuple(250.0, 360.0, 10.0), std::make_tuple(250.0, 256.0, 2.0),
                                        std::make_tuple(100.0, 200.0, 100.0), std::make_tuple(500.0, 500.0, 500.0),
                                        std::make_tuple(0.0, 360.0, 0.0), std::make_tuple(-1.0, 360.0, 0.0),
                                        std::make_tuple(std::nan(""), 360.0, 0.0)})
        EXPECT_DOUBLE_EQ(gcd(a, b), divisor) << a << ", " << b;
    EXPECT_NEAR(gcd(1000, 1000.5), 1000, 1);
    EXPECT_GT(gcd(1e15, 1), 0);
}

TEST(RecordTime, ReadsBaseTimeAndDate) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(GetRecordTime("10:20:30", "25/12/1999"), 946117230);
    EXPECT_EQ(GetRecordTime("10:20:30.5", "25/12/1999"), 946117230);
    EXPECT_EQ(GetRecordTime("", "01/01/1970"), 0);
    EXPECT_EQ(GetRecordTime("00:00:01", "01/01/1970"), 1);
    EXPECT_EQ(GetRecordTime("", ""), -2208988800LL);  // 1 January 1900, before a 32-bit time_t reaches
}
