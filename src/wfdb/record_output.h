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

// Deletes both files of a record on destruction unless Commit was called.
class CRecordOutputFiles {
public:
    explicit CRecordOutputFiles(const RecordOutputPaths& paths) : m_paths(paths) {}
    ~CRecordOutputFiles();
    CRecordOutputFiles(const CRecordOutputFiles&) = delete;
    CRecordOutputFiles& operator=(const CRecordOutputFiles&) = delete;
    void Commit() { m_isCommitted = true; }

private:
    const RecordOutputPaths& m_paths;
    bool m_isCommitted = false;
};

// Closes the stream; false when buffered data could not be written.
bool CloseChecked(CFilePtr& file);

// value as "%.12g" writes it in the C locale.
std::string FormatGeneral12(double value);

// value in decimal. Not std::to_string: its inline digit table would be exported from
// the shared library as a unique symbol.
std::string FormatInteger(long long value);
