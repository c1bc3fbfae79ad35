// The form of a record told from its path.

#include "loaders/record_form.h"

#include <gtest/gtest.h>

TEST(RecordForm, PathTestIgnoresCaseAndLooksAtTheWholePath) {
    EXPECT_TRUE(PathContainsNoCase("REC.DCD", ".dcd"));
    EXPECT_TRUE(PathContainsNoCase("/x/a.TxT.d/rec.ecg", ".txt"));
    EXPECT_FALSE(PathContainsNoCase("rec.tx", ".txt"));
    EXPECT_FALSE(PathContainsNoCase(nullptr, ".txt"));
}
