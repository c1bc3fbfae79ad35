#pragma once
// Twelve-lead plots on ECG paper as SVG: 25 mm/s across, 10 mm/mV up.

#include <array>
#include <string>
#include <vector>

constexpr int kLeadCount = 12;
extern const std::array<const char*, kLeadCount> kLeadNames;  // I, II, III, aVR, aVL, aVF, V1-V6

// The longest span one plot draws: 7.5 m of paper, about 28 000 pixels at 96 dpi, near
// the 32 767 pixels beyond which image viewers and rasterisers refuse a drawing.
constexpr double kMaxPlotSeconds = 300;
// The span of the standard report layout.
constexpr double kReportSeconds = 10;

// Whether a lead has a trace: the record lacks it, or the library does not derive it
// for the playback kind (it reports 0 there, which must not pass for a flat lead).
enum class LeadState { Drawn, NotInRecord, NotDerived };

// One set of twelve lead traces sampled at a fixed rate, drawn in one colour.
struct LeadTraces {
    std::string label;
    std::string colour;
    bool isDashed = false;
    double sampleRate = 0;
    std::array<std::vector<double>, kLeadCount> millivolts;  // from the plot's start
};

struct EcgPlot {
    std::string title;
    std::string details;        // parameters, wrapped below the title
    double startSeconds = 0;    // signal time of the first sample, for the time marks
    double seconds = kReportSeconds;
    bool isStrips = false;      // one strip per lead; otherwise the 3 x 4 report with a
                                // lead II rhythm strip, which needs kReportSeconds
    std::array<LeadState, kLeadCount> leads{};
    std::vector<LeadTraces> traces;
};

// The plot as SVG text. Every row starts with a 1 mV calibration pulse; traces are clipped
// to their row, and where they leave it the row's edge is marked in red.
std::string RenderEcgSvg(const EcgPlot& plot);

// Writes the text to a file; false when the file cannot be written.
bool WriteTextToFile(const std::string& path, const std::string& text);
