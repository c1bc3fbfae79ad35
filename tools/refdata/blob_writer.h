#pragma once
// Writes a reference set as the build embeds it: two binary files and a C++ source whose
// top-level assembly pulls them in with .incbin under the documented array names.

#include <string>

#include "reference_set.h"

// The file names written into the output directory.
constexpr const char* kRecordsFile = "ctscse_records.bin";
constexpr const char* kNoiseFile = "ctscse_noise.bin";
constexpr const char* kBlobSource = "ctscse_blob.cpp";
constexpr const char* kBlobDepfile = "ctscse_blob.d";

// Checks the set's shape against the catalogue (record and noise counts, 8 leads per record,
// cycle lengths and their total, 10000 noise samples). Empty on success, else one line.
std::string CheckReferenceSet(const REFERENCE_SET& set);

// Writes every file into `outDir` (each through a temporary name and a rename, so a failed run
// leaves no half-written output). Empty on success, else one line saying what failed.
std::string WriteReferenceBlob(const REFERENCE_SET& set, const std::string& outDir);
