#pragma once
// What the converters share when they write a record: its paths, its files removed
// unless the write completes, and numbers written the same in every locale.

#include <string>

#include "platform/file_utils.h"

struct RecordOutputPaths {
    std::string recordName;  // at most 15 characters, one header token
    std::string header;      // <folder>/<record>.hea
    std::string signal;      // <folder>/<record>.dat
};

// The record of filePath in destFolder: the file name cut to 15 characters and at its
// last '.'. False for a null argument, a folder of more than 255 characters, a name
// that is empty or holds blanks (it would not read back as one token), or a path that
// does not fit kMaxPath.
bool MakeRecordOutputPaths(const char* filePath, const char* destFolder, RecordOutputPaths& paths);

// The two files of a record, written under temporary names and put in place together
// by Commit; until then, and whenever a step fails, a record of that name stays as it
// was and nothing new is left behind.
class CRecordOutputFiles {
public:
    // False when either temporary cannot be created beside its path.
    bool Create(const std::string& headerPath, const std::string& signalPath);
    FILE* Signal() const { return m_signal.Stream(); }
    // Writes the header text once the signal file is complete, then renames both, the
    // header last: a reader that finds the header finds the signal file it describes.
    bool Commit(const std::string& headerText);

private:
    CReplacementFile m_header;
    CReplacementFile m_signal;
};

// value as "%.12g" writes it in the C locale.
std::string FormatGeneral12(double value);

// value in decimal. Not std::to_string: its inline digit table would be exported from
// the shared library as a unique symbol.
std::string FormatInteger(long long value);
