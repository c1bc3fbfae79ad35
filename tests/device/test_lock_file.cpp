// Lock files: who may take a port, which files are stale, and what is never followed or removed.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#include "device/lock_file.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "tavo/tavo.h"

namespace {

// A child that lives until its pipe is closed.
class CLiveChild {
public:
    CLiveChild() {
        int fds[2];
        if (pipe(fds) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[1]);
            char byte;
            while (read(fds[0], &byte, 1) < 0) {
            }
            _exit(0);
        }
        close(fds[0]);
        m_pipe = fds[1];
    }
    ~CLiveChild() { Finish(); }
    int Pid() const { return m_pid; }
    void Finish() {
        if (m_pid <= 0) return;
        close(m_pipe);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    int m_pid = -1;
    int m_pipe = -1;
};

// The pid of a process that has ended and been reaped.
int FinishedPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

bool IsSymlink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

TEST(LockFile, HoldsThisProcessIdAndGoesAwayOnUnlock) {
    CDeviceWorld world;
    ASSERT_TRUE(LockDevice(7));
    struct stat info {};
    ASSERT_EQ(stat(world.LockPath(7).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadWholeFile(world.LockPath(7)), PidBytes(getpid())) << "exactly 4 bytes, no text";
    EXPECT_STREQ(g_szLockFilePath, world.LockPath(7).c_str());
    UnlockDevice();
    EXPECT_FALSE(FileExists(world.LockPath(7)));
    EXPECT_EQ(g_nLockFile, -1);
    EXPECT_STREQ(g_szLockFilePath, "");
}

TEST(LockFile, LiveOwnerBlocksThePortUntilItEnds) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Add(world.Options(0));
    ASSERT_NE(generator, nullptr);
    CLiveChild child;
    ASSERT_GT(child.Pid(), 0);
    WriteLockFile(world.LockPath(0), PidBytes(child.Pid()));

    EXPECT_FALSE(FindDevice(0));
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_EQ(LockOwner(world.LockPath(0)), child.Pid()) << "a live owner's lock is left alone";
    EXPECT_TRUE(generator->Statistics().commands.empty()) << "a locked port is never probed";

    child.Finish();
    ASSERT_TRUE(FindDevice(0)) << "the owner has ended: its lock is stale";
    EXPECT_EQ(LockOwner(world.LockPath(0)), getpid());
}

TEST(LockFile, ThisProcessOwnLockAlsoBlocks) {
    CDeviceWorld world;
    WriteLockFile(world.LockPath(2), PidBytes(getpid()));
    EXPECT_FALSE(LockDevice(2));
    EXPECT_EQ(LockOwner(world.LockPath(2)), getpid());
}

TEST(LockFile, FinishedOwnerIsTakenOver) {
    CDeviceWorld world;
    ASSERT_NE(world.Add(world.Options(0)), nullptr);
    WriteLockFile(world.LockPath(0), PidBytes(FinishedPid()));
    ASSERT_TRUE(FindDevice(0));
    EXPECT_EQ(LockOwner(world.LockPath(0)), getpid());
}

// 0 and negative numbers address process groups with kill(); they name no owner.
TEST(LockFile, ProcessGroupNumbersAreStale) {
    for (const int pid : {0, -1, INT32_MIN}) {
        CDeviceWorld world;
        ASSERT_NE(world.Add(world.Options(0)), nullptr);
        WriteLockFile(world.LockPath(0), PidBytes(pid));
        EXPECT_TRUE(FindDevice(0)) << "pid " << pid;
        EXPECT_EQ(LockOwner(world.LockPath(0)), getpid()) << "pid " << pid;
        DeviceClose();
    }
}

TEST(LockFile, ShortFilesBlockAndStay) {
    for (size_t length = 0; length < 4; ++length) {
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(world.Options(0));
        ASSERT_NE(generator, nullptr);
        const std::vector<unsigned char> bytes(length, 0x01);
        WriteLockFile(world.LockPath(0), bytes);
        EXPECT_FALSE(FindDevice(0)) << length << " bytes";
        EXPECT_EQ(ReadWholeFile(world.LockPath(0)), bytes) << length << " bytes";
        EXPECT_TRUE(generator->Statistics().commands.empty());
    }
}

// kill() answers EPERM for a live process of another user: that owner is alive.
TEST(LockFile, LiveOwnerOfAnotherUserBlocks) {
    CDeviceWorld world;
    if (geteuid() != 0) {
        WriteLockFile(world.LockPath(0), PidBytes(1));  // init: alive, and not ours
        EXPECT_FALSE(LockDevice(0));
        EXPECT_EQ(LockOwner(world.LockPath(0)), 1);
        return;
    }
    // As root every kill() succeeds, so ask from a child that has become nobody.
    CTempDir shared;
    ASSERT_EQ(chmod(shared.Path().c_str(), 0777), 0);
    ASSERT_EQ(TAVOSetPlatformPaths(nullptr, shared.Path().c_str(), nullptr), 1);
    const std::string lockPath = shared.File("kestrane.ACM0.lock");
    WriteLockFile(lockPath, PidBytes(getpid()));
    ASSERT_EQ(chmod(lockPath.c_str(), 0666), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        _exit(LockDevice(0) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user's live lock must block the port";
    EXPECT_EQ(LockOwner(lockPath), getpid());
}

TEST(LockFile, PlantedLinksAndSpecialFilesAreNeverFollowed) {
    CDeviceWorld world;
    const std::string target = world.Scratch("victim");
    const std::vector<unsigned char> victimBytes = PidBytes(FinishedPid());
    WriteBinaryFile(target, victimBytes);
    ASSERT_EQ(symlink(target.c_str(), world.LockPath(0).c_str()), 0);
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, target.c_str(), IN_OPEN | IN_ACCESS), 0);
    EXPECT_FALSE(LockDevice(0));
    char events[4096];
    EXPECT_LT(read(watcher, events, sizeof events), 0) << "the link's target was opened";
    close(watcher);
    EXPECT_TRUE(IsSymlink(world.LockPath(0))) << "the planted link is neither removed nor replaced";
    EXPECT_EQ(ReadWholeFile(target), victimBytes);

    const std::string missing = world.Scratch("missing");
    ASSERT_EQ(symlink(missing.c_str(), world.LockPath(1).c_str()), 0);
    EXPECT_FALSE(LockDevice(1));
    EXPECT_FALSE(FileExists(missing)) << "a dangling link must not create its target";

    ASSERT_EQ(mkfifo(world.LockPath(2).c_str(), 0600), 0);
    EXPECT_FALSE(LockDevice(2)) << "a FIFO is no lock file, and must not hang the read";
    EXPECT_EQ(g_nLockFile, -1);
}
