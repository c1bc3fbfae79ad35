// The form tests of the AHA and CSE loaders: the whole path, any letter case.

#include "loaders/record_form.h"

#include <algorithm>
#include <cctype>
#include <string>

bool PathContainsNoCase(const char* path, const char* part) {
    if (path == nullptr || part == nullptr) return false;
    std::string lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(part) != std::string::npos;
}
