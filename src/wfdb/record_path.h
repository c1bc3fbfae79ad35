#pragma once
// Paths of a record's files, as std::string so that no length limit can cut a
// directory short and send a read to another record's file.

#include <string>

// The directory of path without its trailing slash: "./" when path holds no
// '/', "/" for a file in the root.
std::string GetRecordDirectory(const std::string& path);

// directory + "/" + name, without the slash when directory is empty or
// already ends in '/' or '\'.
std::string JoinRecordPath(const std::string& directory, const std::string& name);

// The file-name part of path, cut at its last '.'.
std::string GetRecordBaseName(const std::string& path);
