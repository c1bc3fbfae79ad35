#pragma once
// Helpers of the WFDB tests: headers held by an owner, signal bytes packed by
// hand, and raw samples of the public records decoded independently of the
// library's readers.

#include <memory>
#include <string>
#include <vector>

#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

using CHeaderPtr = CWFDBHeaderPtr;

// Parses the header file at path.
CHeaderPtr ReadHeaderAt(const std::string& path);

// Writes name.hea (headerText) and name.dat (data) into directory, parses the
// header and opens its signal file from directory; null when either fails.
CHeaderPtr OpenRecord(const std::string& directory, const std::string& headerText,
                      const std::vector<unsigned char>& data, const std::string& name = "rec");

// Format-212 bytes of the samples, in pairs; an odd count is padded with 0.
std::vector<unsigned char> Pack212(const std::vector<int>& samples);
// Format-16 bytes of the samples, low byte first.
std::vector<unsigned char> Pack16(const std::vector<int>& samples);

// Every stored sample of a format-212 or format-16 file, in file order; a
// trailing partial group or byte is dropped.
std::vector<int> DecodeFile212(const std::string& path);
std::vector<int> DecodeFile16(const std::string& path);

// Raw samples of one-sample-per-frame signals, per signal: the file's samples
// dealt out frame by frame over signalCount signals (whole frames only).
std::vector<std::vector<int>> SplitSignals(const std::vector<int>& samples, int signalCount);

// One annotation as the test's own decoder reads it: time and code.
struct CTestBeat {
    long long time;
    int code;
};
// Decodes an annotation file (codes, SKIP intervals; other modifiers passed over).
std::vector<CTestBeat> DecodeAnnotationFile(const std::string& path);

// The measurement rules worked independently of the library: per signal, up to
// 300 peak-to-peak values over [beat - window, beat + window] for beats of class 1
// (a window before the record's start or a beat past its end stops measuring),
// or RMS values of 360-sample windows; then the mean of the 270 middle values of
// the 300 slots (empty slots are 0), truncated to 5 decimals.
std::vector<double> ExpectedPeakToPeak(const std::vector<std::vector<int>>& signals,
                                       const std::vector<CTestBeat>& beats, int window);
std::vector<double> ExpectedRms(const std::vector<std::vector<int>>& signals);

// A public record's path: SharedDataDir() + "/" + name.
std::string SharedRecordFile(const std::string& name);
