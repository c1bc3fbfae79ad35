#pragma once
// Shared by the harnesses: one private directory per fuzzing process, where each input
// is written as the file a parser expects to open.

#include <cstddef>
#include <cstdint>
#include <string>

// The process's private directory (made once, under TMPDIR or /tmp).
const std::string& FuzzDir();
// FuzzDir() + "/" + name.
std::string FuzzPath(const std::string& name);
// Replaces the file with exactly these bytes.
void WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size);
// Removes everything in the directory (not the directory itself).
void ClearFuzzDir(const std::string& directory);
