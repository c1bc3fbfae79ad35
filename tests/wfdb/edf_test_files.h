#pragma once
// EDF files for the converter and loader tests, written byte by byte so that every
// field, malformed ones included, is exactly as the test gives it.

#include <functional>
#include <string>
#include <vector>

// The raw sample n (counted from the start of the file) of signal s.
using EdfSampleFunction = std::function<short(int s, long long n)>;

// One signal's header fields as text, each padded with blanks (or cut) to its width.
struct RawEdfSignal {
    std::string label = "ECG", unit = "uV", physicalMin = "-3276.8", physicalMax = "3276.7", digitalMin = "-32768", digitalMax = "32767";
    std::string samplesPerRecord = "10";
};

// The head and signal headers of an EDF file, every field given as text.
std::vector<unsigned char> RawEdfHead(const std::string& version, const std::string& records, const std::string& duration,
                                      const std::string& signalCount, const std::vector<RawEdfSignal>& signals);

// An EDF file: the head, then records data records drawn from sample.
std::vector<unsigned char> RawEdfFile(const std::vector<RawEdfSignal>& signals, int records, const EdfSampleFunction& sample,
                                      const std::string& duration = "1");
