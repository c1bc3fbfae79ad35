// Whole-file reads refuse what is not a regular file and never hand out more than was read;
// writes replace a file whole or leave it; temporary names are fixed and bounded.

#include "platform/file_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/path_utils.h"
#include "support/test_support.h"

namespace {
// The bytes read, or {0xEE} when the read failed.
std::vector<unsigned char> Read(const std::string& path) {
    unsigned char* data = nullptr;
    unsigned int size = 12345;
    const bool ok = ReadFileBinaryData(path.c_str(), &data, &size);
    std::unique_ptr<unsigned char[]> owner(data);
    return ok ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>{0xEE};
}
}  // namespace

// Files under /proc claim size 0 however much they hold: nothing unread is handed out.
TEST(ReadFileBinaryData, ReadsRegularFilesWholeAndRefusesTheRest) {
    CTempDir dir;
    WriteBinaryFile(dir.File("five"), {1, 2, 3, 4, 5});
    WriteBinaryFile(dir.File("empty"), {});
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const auto& [path, bytes] : {std::pair{dir.File("five"), std::vector<unsigned char>{1, 2, 3, 4, 5}},
                                      {dir.File("empty"), {}}, {"/proc/self/status", {}}}) {
        EXPECT_EQ(Read(path), bytes) << path;
        EXPECT_NE(OpenInputFile(path.c_str()), nullptr) << path;
    }
    for (const std::string& path : {dir.File("missing"), dir.Path(), dir.File("fifo")}) {
        EXPECT_EQ(Read(path), std::vector<unsigned char>{0xEE}) << path << ": a FIFO must not block or be read";
        EXPECT_EQ(OpenInputFile(path.c_str()), nullptr) << path;
    }
    EXPECT_FALSE(ReadFileBinaryData(nullptr, nullptr, nullptr));
}

// The record writers' tests cut writes short with a file-size limit.
TEST(WriteFileBinaryData, ReplacesTheFileOrLeavesItAsItWas) {
    CTempDir dir;
    const unsigned char bytes[] = {9, 8, 7};
    WriteBinaryFile(dir.File("out"), {1});
    ASSERT_TRUE(WriteFileBinaryData(dir.File("out").c_str(), bytes, 3));
    CreateDirectory(dir.File("sub").c_str(), nullptr);
    CreateDirectory(dir.File("sub").c_str(), nullptr);
    for (const std::string& path : {dir.File("sub"), dir.File("no/such/dir")})
        EXPECT_FALSE(WriteFileBinaryData(path.c_str(), bytes, 3)) << path;
    EXPECT_FALSE(WriteFileBinaryData(dir.File("out").c_str(), nullptr, 3));
    EXPECT_EQ(ReadWholeFile(dir.File("out")), (std::vector<unsigned char>{9, 8, 7}));
    DeleteFile(dir.File("out").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary, no out";
}

TEST(TempNames, AreFixedAndBounded) {
    char dir[kMaxPath], tiny[3] = {'Q', 'Q', 'Q'}, name[kMaxPath];
    EXPECT_EQ(GetTempPath(0, tiny), 0u);
    EXPECT_EQ(tiny[0], 'Q') << "a buffer of no size is not written";
    EXPECT_EQ(GetTempPath(sizeof dir, dir) + GetTempPath(sizeof tiny, tiny), 6u);
    EXPECT_EQ(std::string(dir) + tiny, "/tmp/t");
    EXPECT_EQ(GetTempFileName("/tmp", "tavo", 7, name), 12u);
    EXPECT_STREQ(name, "/tmp/tavoXXX");
    EXPECT_EQ(GetTempFileName(std::string(kMaxPath, 'd').c_str(), "tavo", 0, name), 0u);
    EXPECT_STREQ(name, "");
}
