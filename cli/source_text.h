#pragma once
// The small text rules the command's source readers share, so that waveform and ECG texts
// split, fold case and print numbers alike.

#include <string>
#include <vector>

std::string Lower(std::string text);
// The index of name among names in any letter case, or -1.
int FindIgnoringCase(const std::vector<std::string>& names, const std::string& name);
// The non-empty fields of text between any of the delimiters.
std::vector<std::string> Split(const std::string& text, const std::string& delimiters);
// A number as a person writes it: 0.25, 72, 1e-05 (printf's %g).
std::string Format(double value);
