// Lock files that keep two programs off one serial node.
// Only this unit creates, inspects or removes them; serial_port.cpp just asks.

#include "device/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/platform_paths.h"
#include "platform/thread.h"

int g_nLockFile = -1;
char g_szLockFilePath[256] = {};

namespace {

// The file holds the owner's pid as 4 native-endian bytes, no text.
static_assert(sizeof(pid_t) == sizeof(int32_t), "lock files hold a 32-bit process identifier");
constexpr size_t kPidBytes = sizeof(int32_t);

bool IsOwnerAlive(int32_t pid) {
    // kill() with 0 or a negative pid probes whole process groups; such a file names nobody.
    if (pid <= 0) return false;
    if (kill(pid, 0) == 0) return true;
    // EPERM means alive but someone else's: only ESRCH proves the owner gone.
    return errno != ESRCH;
}

ssize_t ReadPid(int fd, int32_t& pid) {
    ssize_t got;
    do {
        got = pread(fd, &pid, kPidBytes, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

ssize_t WritePid(int fd, int32_t pid) {
    ssize_t put;
    do {
        put = pwrite(fd, &pid, kPidBytes, 0);
    } while (put < 0 && errno == EINTR);
    return put;
}

// Written by whichever thread locks (the connection thread), read by the exports.
constinit CSimpleCriticalSection g_LockProblemLock;
char g_szLockProblem[kLockProblemBytes] = {};

// Keeps what this attempt met in the lock directory: without it, a folder that can never
// hold a lock looks to the application just like a generator that is not there.
void NoteLockDirectory(const std::string& directory, int createError) {
    const char* problem = nullptr;
    if (createError == ENOENT || createError == ENOTDIR) problem = "missing";
    if (createError == EACCES || createError == EPERM || createError == EROFS) problem = "not writable";
    CAutoCriticalSection lock(g_LockProblemLock);
    if (problem == nullptr) {
        g_szLockProblem[0] = '\0';
    } else {
        std::snprintf(g_szLockProblem, sizeof g_szLockProblem, "lock folder %s is %s", directory.c_str(), problem);
    }
}

// Removes path only while it still names the file open on fd, so that a lock another
// process has just re-created under the same name is not deleted in its place.
void DeleteIfSameFile(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    if (fstat(fd, &opened) != 0 || lstat(path, &named) != 0) return;
    if (opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) unlink(path);
}

}  // namespace

bool LockDevice(int port) {
    if (g_nLockFile != -1) return false;  // one lock per process; the holder unlocks first
    char path[sizeof g_szLockFilePath];
    const std::string directory = GetLockDirectory();
    const int length = std::snprintf(path, sizeof path, "%s/kestrane.ACM%d.lock", directory.c_str(), port);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return false;

    const int32_t self = static_cast<int32_t>(getpid());
    for (int attempt = 0; attempt < 2; ++attempt) {
        // O_EXCL with O_CREAT never follows a symlink, even a dangling one.
        CFileHandle created(open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        const int createError = created.IsValid() ? 0 : errno;
        NoteLockDirectory(directory, createError);
        if (created.IsValid()) {
            if (WritePid(created.Get(), self) == static_cast<ssize_t>(kPidBytes)) {
                std::memcpy(g_szLockFilePath, path, sizeof path);
                g_nLockFile = created.Release();
                return true;
            }
            DeleteIfSameFile(created.Get(), path);
            return false;
        }
        if (createError != EEXIST) return false;

        // O_NOFOLLOW: a symlink planted in the shared lock directory must not make us open another
        // file; O_NONBLOCK and O_NOCTTY keep a planted FIFO or terminal from holding or adopting us.
        CFileHandle existing(open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        if (!existing.IsValid()) return false;
        struct stat info {};
        if (fstat(existing.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
        // A taker holds the file's own lock from reading the owner until the file is gone, so
        // that of two processes finding the same stale lock exactly one removes it and takes
        // the port; the other fails here rather than remove the winner's fresh file.
        if (flock(existing.Get(), LOCK_EX | LOCK_NB) != 0) return false;
        int32_t owner = 0;
        if (ReadPid(existing.Get(), owner) == static_cast<ssize_t>(kPidBytes)) {
            if (IsOwnerAlive(owner)) return false;
            DeleteIfSameFile(existing.Get(), path);
        }
        // A file shorter than a pid is left in place: it keeps the port locked.
    }
    return false;
}

void GetLockProblem(char* text, size_t size) {
    if (text == nullptr || size == 0) return;
    CAutoCriticalSection lock(g_LockProblemLock);
    std::snprintf(text, size, "%s", g_szLockProblem);
}

void UnlockDevice() {
    if (g_nLockFile == -1) return;
    DeleteIfSameFile(g_nLockFile, g_szLockFilePath);
    CloseHandle(g_nLockFile);
    g_nLockFile = -1;
    std::memset(g_szLockFilePath, 0, sizeof g_szLockFilePath);
}
