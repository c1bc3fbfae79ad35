#include "fuzz_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// A plain array: it must outlive every static object, for the removal at exit.
char g_szFuzzDir[4096];

void RemoveFuzzDir() {
    ClearFuzzDir(g_szFuzzDir);
    rmdir(g_szFuzzDir);
}
}  // namespace

// libFuzzer leaves through exit(): the private directory goes with the process.
const std::string& FuzzDir() {
    static const std::string directory = [] {
        const char* base = std::getenv("TMPDIR");
        const std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavo-fuzz-XXXXXX";
        if (pattern.size() >= sizeof g_szFuzzDir) std::abort();
        std::memcpy(g_szFuzzDir, pattern.c_str(), pattern.size() + 1);
        if (mkdtemp(g_szFuzzDir) == nullptr) std::abort();
        std::atexit(RemoveFuzzDir);
        return std::string(g_szFuzzDir);
    }();
    return directory;
}

std::string FuzzPath(const std::string& name) { return FuzzDir() + "/" + name; }

void WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

void ClearFuzzDir(const std::string& directory) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = directory + "/" + name;
        if (unlink(path.c_str()) != 0) {  // a directory
            ClearFuzzDir(path);
            rmdir(path.c_str());
        }
    }
    closedir(dir);
}

