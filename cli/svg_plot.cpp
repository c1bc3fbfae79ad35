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
constexpr double kMarginMm = 5;
constexpr double kPulseAreaMm = 10;    // 2 mm rest, the 1 mV pulse 5 mm (0.2 s) wide, 3 mm rest
constexpr double kRowHeightMm = 40;
constexpr double kBaselineMm = 24;     // from the row's top: QRS complexes reach further up than down
constexpr double kMinWidthMm = 180;
constexpr double kTitleFont = 4.2, kDetailFont = 3.2, kLegendFont = 3.2, kLeadFont = 3.5, kMarkFont = 2.6;
constexpr double kLineSpacing = 1.3;
// Sans-serif glyphs average about half an em; reckoning with 0.6 keeps every line inside the page.
constexpr double kCharWidthEm = 0.6;
// Beyond this many min/max pairs per millimetre the eye cannot tell, and a long plot stays small.
constexpr double kPairsPerMm = 4.0;
constexpr double kMinClipMarkMm = 0.6;
constexpr const char* kTraceFont = "font-family=\"sans-serif\"";

// The standard report: three rows of four 2.5 s columns, then the lead II rhythm strip.
constexpr int kReportColumns = 4;
constexpr int kReportLeads[3][kReportColumns] = {{0, 3, 6, 9}, {1, 4, 7, 10}, {2, 5, 8, 11}};
constexpr int kRhythmLead = 1;

struct Segment {
    int lead;
    double from, to;  // seconds from the plot's start
};
using Row = std::vector<Segment>;

std::vector<Row> LayOutRows(const EcgPlot& plot) {
    std::vector<Row> rows;
    if (plot.isStrips) {
        for (int lead = 0; lead < kLeadCount; ++lead) rows.push_back({Segment{lead, 0, plot.seconds}});
        return rows;
    }
    const double column = plot.seconds / kReportColumns;
    for (const auto& leads : kReportLeads) {
        Row row;
        for (int k = 0; k < kReportColumns; ++k) row.push_back(Segment{leads[k], k * column, (k + 1) * column});
        rows.push_back(row);
    }
    rows.push_back({Segment{kRhythmLead, 0, plot.seconds}});
    return rows;
}

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

double TextWidthMm(const std::string& text, double font) { return static_cast<double>(text.size()) * font * kCharWidthEm; }

// Breaks at blanks so that no line is wider than widthMm (a single longer word stands alone).
std::vector<std::string> WrapText(const std::string& text, double font, double widthMm) {
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string word, line;
    while (words >> word) {
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && TextWidthMm(longer, font) > widthMm) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

class CSvgWriter {
public:
    CSvgWriter(const EcgPlot& plot)
        : m_plot(plot), m_rows(LayOutRows(plot)),
          m_width(std::max(kMinWidthMm, 2 * kMarginMm + kPulseAreaMm + plot.seconds * kMmPerSecond)) {}

    std::string Render() {
        double y = kMarginMm;
        std::ostringstream header;
        for (const std::string& line : WrapText(m_plot.title, kTitleFont, TextWidth())) {
            y += kTitleFont * kLineSpacing;
            header << Text(kMarginMm, y, kTitleFont, "title", line);
        }
        // The scale in no-break spaces, so that it stays on one line.
        const std::string scale = "25\u00a0mm/s,\u00a010\u00a0mm/mV";
        const std::string details = m_plot.details.empty() ? scale : m_plot.details + "; " + scale;
        for (const std::string& line : WrapText(details, kDetailFont, TextWidth())) {
            y += kDetailFont * kLineSpacing;
            header << Text(kMarginMm, y, kDetailFont, "details", line);
        }
        y = AppendLegend(header, y);
        m_gridTop = y + 5;  // room for the time marks
        const double height = m_gridTop + static_cast<double>(m_rows.size()) * kRowHeightMm + kMarginMm;

        m_svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Number(m_width) << "mm\" height=\""
              << Number(height) << "mm\" viewBox=\"0 0 " << Number(m_width) << ' ' << Number(height) << "\">\n"
              << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
        AppendGrid();
        m_svg << header.str();
        AppendTimeMarks();
        for (size_t row = 0; row < m_rows.size(); ++row) AppendRow(row);
        m_svg << "</svg>\n";
        return m_svg.str();
    }

private:
    double TextWidth() const { return m_width - 2 * kMarginMm; }
    double TraceLeft() const { return kMarginMm + kPulseAreaMm; }
    double GridRight() const { return TraceLeft() + m_plot.seconds * kMmPerSecond; }
    double RowTop(size_t row) const { return m_gridTop + static_cast<double>(row) * kRowHeightMm; }

    static std::string Text(double x, double y, double font, const char* kind, const std::string& text,
                            const std::string& extra = "") {
        return "<text class=\"" + std::string(kind) + "\" x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" " +
               kTraceFont + " font-size=\"" + Number(font) + "\"" + extra + ">" + Escape(text) + "</text>\n";
    }

    // One entry per trace: a sample of its line, then its label; entries wrap as the title does.
    double AppendLegend(std::ostringstream& out, double y) {
        double x = kMarginMm;
        bool isLineOpen = false;
        for (const LeadTraces& trace : m_plot.traces) {
            if (trace.label.empty()) continue;
            const double width = 8 + TextWidthMm(trace.label, kLegendFont);
            if (!isLineOpen || x + width > m_width - kMarginMm) {
                y += kLegendFont * kLineSpacing;
                x = kMarginMm;
                isLineOpen = true;
            }
            out << "<line class=\"legend-line\" x1=\"" << Number(x) << "\" y1=\"" << Number(y - 1) << "\" x2=\""
                << Number(x + 6) << "\" y2=\"" << Number(y - 1) << "\"" << Stroke(trace) << "/>\n"
                << Text(x + 7.5, y, kLegendFont, "legend", trace.label, " fill=\"" + Escape(trace.colour) + "\"");
            x += width + 6;
        }
        return y;
    }

    static std::string Stroke(const LeadTraces& trace) {
        return " stroke=\"" + Escape(trace.colour) + "\" stroke-width=\"" + (trace.isDashed ? "0.3" : "0.35") + "\"" +
               (trace.isDashed ? " stroke-dasharray=\"1.2 0.8\"" : "");
    }

    // Paper drawn by two patterns (1 mm and 5 mm squares), so its size does not grow with the plot.
    void AppendGrid() {
        const double height = static_cast<double>(m_rows.size()) * kRowHeightMm;
        const std::string origin = "x=\"" + Number(kMarginMm) + "\" y=\"" + Number(m_gridTop) + "\"";
        m_svg << "<defs>\n<pattern id=\"mm\" width=\"1\" height=\"1\" patternUnits=\"userSpaceOnUse\" " << origin
              << "><path d=\"M1 0V1H0\" fill=\"none\" stroke=\"#f6c6c6\" stroke-width=\"0.1\"/></pattern>\n"
              << "<pattern id=\"paper\" width=\"5\" height=\"5\" patternUnits=\"userSpaceOnUse\" " << origin
              << "><rect width=\"5\" height=\"5\" fill=\"url(#mm)\"/><path d=\"M5 0V5H0\" fill=\"none\" "
                 "stroke=\"#e58f8f\" stroke-width=\"0.25\"/></pattern>\n</defs>\n"
              << "<rect class=\"paper\" " << origin << " width=\"" << Number(GridRight() - kMarginMm) << "\" height=\""
              << Number(height) << "\" fill=\"url(#paper)\" stroke=\"#e58f8f\" stroke-width=\"0.25\"/>\n";
    }

    void AppendTimeMarks() {
        const double first = std::ceil(m_plot.startSeconds - 1e-9);
        const double last = m_plot.startSeconds + m_plot.seconds;
        for (double t = first; t <= last + 1e-9; t += 1) {
            const double x = TraceLeft() + (t - m_plot.startSeconds) * kMmPerSecond;
            const bool isLast = t + 1 > last + 1e-9;  // its label goes left of the tick, inside the page
            m_svg << "<line class=\"time-tick\" x1=\"" << Number(x) << "\" y1=\"" << Number(m_gridTop - 1.5)
                  << "\" x2=\"" << Number(x) << "\" y2=\"" << Number(m_gridTop) << "\" stroke=\"#333\" stroke-width=\"0.2\"/>\n"
                  << Text(isLast ? x - 0.4 : x + 0.4, m_gridTop - 1.8, kMarkFont, "time-mark",
                          std::to_string(std::llround(t)) + " s", isLast ? " text-anchor=\"end\"" : "");
        }
    }

    void AppendRow(size_t index) {
        const Row& row = m_rows[index];
        const double top = RowTop(index);
        const double baseline = top + kBaselineMm;
        const std::string clipId = "row" + std::to_string(index);
        m_svg << "<clipPath id=\"" << clipId << "\"><rect x=\"" << Number(TraceLeft()) << "\" y=\"" << Number(top)
              << "\" width=\"" << Number(GridRight() - TraceLeft()) << "\" height=\"" << Number(kRowHeightMm)
              << "\"/></clipPath>\n";
        const double pulseX = kMarginMm + 2;
        m_svg << "<path class=\"cal-pulse\" d=\"M" << Number(kMarginMm) << ' ' << Number(baseline) << "H"
              << Number(pulseX) << "V" << Number(baseline - kMmPerMv) << "H" << Number(pulseX + 5) << "V"
              << Number(baseline) << "H" << Number(TraceLeft()) << "\" fill=\"none\" stroke=\"black\" stroke-width=\"0.3\"/>\n";
        for (const Segment& segment : row) {
            const double left = TraceLeft() + segment.from * kMmPerSecond;
            if (segment.from > 0) {
                m_svg << "<line class=\"column-mark\" x1=\"" << Number(left) << "\" y1=\"" << Number(baseline - 5)
                      << "\" x2=\"" << Number(left) << "\" y2=\"" << Number(baseline + 5)
                      << "\" stroke=\"black\" stroke-width=\"0.3\"/>\n";
            }
            m_svg << Text(left + 1, top + 4.5, kLeadFont, "lead-name", kLeadNames[segment.lead],
                          " stroke=\"white\" stroke-width=\"0.8\" paint-order=\"stroke\"");
            const LeadState state = m_plot.leads[segment.lead];
            if (state != LeadState::Drawn) {
                const double middle = left + (segment.to - segment.from) * kMmPerSecond / 2;
                m_svg << Text(middle, baseline - 1, kLeadFont, "lead-state",
                              state == LeadState::NotInRecord ? "not in record" : "not derived",
                              " text-anchor=\"middle\" font-style=\"italic\" fill=\"#666\"");
                continue;
            }
            for (const LeadTraces& trace : m_plot.traces) AppendTrace(trace, segment, clipId, top, baseline);
        }
    }

    void AppendTrace(const LeadTraces& trace, const Segment& segment, const std::string& clipId, double top,
                     double baseline) {
        const std::vector<double>& samples = trace.millivolts[segment.lead];
        if (trace.sampleRate <= 0) return;
        const size_t first = static_cast<size_t>(std::llround(segment.from * trace.sampleRate));
        const size_t end = std::min(samples.size(), static_cast<size_t>(std::llround(segment.to * trace.sampleRate)));
        if (first >= end) return;
        const size_t stride = std::max<size_t>(1, static_cast<size_t>(trace.sampleRate / (kMmPerSecond * kPairsPerMm)));
        const double bottom = top + kRowHeightMm;
        std::string points, above, below;
        double aboveFrom = -1, belowFrom = -1, lastX = 0;
        const auto closeRun = [&](double& from, std::string& path, double edge) {
            if (from < 0) return;
            path += "M" + Number(from) + ' ' + Number(edge) + "H" + Number(std::max(lastX, from + kMinClipMarkMm));
            from = -1;
        };
        const auto addPoint = [&](size_t i) {
            const double x = TraceLeft() + static_cast<double>(i) / trace.sampleRate * kMmPerSecond;
            const double y = baseline - samples[i] * kMmPerMv;
            points += Number(x) + ',' + Number(std::clamp(y, top - 1, bottom + 1)) + ' ';
            if (y < top && aboveFrom < 0) aboveFrom = x;
            if (y > bottom && belowFrom < 0) belowFrom = x;
            lastX = x;
            if (y >= top) closeRun(aboveFrom, above, top);
            if (y <= bottom) closeRun(belowFrom, below, bottom);
        };
        for (size_t i = first; i < end; i += stride) {
            const size_t stop = std::min(end, i + stride);
            const auto [low, high] = std::minmax_element(samples.begin() + static_cast<long>(i),
                                                         samples.begin() + static_cast<long>(stop));
            const size_t a = static_cast<size_t>(low - samples.begin()), b = static_cast<size_t>(high - samples.begin());
            addPoint(std::min(a, b));
            if (a != b) addPoint(std::max(a, b));
        }
        closeRun(aboveFrom, above, top);
        closeRun(belowFrom, below, bottom);
        m_svg << "<g clip-path=\"url(#" << clipId << ")\"><polyline class=\"trace\" fill=\"none\"" << Stroke(trace)
              << " points=\"" << points << "\"/></g>\n";
        if (!above.empty() || !below.empty()) {
            m_svg << "<path class=\"clip-mark\" d=\"" << above << below
                  << "\" fill=\"none\" stroke=\"#d00000\" stroke-width=\"0.8\"/>\n";
        }
    }

    const EcgPlot& m_plot;
    const std::vector<Row> m_rows;
    const double m_width;
    double m_gridTop = 0;
    std::ostringstream m_svg;
};

}  // namespace

std::string RenderEcgSvg(const EcgPlot& plot) { return CSvgWriter(plot).Render(); }

bool WriteTextToFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    out.close();
    return static_cast<bool>(out);
}
