// Whole-file reads refuse what is not a regular file and never hand out more than was read.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <memory>

#include "platform/file_utils.h"
#include "support/test_support.h"

namespace {
struct ReadResult {
    bool ok;
    std::vector<unsigned char> bytes;
};

ReadResult Read(const std::string& path) {
    unsigned char* data = nullptr;
    unsigned int size = 12345;
    const bool ok = ReadFileBinaryData(path.c_str(), &data, &size);
    std::unique_ptr<unsigned char[]> owner(data);
    return {ok, ok ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>{}};
}
}  // namespace

TEST(ReadFileBinaryData, ReadsRegularFilesWhole) {
    CTempDir dir;
    WriteBinaryFile(dir.File("five"), {1, 2, 3, 4, 5});
    const ReadResult five = Read(dir.File("five"));
    ASSERT_TRUE(five.ok);
    EXPECT_EQ(five.bytes, (std::vector<unsigned char>{1, 2, 3, 4, 5}));
    WriteBinaryFile(dir.File("empty"), {});
    const ReadResult empty = Read(dir.File("empty"));
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.bytes.empty());
}

TEST(ReadFileBinaryData, RefusesWhatIsNotARegularFile) {
    CTempDir dir;
    EXPECT_FALSE(Read(dir.File("missing")).ok);
    EXPECT_FALSE(Read(dir.Path()).ok) << "a directory";
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(Read(dir.File("fifo")).ok) << "a FIFO must not block or be read";
    EXPECT_FALSE(ReadFileBinaryData(nullptr, nullptr, nullptr));
}

TEST(ReadFileBinaryData, ReportsOnlyWhatWasReallyRead) {
    // Files under /proc claim size 0 however much they hold: nothing unread is handed out.
    const ReadResult status = Read("/proc/self/status");
    ASSERT_TRUE(status.ok);
    EXPECT_TRUE(status.bytes.empty());
}

TEST(WriteFileBinaryData, WritesAndReportsFailure) {
    CTempDir dir;
    const unsigned char bytes[] = {9, 8, 7};
    ASSERT_TRUE(WriteFileBinaryData(dir.File("out").c_str(), bytes, 3));
    EXPECT_EQ(ReadWholeFile(dir.File("out")), (std::vector<unsigned char>{9, 8, 7}));
    EXPECT_FALSE(WriteFileBinaryData(dir.File("no/such/dir").c_str(), bytes, 3));
}

// A write cut short (here by a file-size limit) is a failure, not success.
TEST(WriteFileBinaryData, ReportsAShortWrite) {
    CTempDir dir;
    const std::string path = dir.File("limited");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{2, 2};
        setrlimit(RLIMIT_FSIZE, &limit);
        const unsigned char bytes[] = {1, 2, 3};
        _exit(WriteFileBinaryData(path.c_str(), bytes, 3) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Directories, CreateToleratesExistingAndDeleteRemoves) {
    CTempDir dir;
    const std::string sub = dir.File("sub");
    CreateDirectory(sub.c_str(), nullptr);
    CreateDirectory(sub.c_str(), nullptr);
    struct stat info {};
    ASSERT_EQ(stat(sub.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    WriteBinaryFile(dir.File("gone"), {1});
    DeleteFile(dir.File("gone").c_str());
    EXPECT_FALSE(FileExists(dir.File("gone")));
}
