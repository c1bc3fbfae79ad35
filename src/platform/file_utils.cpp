// Whole-file I/O, directories and temporary names.

#include "platform/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "platform/path_utils.h"

// Sizes and directory entries of large files need a 64-bit off_t and ino_t (_FILE_OFFSET_BITS=64 on 32-bit ARM).
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8, "file offsets and inode numbers are 64 bits on every target");

void CFileHandle::Reset(int fd) {
    if (m_fd >= 0) close(m_fd);
    m_fd = fd;
}

bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size) {
    if (path == nullptr || data == nullptr || size == nullptr) return false;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; only regular files are read.
    CFileHandle file(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.IsValid()) return false;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) >= UINT_MAX) return false;
    const size_t claimed = static_cast<size_t>(info.st_size);
    // One spare byte so that an empty file still yields a valid array.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[claimed + 1]);
    if (!buffer) return false;
    size_t got = 0;
    while (got < claimed) {
        const ssize_t n = read(file.Get(), buffer.get() + got, claimed - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file shrank: keep what was really read
        got += static_cast<size_t>(n);
    }
    *data = buffer.release();
    *size = static_cast<unsigned int>(got);
    return true;
}

bool WriteFileBinaryData(const char* path, const unsigned char* data, unsigned int size) {
    if (path == nullptr || (data == nullptr && size != 0)) return false;
    CFileHandle file(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsValid()) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(file.Get(), data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return close(file.Release()) == 0;
}

void CreateDirectory(const char* path, void*) {
    if (path != nullptr) mkdir(path, 0777);
}

void DeleteFile(const char* path) {
    if (path != nullptr) unlink(path);
}

unsigned int GetTempPath(unsigned int size, char* buffer) {
    if (buffer == nullptr || size == 0) return 0;
    static const char kTemp[] = "/tmp";
    const size_t length = std::min<size_t>(sizeof(kTemp) - 1, size - 1);
    std::memcpy(buffer, kTemp, length);
    buffer[length] = '\0';
    return static_cast<unsigned int>(length);
}

unsigned int GetTempFileName(const char* directory, const char* prefix, unsigned int, char* out) {
    if (out == nullptr) return 0;
    out[0] = '\0';
    if (directory == nullptr || prefix == nullptr) return 0;
    const size_t needed = std::strlen(directory) + 1 + std::strlen(prefix) + 3;
    if (needed + 1 > kMaxPath) return 0;
    std::strcpy(out, directory);
    std::strcat(out, "/");
    std::strcat(out, prefix);
    std::strcat(out, "XXX");
    return static_cast<unsigned int>(needed);
}
