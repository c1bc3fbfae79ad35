#pragma once
// The process-wide instance record: the working directory the library resolves against.

#include <string>

class CInstance {
public:
    CInstance() : m_workingDirectory("./") {}
    std::string GetWorkingDirectory() const { return m_workingDirectory; }

private:
    std::string m_workingDirectory;
};

extern CInstance g_Instance;
