// Record titles and forms taken from paths.

#include "loaders/record_path.h"

#include <gtest/gtest.h>

TEST(RecordPath, TitleIsTheFileNameUpToItsLastDot) {
    struct Case {
        const char* path;
        const char* title;
    };
    for (const Case& c : {Case{"/data/a01.txt", "a01"}, Case{"rec.v2.ecg", "rec.v2"}, Case{"/data.d/rec", "rec"},
                          Case{"noext", "noext"}, Case{".hidden", ""}, Case{"", ""}}) {
        EXPECT_EQ(RecordFileTitle(c.path), c.title) << c.path;
    }
    EXPECT_EQ(RecordFileTitle(nullptr), "");
}

TEST(RecordPath, FormTestIgnoresCaseAndLooksAtTheWholePath) {
    EXPECT_TRUE(PathContainsNoCase("REC.DCD", ".dcd"));
    EXPECT_TRUE(PathContainsNoCase("/x/a.TxT.d/rec.ecg", ".txt"));
    EXPECT_FALSE(PathContainsNoCase("rec.tx", ".txt"));
    EXPECT_FALSE(PathContainsNoCase(nullptr, ".txt"));
}
