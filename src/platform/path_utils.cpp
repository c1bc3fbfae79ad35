// Path splitting and joining for record files.

#include "platform/path_utils.h"

#include <cstring>

bool PathAppend(char* path, const char* name) {
    if (path == nullptr || name == nullptr) return false;
    const size_t pathLength = strnlen(path, kMaxPath);
    if (pathLength == kMaxPath) return false;
    const bool needsSlash = pathLength > 0 && path[pathLength - 1] != '/' && path[pathLength - 1] != '\\';
    const size_t nameLength = std::strlen(name);
    if (pathLength + (needsSlash ? 1 : 0) + nameLength + 1 > kMaxPath) return false;
    size_t at = pathLength;
    if (needsSlash) path[at++] = '/';
    std::memcpy(path + at, name, nameLength + 1);
    return true;
}

const char* PathFindFileName(const char* path) {
    if (path == nullptr || path[0] == '\0') return nullptr;
    const size_t length = std::strlen(path);
    if (length == 1) return path;
    for (size_t i = length - 1; i-- > 0;) {
        if (path[i] == '/') return path + i + 1;
    }
    return path;
}

const char* PathFindExtension(const char* path) {
    if (path == nullptr || path[0] == '\0') return nullptr;
    return std::strrchr(path, '.');
}

void GetPathName(const char* path, char* out) {
    if (out == nullptr) return;
    out[0] = '\0';
    if (path == nullptr) {
        std::strcpy(out, "./");
        return;
    }
    const size_t length = strnlen(path, 255);
    std::memcpy(out, path, length);
    out[length] = '\0';
    char* slash = std::strrchr(out, '/');
    if (slash == nullptr) {
        std::strcpy(out, "./");
        return;
    }
    *slash = '\0';
}

void GetRecordName(const char* path, char* out) {
    if (out == nullptr) return;
    const char* name = PathFindFileName(path);
    if (name == nullptr) return;
    const size_t length = strnlen(name, 15);
    std::memcpy(out, name, length);
    std::memset(out + length, 0, 16 - length);
    char* dot = nullptr;
    for (size_t i = 0; i < length; ++i) {
        if (out[i] == '.') dot = out + i;
    }
    if (dot != nullptr) std::memset(dot, 0, static_cast<size_t>(out + 16 - dot));
}
