#pragma once
// The tavo subcommands. Each returns the process exit status and prints its own
// one-line errors on stderr; the library itself prints nothing.

#include <string>

struct PreviewOptions {
    std::string source;
    std::string svgPath;
    int startSecond = 0;
    int seconds = 10;
    std::string noise = "none";
    std::string repository;
};
int RunPreview(const PreviewOptions& options);

int RunList();
int RunConvert(const std::string& format, const std::string& input, const std::string& outputDirectory);
int RunNoiseStressTest(const std::string& signal, const std::string& noise, int snr, const std::string& output);
int RunAmplitude(const std::string& record);

// Prints "tavo: <message>" on stderr and returns 1.
int Fail(const std::string& message);
// Where converted EDF records go when no --repository is given.
std::string DefaultRepository();

struct DemoOptions {
    double seconds = 10;
    std::string record = "MA1_001";
    std::string noise = "50HZ";
    std::string svgPath = "demo.svg";
};
int RunDemo(const DemoOptions& options);

struct PlayOptions {
    std::string source;
    int port = -1;
    unsigned int timeoutMs = 10000;
    int startSecond = 0;
    double durationSeconds = 0;  // 0: until the record ends (or Ctrl-C)
    bool loop = false;
    std::string noise = "none";
    double rangeMv = 0;          // 0: keep the library's range
    bool simulate = false;
    std::string repository;
};
int RunPlay(const PlayOptions& options);

struct InfoOptions {
    int port = -1;
    unsigned int timeoutMs = 10000;
    bool simulate = false;
};
int RunInfo(const InfoOptions& options);
