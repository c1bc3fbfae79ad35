// ECG-paper SVG writer for the tavo command's plots.

#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

const std::array<const char*, kLeadCount> kLeadNames = {"I",   "II", "III", "aVR", "aVL", "aVF",
                                                        "V1", "V2", "V3",  "V4",  "V5",  "V6"};

namespace {

constexpr double kMmPerSecond = 25.0;  // 1 mm = 0.04 s
constexpr double kMmPerMv = 10.0;      // 1 mm = 0.1 mV
constexpr double kRowHeightMm = 30.0;
constexpr double kLabelMarginMm = 12.0;
constexpr double kTitleHeightMm = 14.0;  // a title line and a legend line
// Beyond this many points per millimetre a trace is thinned to min/max pairs: the eye
// cannot tell, and a long plot stays small.
constexpr double kMaxPointsPerMm = 10.0;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

double DurationSeconds(const std::vector<LeadTraces>& traces) {
    double seconds = 0;
    for (const LeadTraces& trace : traces) {
        if (trace.sampleRate <= 0) continue;
        size_t samples = 0;
        for (const auto& lead : trace.millivolts) samples = std::max(samples, lead.size());
        seconds = std::max(seconds, trace.startSeconds + static_cast<double>(samples) / trace.sampleRate);
    }
    return seconds;
}

void AppendGrid(std::ostringstream& svg, double widthMm, double heightMm, double top) {
    svg << "<g stroke=\"#f6c6c6\" stroke-width=\"0.1\">\n";
    for (int mm = 0; mm <= static_cast<int>(widthMm); ++mm) {
        if (mm % 5 != 0) svg << "<line x1=\"" << kLabelMarginMm + mm << "\" y1=\"" << top << "\" x2=\""
                             << kLabelMarginMm + mm << "\" y2=\"" << top + heightMm << "\"/>\n";
    }
    for (int mm = 0; mm <= static_cast<int>(heightMm); ++mm) {
        if (mm % 5 != 0) svg << "<line x1=\"" << kLabelMarginMm << "\" y1=\"" << top + mm << "\" x2=\""
                             << kLabelMarginMm + widthMm << "\" y2=\"" << top + mm << "\"/>\n";
    }
    svg << "</g>\n<g stroke=\"#e58f8f\" stroke-width=\"0.25\">\n";
    for (int mm = 0; mm <= static_cast<int>(widthMm); mm += 5) {
        svg << "<line x1=\"" << kLabelMarginMm + mm << "\" y1=\"" << top << "\" x2=\"" << kLabelMarginMm + mm
            << "\" y2=\"" << top + heightMm << "\"/>\n";
    }
    for (int mm = 0; mm <= static_cast<int>(heightMm); mm += 5) {
        svg << "<line x1=\"" << kLabelMarginMm << "\" y1=\"" << top + mm << "\" x2=\"" << kLabelMarginMm + widthMm
            << "\" y2=\"" << top + mm << "\"/>\n";
    }
    svg << "</g>\n";
}

void AppendTrace(std::ostringstream& svg, const LeadTraces& trace, int lead, double baselineMm) {
    const std::vector<double>& samples = trace.millivolts[lead];
    if (samples.empty() || trace.sampleRate <= 0) return;
    const double mmPerSample = kMmPerSecond / trace.sampleRate;
    const size_t stride = std::max<size_t>(1, static_cast<size_t>(1.0 / (mmPerSample * kMaxPointsPerMm)));
    svg << "<polyline fill=\"none\" stroke=\"" << Escape(trace.colour) << "\" stroke-width=\"0.3\" points=\"";
    const double x0 = kLabelMarginMm + trace.startSeconds * kMmPerSecond;
    for (size_t i = 0; i < samples.size(); i += stride) {
        const size_t end = std::min(samples.size(), i + stride);
        const auto [low, high] = std::minmax_element(samples.begin() + static_cast<long>(i),
                                                     samples.begin() + static_cast<long>(end));
        const double x = x0 + static_cast<double>(i) * mmPerSample;
        if (stride == 1) {
            svg << Number(x) << ',' << Number(baselineMm - samples[i] * kMmPerMv) << ' ';
        } else {
            svg << Number(x) << ',' << Number(baselineMm - *low * kMmPerMv) << ' ' << Number(x) << ','
                << Number(baselineMm - *high * kMmPerMv) << ' ';
        }
    }
    svg << "\"/>\n";
}

}  // namespace

std::string RenderTwelveLeadSvg(const std::vector<LeadTraces>& traces, const std::string& title) {
    // At least 100 mm, so the title and legend fit above a short plot.
    const double widthMm = std::max(100.0, std::ceil(DurationSeconds(traces) * kMmPerSecond / 5.0) * 5.0);
    const double gridHeightMm = kRowHeightMm * kLeadCount;
    const double totalWidth = kLabelMarginMm + widthMm + 2;
    const double totalHeight = kTitleHeightMm + gridHeightMm + 2;
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << totalWidth << "mm\" height=\"" << totalHeight
        << "mm\" viewBox=\"0 0 " << totalWidth << ' ' << totalHeight << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << kLabelMarginMm << "\" y=\"6\" font-family=\"sans-serif\" font-size=\"4\">" << Escape(title)
        << "  (25 mm/s, 10 mm/mV)</text>\n"
        << "<text x=\"" << kLabelMarginMm << "\" y=\"11.5\" font-family=\"sans-serif\" font-size=\"3.5\">";
    for (const LeadTraces& trace : traces) {
        svg << "<tspan fill=\"" << Escape(trace.colour) << "\">" << Escape(trace.label) << "   </tspan>";
    }
    svg << "</text>\n";
    AppendGrid(svg, widthMm, gridHeightMm, kTitleHeightMm);
    for (int lead = 0; lead < kLeadCount; ++lead) {
        const double baseline = kTitleHeightMm + kRowHeightMm * (lead + 0.5);
        svg << "<text x=\"1\" y=\"" << baseline + 1.5 << "\" font-family=\"sans-serif\" font-size=\"4\">"
            << kLeadNames[lead] << "</text>\n";
        for (const LeadTraces& trace : traces) AppendTrace(svg, trace, lead, baseline);
    }
    svg << "</svg>\n";
    return svg.str();
}

bool WriteTextToFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    out.close();
    return static_cast<bool>(out);
}
