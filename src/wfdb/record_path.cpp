// Directory, base name and joining for the paths of a record's files.

#include "wfdb/record_path.h"

std::string GetRecordDirectory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string JoinRecordPath(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory.back() == '/' || directory.back() == '\\') return directory + name;
    return directory + "/" + name;
}

std::string GetRecordBaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}
