// Path splitting and joining, record names, the common-rate search and record times.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/common_rate.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "platform/record_time.h"

TEST(PathFindFileName, FindsTheNameAfterTheLastInnerSlash) {
    EXPECT_STREQ(PathFindFileName("/data/100.hea"), "100.hea");
    EXPECT_STREQ(PathFindFileName("100.hea"), "100.hea");
    EXPECT_STREQ(PathFindFileName("dir/sub/"), "sub/");
    EXPECT_STREQ(PathFindFileName("/"), "/");
    EXPECT_STREQ(PathFindFileName("a"), "a");
    EXPECT_EQ(PathFindFileName(""), nullptr);
    EXPECT_EQ(PathFindFileName(nullptr), nullptr);
}

TEST(PathFindExtension, FindsTheLastDotOfTheWholePath) {
    EXPECT_STREQ(PathFindExtension("/data/rec.edf"), ".edf");
    EXPECT_STREQ(PathFindExtension("/a.b/rec"), ".b/rec");
    EXPECT_EQ(PathFindExtension("/data/rec"), nullptr);
    EXPECT_EQ(PathFindExtension(""), nullptr);
}

TEST(GetRecordName, CutsTheExtensionAndLimitsTo15Characters) {
    char name[16] = {};
    GetRecordName("/data/100.hea", name);
    EXPECT_STREQ(name, "100");
    char longName[16] = {};
    GetRecordName("/x/abcdefghijklmnopq.edf", longName);
    EXPECT_STREQ(longName, "abcdefghijklmno");
    char dotted[16] = {};
    GetRecordName("a.b.c", dotted);
    EXPECT_STREQ(dotted, "a.b");
    char empty[16] = {};
    GetRecordName("", empty);
    EXPECT_STREQ(empty, "");
}

TEST(GetPathName, CutsAtTheLastSlash) {
    char out[256];
    GetPathName("100.hea", out);
    EXPECT_STREQ(out, "./");
    GetPathName("/x", out);
    EXPECT_STREQ(out, "");
    GetPathName("/data/mit/100.hea", out);
    EXPECT_STREQ(out, "/data/mit");
    const std::string deep = std::string(300, 'd') + "/r.hea";
    GetPathName(deep.c_str(), out);
    EXPECT_STREQ(out, "./") << "only the first 255 characters are looked at";
}

TEST(PathAppend, JoinsWithOneSlashAndRefusesOverflow) {
    char path[kMaxPath] = "";
    ASSERT_TRUE(PathAppend(path, "r01.hea"));
    EXPECT_STREQ(path, "r01.hea");
    std::strcpy(path, "/tmp/edf/");
    ASSERT_TRUE(PathAppend(path, "r01.hea"));
    EXPECT_STREQ(path, "/tmp/edf/r01.hea");
    std::strcpy(path, "c:\\Physionet\\");
    ASSERT_TRUE(PathAppend(path, "r"));
    EXPECT_STREQ(path, "c:\\Physionet\\r");
    std::strcpy(path, "dir");
    const std::string fill(kMaxPath - 5, 'n');  // "dir" + "/" + fill + NUL = kMaxPath exactly
    ASSERT_TRUE(PathAppend(path, fill.c_str()));
    EXPECT_EQ(std::strlen(path), kMaxPath - 1);
    std::strcpy(path, "dir");
    const std::string tooLong(kMaxPath - 4, 'n');
    EXPECT_FALSE(PathAppend(path, tooLong.c_str()));
    EXPECT_STREQ(path, "dir");
}

TEST(TempNames, AreFixedAndBounded) {
    char dir[kMaxPath];
    EXPECT_EQ(GetTempPath(sizeof dir, dir), 4u);
    EXPECT_STREQ(dir, "/tmp");
    char tiny[3];
    EXPECT_EQ(GetTempPath(sizeof tiny, tiny), 2u);
    EXPECT_STREQ(tiny, "/t");
    char name[kMaxPath];
    EXPECT_EQ(GetTempFileName("/tmp", "tavo", 7, name), 12u);
    EXPECT_STREQ(name, "/tmp/tavoXXX");
    const std::string longDir(kMaxPath, 'd');
    EXPECT_EQ(GetTempFileName(longDir.c_str(), "tavo", 0, name), 0u);
    EXPECT_STREQ(name, "");
}

TEST(CommonRate, FindsTheDivisorWithinTolerance) {
    EXPECT_DOUBLE_EQ(gcd(250, 360), 10);
    EXPECT_DOUBLE_EQ(gcd(250, 256), 2);
    EXPECT_DOUBLE_EQ(gcd(100, 200), 100);
    EXPECT_DOUBLE_EQ(gcd(500, 500), 500);
    EXPECT_NEAR(gcd(1000, 1000.5), 1000, 1);  // within 0.1 %: the same rate
    EXPECT_DOUBLE_EQ(gcd(0, 360), 0);
    EXPECT_DOUBLE_EQ(gcd(-1, 360), 0);
    EXPECT_DOUBLE_EQ(gcd(std::nan(""), 360), 0);
    EXPECT_GT(gcd(1e15, 1), 0) << "rates of very different size end quickly";
}

TEST(RecordTime, ReadsBaseTimeAndDate) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(GetRecordTime("10:20:30", "25/12/1999"), 946117230);
    EXPECT_EQ(GetRecordTime("10:20:30.5", "25/12/1999"), 946117230);
    EXPECT_EQ(GetRecordTime("", "01/01/1970"), 0);
    EXPECT_EQ(GetRecordTime("00:00:01", "01/01/1970"), 1);
    // 1 January 1900 lies before a 32-bit time_t can reach: 0 for a failed conversion.
    const time_t epoch1900 = sizeof(time_t) >= 8 ? static_cast<time_t>(-2208988800LL) : 0;
    EXPECT_EQ(GetRecordTime("", ""), epoch1900);
}
