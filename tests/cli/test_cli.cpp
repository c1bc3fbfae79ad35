// The tavo command's own logic: waveform texts, source detection, lead rebuilding and
// the SVG writer's structure and scale.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stack>
#include <string>
#include <tuple>

#include "lead_rebuild.h"
#include "source.h"
#include "svg_plot.h"

namespace {

// Every tag opened is closed in order; returns the number of elements seen.
int CountBalancedElements(const std::string& xml) {
    std::stack<std::string> open;
    int elements = 0;
    const std::regex tag(R"(<(/?)([A-Za-z][A-Za-z0-9]*)[^>]*?(/?)>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::smatch& match = *it;
        if (match[1] == "/") {
            if (open.empty() || open.top() != match[2]) return -1;
            open.pop();
            continue;
        }
        ++elements;
        if (match[3] != "/") open.push(match[2]);
    }
    return open.empty() ? elements : -1;
}

}  // namespace

TEST(WaveformText, ReadsShapeAndUnitsInAnyOrderAndRefusesWhatItCannotPlay) {
    struct Case { const char* text; const char* shape; double hz, mV; int widthMs; };
    for (const Case& c : {Case{"sine:1Hz:2mV", "sine", 1, 2, 0}, Case{"RECT:2mV:100ms:0.5hz", "rect", 0.5, 2, 100},
                          Case{"fixed:500uV", "fixed", 0, 0.5, 0}, Case{"autocal", "autocal", 0, 0, 0}}) {
        WaveformRequest wave;
        std::string error;
        ASSERT_TRUE(ParseWaveformText(c.text, wave, error)) << error;
        EXPECT_EQ(std::tuple(wave.shape, wave.frequencyHz, wave.amplitudeMv, wave.pulseWidthMs),
                  std::tuple(c.shape, c.hz, c.mV, c.widthMs)) << c.text;
    }
    WaveformRequest wave{"untouched"};
    std::string error;
    for (const char* text : {"saw:1Hz:1mV", "sine:1Hz", "sine:2mV", "sine:1:2mV", "rect:1Hz:2mV", "sine:1Hz:2V", ""}) {
        EXPECT_FALSE(ParseWaveformText(text, wave, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    EXPECT_EQ(wave.shape, "untouched") << "a refused text leaves the result as it was";
}

TEST(SourceDetection, ByExtensionThenByContentAndFilesBeforeWaveformTexts) {
    struct Case { const char* path; const char* head; SourceKind kind; };
    for (const Case& c : {Case{"/d/100.hea", "", SourceKind::MitRecord}, Case{"/d/R.EDF", "", SourceKind::EdfFile},
                          Case{"/d/x.DCD", "", SourceKind::CseFile}, Case{"/d/x.ecg", "", SourceKind::AhaFile},
                          Case{"/d/k.txt", "500\n3\n START \nLead I\n1000\n", SourceKind::KestraneFile},
                          Case{"/d/a.txt", "100,200,\"N\"\n-400,400,\"N\"\n", SourceKind::AhaFile},
                          Case{"/d/c.txt", "10 20 30 40 50 60 70 80 90 100 110 120\n", SourceKind::CseFile},
                          Case{"/d/k.rec", "250\n10\nstart\n", SourceKind::KestraneFile}}) {
        EXPECT_EQ(DetectRecordFile(c.path, c.head), c.kind) << c.path;
    }
    // An existing file wins over a waveform text of the same name.
    std::string dir = (std::filesystem::temp_directory_path() / "tavo-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/sine:1Hz:2mV";
    std::ofstream(path) << "1000\n2\nstart\n";
    SourceRequest source;
    std::string error;
    ASSERT_TRUE(ParseSource(path, source, error)) << error;
    EXPECT_EQ(source.kind, SourceKind::KestraneFile);
    ASSERT_TRUE(ParseSource("square:2Hz:1mV", source, error)) << error;
    EXPECT_EQ(source.kind, SourceKind::Waveform);
    EXPECT_FALSE(ParseSource(dir + "/missing.hea", source, error));
    std::filesystem::remove_all(dir);
}

// Electrodes worked by hand from I = 1.0, II = 0.5, V1 = 1.0, other chest leads 0:
// reference (1.5 x 0.33333333333), V1 electrode (1.0 + reference) x 0.592731022038923.
TEST(LeadRebuild, InvertsTheOutputNetwork) {
    const double chest = 0.499999999995 * 0.592731022038923, v1 = 1.499999999995 * 0.592731022038923;
    const std::array<double, kLeadCount> leads = RebuildLeads({1.0, 0.5, chest, chest, chest, chest, chest, v1});
    const std::array<double, kLeadCount> expected = {1.0, 0.5, -0.5, -0.75, 0.75, 0.0, 1.0, 0, 0, 0, 0, 0};
    for (int lead = 0; lead < kLeadCount; ++lead) EXPECT_NEAR(leads[lead], expected[lead], 1e-9) << kLeadNames[lead];
}

TEST(SvgPlot, IsWellFormedAndScaledToEcgPaper) {
    LeadTraces trace;
    trace.label = "a <test> & more";
    trace.colour = "#123456";
    trace.sampleRate = 1000;
    for (int lead = 0; lead < kLeadCount; ++lead) trace.millivolts[lead].assign(1000, 0.0);
    trace.millivolts[0][400] = 1.0;  // lead I, 0.4 s, 1 mV
    const std::string svg = RenderTwelveLeadSvg({trace}, "title");
    EXPECT_GT(CountBalancedElements(svg), 12);
    EXPECT_EQ(svg.find("<test>"), std::string::npos) << "text must be escaped";
    // 1 s at 25 mm/s is 25 mm of paper, widened to the 100 mm minimum, plus the 12 mm label margin and 2 mm border.
    EXPECT_NE(svg.find("width=\"114mm\""), std::string::npos);
    const std::regex polyline("<polyline");
    EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), polyline), std::sregex_iterator()), 12);
    // Lead I's row: title 14 mm, baseline at 14 + 15 mm; 1 mV is 10 mm up; 0.4 s is 10 mm right.
    EXPECT_NE(svg.find("22.00,19.00"), std::string::npos);
    EXPECT_NE(svg.find("21.90,29.00"), std::string::npos);
}
