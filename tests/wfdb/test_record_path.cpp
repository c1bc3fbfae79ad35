// Directory, base name and joining of record paths, without length limits.

#include <gtest/gtest.h>

#include <string>

#include "wfdb/record_path.h"

TEST(RecordPath, SplitsDirectoryAndBaseName) {
    struct Case {
        std::string path, directory, baseName;
    };
    const std::string deep = "/" + std::string(300, 'd') + "/100.hea";
    const Case cases[] = {
        {"/data/mit/100.hea", "/data/mit", "100"},  {"100.hea", "./", "100"},
        {"/100.hea", "/", "100"},                   {"dir/rec", "dir", "rec"},
        {"dir/rec.v2.hea", "dir", "rec.v2"},        {"a.b/rec", "a.b", "rec"},
        {deep, "/" + std::string(300, 'd'), "100"}, {"dir/", "dir", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(GetRecordDirectory(c.path), c.directory);
        EXPECT_EQ(GetRecordBaseName(c.path), c.baseName);
    }
}

TEST(RecordPath, JoinsWithOneSlash) {
    EXPECT_EQ(JoinRecordPath("dir", "100"), "dir/100");
    EXPECT_EQ(JoinRecordPath("dir/", "100"), "dir/100");
    EXPECT_EQ(JoinRecordPath("dir\\", "100"), "dir\\100");
    EXPECT_EQ(JoinRecordPath("", "100"), "100");
    EXPECT_EQ(JoinRecordPath("./", "100"), "./100");
}
