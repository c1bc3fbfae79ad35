// Whole-file I/O, directories and temporary names, and the safe ways in and out of files.

#include "platform/file_utils.h"

#include <fcntl.h>
#include <sys/random.h>
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

namespace {

constexpr int kTemporaryTries = 100;
constexpr size_t kTemporarySuffix = 6;

// path + "." + six random letters or digits: unpredictable, so nobody can plant
// the temporary in advance. Without entropy (early boot) the name falls back to the
// process id; O_EXCL keeps the create safe either way.
std::string TemporaryName(const std::string& path, int attempt) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kTemporarySuffix] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        const unsigned long seed = static_cast<unsigned long>(getpid()) * kTemporaryTries + attempt;
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string name = path + ".";
    for (unsigned char byte : bytes) name += kAlphabet[byte % (sizeof kAlphabet - 1)];
    return name;
}

}  // namespace

int OpenInputDescriptor(const char* path) {
    if (path == nullptr) return -1;
    // O_NONBLOCK spares the open of a FIFO its wait for a writer; a regular file's
    // reads never wait, so the flag changes nothing for what is accepted.
    CFileHandle file(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!file.IsValid() || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return file.Release();
}

CFilePtr OpenInputFile(const char* path) {
    CFileHandle file(OpenInputDescriptor(path));
    if (!file.IsValid()) return nullptr;
    CFilePtr stream(fdopen(file.Get(), "rb"));
    if (stream) file.Release();
    return stream;
}

CReplacementFile::~CReplacementFile() {
    m_stream.reset();
    if (!m_temporary.empty()) unlink(m_temporary.c_str());
}

bool CReplacementFile::Create(const std::string& path) {
    if (m_stream || !m_temporary.empty()) return false;
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        const std::string temporary = TemporaryName(path, attempt);
        CFileHandle file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!file.IsValid()) {
            if (errno == EEXIST) continue;
            return false;
        }
        m_temporary = temporary;  // from here on the destructor removes it
        m_stream.reset(fdopen(file.Get(), "wb"));
        if (!m_stream) return false;
        file.Release();
        m_path = path;
        return true;
    }
    return false;
}

bool CReplacementFile::Close() {
    if (!m_stream) return !m_temporary.empty() && m_isWritten;
    const bool isFlushed = std::fflush(m_stream.get()) == 0 && std::ferror(m_stream.get()) == 0;
    m_isWritten = std::fclose(m_stream.release()) == 0 && isFlushed;
    return m_isWritten;
}

bool CReplacementFile::CanReplace() const {
    struct stat info {};
    return !m_temporary.empty() && (lstat(m_path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode));
}

bool CReplacementFile::Commit() {
    if (!Close() || !CanReplace() || rename(m_temporary.c_str(), m_path.c_str()) != 0) return false;
    m_temporary.clear();
    return true;
}

bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size) {
    if (path == nullptr || data == nullptr || size == nullptr) return false;
    CFileHandle file(OpenInputDescriptor(path));
    if (!file.IsValid()) return false;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) return false;
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
    CReplacementFile file;
    if (!file.Create(path)) return false;
    if (size != 0 && std::fwrite(data, 1, size, file.Stream()) != size) return false;
    return file.Commit();
}

void CreateDirectory(const char* path, void*) {
    if (path != nullptr) mkdir(path, 0777);
}

bool CreatePrivateDirectory(const char* path) {
    if (path == nullptr) return false;
    mkdir(path, 0755);
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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
