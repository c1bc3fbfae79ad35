#pragma once
// Path helpers with Windows-style names, on caller-owned buffers.

#include <cstddef>

// Size of every path buffer handed to PathAppend and GetTempFileName.
constexpr size_t kMaxPath = 260;

// Appends name to path (a kMaxPath buffer), with a "/" unless path is empty or
// already ends in '/' or '\'. False, and path unchanged, when the result would not fit.
bool PathAppend(char* path, const char* name);

// The file-name part of path: null for an empty path; path itself when it is one
// character long or holds no '/'; otherwise what follows the last '/' that stands
// before the final character (so "dir/sub/" gives "sub/").
const char* PathFindFileName(const char* path);

// The last '.' of the whole path, or null (also for an empty path).
const char* PathFindExtension(const char* path);

// The directory of path without its trailing slash, into a 256-byte buffer:
// at most 255 characters of path cut at the last '/', or "./" when there is none.
void GetPathName(const char* path, char* out);

// The record name of path into a zero-filled 16-byte buffer: at most 15
// characters of the file name, cleared from its last '.' to the end of the buffer.
void GetRecordName(const char* path, char* out);
