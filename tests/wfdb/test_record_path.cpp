// Record paths split and joined without length limits.

#include <gtest/gtest.h>

#include <string>

#include "wfdb/record_path.h"

TEST(RecordPath, SplitsAndJoinsPaths) {
    struct Case {
        std::string path, directory, baseName;
    };
    const std::string deep = "/" + std::string(300, 'd');
    for (const Case& c : {Case{"/data/mit/100.hea", "/data/mit", "100"}, Case{"100.hea", "./", "100"},
                          Case{"/100.hea", "/", "100"}, Case{"dir/rec.v2.hea", "dir", "rec.v2"},
                          Case{"a.b/rec", "a.b", "rec"}, Case{deep + "/100.hea", deep, "100"}, Case{"dir/", "dir", ""}}) {
        EXPECT_EQ(GetRecordDirectory(c.path), c.directory) << c.path;
        EXPECT_EQ(GetRecordBaseName(c.path), c.baseName) << c.path;
    }
    EXPECT_EQ(JoinRecordPath("dir", "100"), "dir/100");
    EXPECT_EQ(JoinRecordPath("dir/", "100"), "dir/100");
    EXPECT_EQ(JoinRecordPath("dir\\", "100"), "dir\\100");
    EXPECT_EQ(JoinRecordPath("", "100"), "100");
}
