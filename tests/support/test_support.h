#pragma once
// Shared test helpers: private temporary directories, the public record
// directory, and small file writers.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// A private directory made with mkdtemp, removed with its contents on destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// The directory of the public test records, or "" when it is absent.
std::string SharedDataDir();
// Skips the calling test when the public records are absent.
#define TAVO_REQUIRE_SHARED_DATA()                                                           \
    do {                                                                                     \
        if (SharedDataDir().empty()) GTEST_SKIP() << "../shared/data is absent; record test skipped"; \
    } while (0)

void WriteTextFile(const std::string& path, const std::string& text);
void WriteBinaryFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadWholeFile(const std::string& path);
std::string ReadTextFile(const std::string& path);
bool FileExists(const std::string& path);
// Thread starts still allowed before one is refused (-1: none is). Every test program starts
// its threads through this count (the linker wraps pthread_create).
extern std::atomic<int> g_threadsBeforeFailure;
// Runs body in a forked child; its exit code, or -1 when the child did not exit normally.
int ExitCodeInChild(const std::function<int()>& body);
