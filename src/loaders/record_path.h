#pragma once
// What the file-based loaders read from a record's path: its title and its form.

#include <string>

// The file-name part of path up to its last '.' (all of it when it has none); "" for a
// null or empty path. Headers keep it only when it fits their 16-byte name field.
std::string RecordFileTitle(const char* path);

// True when path, in lower case, holds part (given in lower case) anywhere.
bool PathContainsNoCase(const char* path, const char* part);
