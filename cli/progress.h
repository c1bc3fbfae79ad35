#pragma once
// A one-line progress display on stdout: redrawn in place on a terminal, a line
// now and then otherwise (logs, CTest). Its line ends when it goes out of scope.

#include <string>

class CProgress {
public:
    CProgress();
    ~CProgress();
    // fraction < 0 shows no bar (runs without an end).
    void Show(double fraction, const std::string& text);

private:
    bool m_isTerminal;
    double m_lastPrinted = -1;
    int m_lines = 0;
};
