#pragma once
// Helpers of the WFDB tests: headers held by an owner, samples packed by hand, and the
// public records decoded and measured independently of the library.

#include <string>
#include <vector>

#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

using CHeaderPtr = CWFDBHeaderPtr;

CHeaderPtr ReadHeaderAt(const std::string& path);
// Writes name.hea and name.dat into directory and opens them; null when either fails.
CHeaderPtr OpenRecord(const std::string& directory, const std::string& headerText,
                      const std::vector<unsigned char>& data, const std::string& name = "rec");

// Format-212 bytes (an odd count closes with a two-byte group); format-16 bytes, low byte first.
std::vector<unsigned char> Pack212(const std::vector<int>& samples);
std::vector<unsigned char> Pack16(const std::vector<int>& samples);
// Every stored sample of a file in file order; a closing two-byte 212 group gives one
// sample, a stray last byte none.
std::vector<int> DecodeFile212(const std::string& path);
std::vector<int> DecodeFile16(const std::string& path);
// Samples dealt out frame by frame over signalCount signals (whole frames only).
std::vector<std::vector<int>> SplitSignals(const std::vector<int>& samples, int signalCount);

struct CTestBeat {
    long long time;
    int code;
};
// Annotation codes and times (SKIP applied; other modifiers passed over).
std::vector<CTestBeat> DecodeAnnotationFile(const std::string& path);

// Amplitudes worked without the library: per signal, up to 300 peak-to-peak values over
// [beat - window, beat + window] for class-1 beats (stopping at a window before the start
// or a beat past the end), or RMS of 360-sample windows; then the mean of the middle 270
// of 300 slots (empty slots 0), truncated to 5 decimals.
std::vector<double> ExpectedPeakToPeak(const std::vector<std::vector<int>>& signals,
                                       const std::vector<CTestBeat>& beats, int window);
std::vector<double> ExpectedRms(const std::vector<std::vector<int>>& signals);

std::string SharedRecordFile(const std::string& name);
