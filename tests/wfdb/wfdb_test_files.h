#pragma once
// Helpers of the WFDB tests: headers held by an owner, and samples packed and unpacked
// by the storage rules, sharing nothing with the library's readers.


#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"


CWFDBHeaderPtr ReadHeaderAt(const std::string& path);
// rec.hea and rec.dat written into a directory of their own and opened; header is null when that fails.
struct CTestRecord {
    CTempDir dir;
    CWFDBHeaderPtr header;
    CTestRecord(const std::string& headerText, const std::vector<unsigned char>& data);
};
// Raw values of every frame the library reads from the cursor on, frame after frame.
std::vector<int> ReadAllRaw(WFDB_HEADER* header);

// Format-212 bytes (an odd count closes with a two-byte group); format-16 bytes, low byte first.
std::vector<unsigned char> Pack212(const std::vector<int>& samples);
std::vector<unsigned char> Pack16(const std::vector<int>& samples);
// Every stored sample of a file in file order; a closing two-byte 212 group gives one
// sample, a stray last byte none.
std::vector<int> DecodeFile212(const std::string& path);
std::vector<int> DecodeFile16(const std::string& path);
// Samples dealt out frame by frame over signalCount signals (whole frames only).
std::vector<std::vector<int>> SplitSignals(const std::vector<int>& samples, int signalCount);

std::string SharedRecordFile(const std::string& name);
