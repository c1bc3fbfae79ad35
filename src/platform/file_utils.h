#pragma once
// Whole-file reads and writes, directories and temporary names, with
// Windows-style names; and the owners that close descriptors and streams.

#include <cstdio>
#include <memory>

// Reads a regular file into a new array (release with delete[]) and its size.
// The size is what was really read, so a file that shrinks while read gives
// fewer bytes. False for a missing or unreadable file, a directory, a FIFO or
// another non-regular file, or a file too large for the size type.
bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size);

// Creates or truncates the file and writes the bytes. False when the file cannot
// be opened or not every byte could be written.
bool WriteFileBinaryData(const char* path, const unsigned char* data, unsigned int size);

// Creates a directory with rights 0777 less the umask; an existing one is no error.
void CreateDirectory(const char* path, void* attributes);

// Removes a file; no result.
void DeleteFile(const char* path);

// Copies "/tmp" (at most size - 1 characters and a terminator); returns the text's length.
unsigned int GetTempPath(unsigned int size, char* buffer);

// Writes directory + "/" + prefix + "XXX" into out (a kMaxPath buffer) and returns
// its length; unique is ignored and no file is created. Returns 0 and leaves out
// empty when the name would not fit.
unsigned int GetTempFileName(const char* directory, const char* prefix, unsigned int unique, char* out);

// Owns a descriptor; closes it on destruction.
class CFileHandle {
public:
    explicit CFileHandle(int fd = -1) : m_fd(fd) {}
    ~CFileHandle() { Reset(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int m_fd;
};

struct FileCloser {
    void operator()(FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};
using CFilePtr = std::unique_ptr<FILE, FileCloser>;
