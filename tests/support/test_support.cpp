// Shared test helpers.

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

std::atomic<int> g_threadsBeforeFailure{-1};

extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* arg) {
    if (g_threadsBeforeFailure >= 0 && g_threadsBeforeFailure-- == 0) return EAGAIN;
    return __real_pthread_create(thread, attributes, start, arg);
}

CTempDir::CTempDir() {
    char pattern[] = "/tmp/tavo-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = made;
}

CTempDir::~CTempDir() {
    std::error_code ignored;  // a test that failed half-way must not throw from here
    std::filesystem::remove_all(m_path, ignored);
}

std::string SharedDataDir() {
    struct stat info {};
    if (stat(TAVO_SHARED_DATA_DIR, &info) == 0 && S_ISDIR(info.st_mode)) return TAVO_SHARED_DATA_DIR;
    return "";
}

void WriteTextFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void WriteBinaryFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadTextFile(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int ExitCodeInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
