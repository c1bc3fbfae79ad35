// Record titles and forms from paths, shared by the AHA, CSE and maker's-format loaders.

#include "loaders/record_path.h"

#include <algorithm>
#include <cctype>

#include "platform/path_utils.h"

std::string RecordFileTitle(const char* path) {
    const char* name = PathFindFileName(path);
    if (name == nullptr) return std::string();
    std::string title(name);
    const size_t dot = title.rfind('.');
    if (dot != std::string::npos) title.erase(dot);
    return title;
}

bool PathContainsNoCase(const char* path, const char* part) {
    if (path == nullptr || part == nullptr) return false;
    std::string lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(part) != std::string::npos;
}
