#pragma once
// Whole-file reads and writes, directories and temporary names, with
// Windows-style names; the owners that close descriptors and streams; and the
// only ways the library opens a file it reads or writes.

#include <cstdio>
#include <memory>
#include <string>

// Reads a regular file into a new array (release with delete[]) and its size.
// The size is what was really read, so a file that shrinks while read gives
// fewer bytes. False for a missing or unreadable file, a directory, a FIFO or
// another non-regular file, or a file too large for the size type.
bool ReadFileBinaryData(const char* path, unsigned char** data, unsigned int* size);

// Replaces the file with the bytes (as CReplacementFile does). False when it cannot
// be created or not every byte could be written; the old file then stays as it was.
bool WriteFileBinaryData(const char* path, const unsigned char* data, unsigned int size);

// Creates a directory with rights 0777 less the umask; an existing one is no error.
void CreateDirectory(const char* path, void* attributes);

// Creates the directory (rights 0755 less the umask) when it is missing. True when it
// then is a directory of this process's user that neither group nor others may write:
// one where nobody else can plant, swap or remove files.
bool CreatePrivateDirectory(const char* path);

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

// Every file the library reads is opened here: a regular file only, and a FIFO or
// device named like one is refused without waiting for a writer. -1 or null on failure.
int OpenInputDescriptor(const char* path);
CFilePtr OpenInputFile(const char* path);

// A file written under a temporary name beside its path and renamed into place by
// Commit, so that whatever bears the name keeps its content until the new one is
// complete. The temporary is created with O_CREAT|O_EXCL|O_NOFOLLOW and rights 0644
// less the umask, so a planted link is replaced, never followed. Unless committed,
// the temporary is removed on destruction.
class CReplacementFile {
public:
    CReplacementFile() = default;
    ~CReplacementFile();
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    // False when no temporary can be created beside path.
    bool Create(const std::string& path);
    FILE* Stream() const { return m_stream.get(); }
    // Flushes and closes the stream; false when anything could not be written.
    bool Close();
    // False when the path is a directory (rename could not replace it).
    bool CanReplace() const;
    // Closes if still open, then renames over the path; false leaves the path as it was.
    bool Commit();

private:
    std::string m_path;
    std::string m_temporary;
    CFilePtr m_stream;
    bool m_isWritten = true;
};
