// Lock files: who may take a port, which files are stale, and what is never followed or removed.

#include "device/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include "device_world.h"
#include "platform/file_utils.h"
#include "tavo/tavo_ext.h"

namespace {

// The pid of a process that has ended and been reaped.
int FinishedPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
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

// A live owner (this process included) or a file too short to name one blocks the port, and
// such a port is never probed. 0 and negative numbers address process groups: no owner. A stale
// lock that another taker holds locked is that taker's to replace.
TEST(LockFile, StaleLocksAreTakenOverAndOthersLeftAlone) {
    struct Case { std::vector<unsigned char> bytes; bool isStale; bool isBeingTaken = false; };
    std::vector<Case> cases = {{PidBytes(getpid()), false}, {PidBytes(FinishedPid()), true}, {PidBytes(0), true},
                               {PidBytes(-1), true}, {PidBytes(INT_MIN), true}, {PidBytes(FinishedPid()), false, true}};
    for (size_t length = 0; length < 4; ++length) cases.push_back({std::vector<unsigned char>(length, 1), false});
    for (const Case& c : cases) {
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(world.Options(0));
        ASSERT_NE(generator, nullptr);
        WriteBinaryFile(world.LockPath(0), c.bytes);
        CFileHandle taker(open(world.LockPath(0).c_str(), O_RDONLY | O_CLOEXEC));
        if (c.isBeingTaken) {
            ASSERT_EQ(flock(taker.Get(), LOCK_EX), 0);
        }
        EXPECT_EQ(FindDevice(0), c.isStale) << LockOwner(world.LockPath(0)) << ", " << c.bytes.size() << " bytes";
        EXPECT_EQ(DeviceIsConnected(), c.isStale);
        EXPECT_EQ(ReadWholeFile(world.LockPath(0)), c.isStale ? PidBytes(getpid()) : c.bytes);
        EXPECT_EQ(generator->Statistics().commands.empty(), !c.isStale);
    }
}

// kill() answers EPERM for a live process of another user: that owner is alive. As root every
// kill() succeeds, so the lock is tried from a child that has become nobody.
TEST(LockFile, LiveOwnerOfAnotherUserBlocks) {
    CDeviceWorld world;
    const bool isRoot = geteuid() == 0;
    const int owner = isRoot ? getpid() : 1;  // init: alive, and not ours
    WriteBinaryFile(world.LockPath(0), PidBytes(owner));
    for (const std::string& path : {world.Scratch(""), world.LockDir(), world.LockPath(0)})
        ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    EXPECT_EQ(ExitCodeInChild([=] { return isRoot && (setgid(65534) != 0 || setuid(65534) != 0) ? 3 : LockDevice(0) ? 1 : 0; }), 0)
        << "the other user's live lock must block the port";
    EXPECT_EQ(LockOwner(world.LockPath(0)), owner);
}

TEST(LockFile, PlantedLinksAndSpecialFilesAreNeverFollowed) {
    CDeviceWorld world;
    const std::string target = world.Scratch("victim");
    const std::vector<unsigned char> victimBytes = PidBytes(FinishedPid());
    WriteBinaryFile(target, victimBytes);
    ASSERT_EQ(symlink(target.c_str(), world.LockPath(0).c_str()), 0);
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watcher, target.c_str(), IN_OPEN | IN_ACCESS), 0);
    EXPECT_FALSE(LockDevice(0));
    char events[4096];
    EXPECT_LT(read(watcher, events, sizeof events), 0) << "the link's target was opened";
    close(watcher);
    struct stat info {};
    EXPECT_TRUE(lstat(world.LockPath(0).c_str(), &info) == 0 && S_ISLNK(info.st_mode)) << "link removed or replaced";
    EXPECT_EQ(ReadWholeFile(target), victimBytes);
    ASSERT_EQ(symlink(world.Scratch("missing").c_str(), world.LockPath(1).c_str()), 0);
    EXPECT_FALSE(LockDevice(1));
    EXPECT_FALSE(FileExists(world.Scratch("missing"))) << "a dangling link must not create its target";
    ASSERT_EQ(mkfifo(world.LockPath(2).c_str(), 0600), 0);
    EXPECT_FALSE(LockDevice(2)) << "a FIFO is no lock file, and must not hang the read";
    EXPECT_EQ(g_nLockFile, -1);
}

// A lock folder that is missing (or a file) or not writable is reported, unlike a port that is
// merely taken; the next attempt that meets no such problem clears the report. Root writes
// anywhere, so the read-only folder is then left out.
TEST(LockFile, UnusableLockFolderIsReported) {
    CDeviceWorld world;
    const std::string gone = world.Scratch("gone"), file = world.Scratch("file"), readOnly = world.Scratch("readonly");
    WriteTextFile(file, "");
    ASSERT_EQ(mkdir(readOnly.c_str(), geteuid() == 0 ? 0700 : 0500), 0);
    WriteBinaryFile(world.LockPath(1), PidBytes(getpid()));
    struct Case { std::string directory; int port; std::string problem; };
    for (const Case& c : {Case{gone, 0, gone + " is missing"}, Case{world.LockDir(), 1, ""}, Case{file, 0, file + " is missing"},
                          Case{readOnly, 0, geteuid() == 0 ? "" : readOnly + " is not writable"}, Case{world.LockDir(), 0, ""}}) {
        ASSERT_EQ(TAVOSetPlatformPaths(nullptr, c.directory.c_str(), nullptr), 1);
        EXPECT_EQ(LockDevice(c.port), c.problem.empty() && c.port == 0) << c.directory;
        EXPECT_EQ(TAVOGetConnectionProblem(), c.problem.empty() ? c.problem : "lock folder " + c.problem);
        UnlockDevice();
    }
}
