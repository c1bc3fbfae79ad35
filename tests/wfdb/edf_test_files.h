#pragma once
// EDF files for the converter and loader tests: written through a real EDF writer
// library, or byte by byte for the cases that library refuses to write.

#include <functional>
#include <string>
#include <vector>

struct EdfSignalLayout {
    std::string label;
    int samplesPerRecord;
    int digitalMin = -32768;
    int digitalMax = 32767;
    double physicalMin = -3276.8;
    double physicalMax = 3276.7;
    std::string unit = "uV";
};

// The raw sample n (counted from the start of the file) of signal s.
using EdfSampleFunction = std::function<short(int s, long long n)>;

// Whether this build has the EDF library; WriteEdfPlusFile fails without it.
extern const bool kHasEdfWriter;

// An EDF+ file written by the EDF library, which adds its annotation signal (57 samples
// per record) behind the given ones; the record duration is in 10 us units.
bool WriteEdfPlusFile(const std::string& path, const std::vector<EdfSignalLayout>& signals, int records,
                      const EdfSampleFunction& sample, int durationTenMicroseconds = 100000);

// One signal's header fields as text, each padded with blanks (or cut) to its width.
struct RawEdfSignal {
    std::string label = "ECG";
    std::string unit = "uV";
    std::string physicalMin = "-3276.8";
    std::string physicalMax = "3276.7";
    std::string digitalMin = "-32768";
    std::string digitalMax = "32767";
    std::string samplesPerRecord = "10";
};

// The head and signal headers of an EDF file, every field given as text.
std::vector<unsigned char> RawEdfHead(const std::string& version, const std::string& records,
                                      const std::string& duration, const std::string& signalCount,
                                      const std::vector<RawEdfSignal>& signals);

// A plain EDF file (no annotation signal): the head, then records data records drawn from sample.
std::vector<unsigned char> RawEdfFile(const std::vector<RawEdfSignal>& signals, int records,
                                      const EdfSampleFunction& sample, const std::string& duration = "1");
