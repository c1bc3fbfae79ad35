// Whole-file reads refuse what is not a regular file and never hand out more than was read.

#include "platform/file_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

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

TEST(ReadFileBinaryData, ReadsRegularFilesWholeAndRefusesTheRest) {
    CTempDir dir;
    WriteBinaryFile(dir.File("five"), {1, 2, 3, 4, 5});
    WriteBinaryFile(dir.File("empty"), {});
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(Read(dir.File("five")), (std::vector<unsigned char>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(Read(dir.File("empty")).empty());
    // Files under /proc claim size 0 however much they hold: nothing unread is handed out.
    EXPECT_TRUE(Read("/proc/self/status").empty());
    for (const std::string& path : {dir.File("missing"), dir.Path(), dir.File("fifo")})
        EXPECT_EQ(Read(path), std::vector<unsigned char>{0xEE}) << path << ": a FIFO must not block or be read";
    EXPECT_FALSE(ReadFileBinaryData(nullptr, nullptr, nullptr));
}

// A write cut short is a failure, which leaves the file as it was (the record writers'
// tests cut them with a file-size limit).
TEST(WriteFileBinaryData, WritesAndReportsFailure) {
    CTempDir dir;
    const unsigned char bytes[] = {9, 8, 7};
    ASSERT_TRUE(WriteFileBinaryData(dir.File("out").c_str(), bytes, 3));
    EXPECT_EQ(ReadWholeFile(dir.File("out")), (std::vector<unsigned char>{9, 8, 7}));
    EXPECT_FALSE(WriteFileBinaryData(dir.File("no/such/dir").c_str(), bytes, 3));
}

TEST(Directories, CreateToleratesExistingAndDeleteRemoves) {
    CTempDir dir;
    CreateDirectory(dir.File("sub").c_str(), nullptr);
    CreateDirectory(dir.File("sub").c_str(), nullptr);
    struct stat info {};
    EXPECT_TRUE(stat(dir.File("sub").c_str(), &info) == 0 && S_ISDIR(info.st_mode));
    WriteBinaryFile(dir.File("gone"), {1});
    DeleteFile(dir.File("gone").c_str());
    EXPECT_FALSE(FileExists(dir.File("gone")));
}
