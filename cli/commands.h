#pragma once
// The tavo subcommands. Each returns the process exit status and prints its own
// one-line errors on stderr; the library itself prints nothing.

#include <string>

#include "generator_session.h"
#include "source.h"
#include "svg_plot.h"

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;  // the arguments were wrong

struct PreviewOptions {
    std::string source;
    std::string svgPath;
    int startSecond = 0;
    int seconds = static_cast<int>(kReportSeconds);
    std::string noise = "none";
    std::string repository;
    bool isStrips = false;
};
int RunPreview(const PreviewOptions& options);

int RunList();
int RunConvert(const std::string& format, const std::string& input, const std::string& outputDirectory);
int RunNoiseStressTest(const std::string& signal, const std::string& noise, int snr, const std::string& output);
int RunAmplitude(const std::string& record);

struct DemoOptions {
    double seconds = kReportSeconds;
    std::string record = "MA1_001";
    std::string noise = "50HZ";
    std::string svgPath = "demo.svg";
};
int RunDemo(const DemoOptions& options);

struct PlayOptions {
    std::string source;
    DeviceChoice device;
    int startSecond = 0;
    double durationSeconds = 0;  // 0: until the record ends (or Ctrl-C)
    bool loop = false;
    std::string noise = "none";
    double rangeMv = kDefaultRangeMv;
    bool isRangeSet = false;
    std::string repository;
};
int RunPlay(const PlayOptions& options);

int RunInfo(const DeviceChoice& device);

// Prints "tavo: <message>" on stderr and returns kExitFailure.
int Fail(const std::string& message);
// Prints "tavo: warning: <message>" on stderr.
void Warn(const std::string& message);
// Where an EDF source is converted: the --repository folder, or the user's cache folder
// (made when missing). Empty for other sources, which need none.
std::string RepositoryFor(const SourceRequest& request, const std::string& repositoryOption);
