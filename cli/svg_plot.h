#pragma once
// Twelve-lead plots on ECG paper as SVG: 1 mm = 0.04 s across and 0.1 mV up.

#include <array>
#include <string>
#include <vector>

constexpr int kLeadCount = 12;
extern const std::array<const char*, kLeadCount> kLeadNames;  // I, II, III, aVR, aVL, aVF, V1-V6

// One set of twelve lead traces sampled at a fixed rate, drawn in one colour.
struct LeadTraces {
    std::string label;
    std::string colour;
    double sampleRate = 0;
    double startSeconds = 0;
    std::array<std::vector<double>, kLeadCount> millivolts;
};

// The plot as SVG text: a paper grid (1 mm minor, 5 mm major), one row per lead
// with its name, and every trace overlaid at 25 mm/s and 10 mm/mV.
std::string RenderTwelveLeadSvg(const std::vector<LeadTraces>& traces, const std::string& title);

// Writes the text to a file; false when the file cannot be written.
bool WriteTextToFile(const std::string& path, const std::string& text);
