#pragma once
// What the tavo command plays or plots: a record file, a built-in reference
// record, or a synthetic waveform written as "sine:1Hz:2mV".

#include <memory>
#include <string>
#include <vector>

#include "tavo/tavo.h"

enum class SourceKind { Waveform, BuiltIn, MitRecord, EdfFile, AhaFile, CseFile, KestraneFile };

struct WaveformRequest {
    std::string shape;  // sine, triangle, square, rect, tripulse, cal, autocal, fixed
    double frequencyHz = 0;
    double amplitudeMv = 0;
    int pulseWidthMs = 0;
};

struct SourceRequest {
    SourceKind kind = SourceKind::Waveform;
    std::string path;      // record files
    std::string name;      // built-in record name as written
    WaveformRequest waveform;
};

// Parses a waveform text: a shape followed by ':'-separated values with units
// (Hz, mV, ms), in any order. False with a one-line reason.
bool ParseWaveformText(const std::string& text, WaveformRequest& request, std::string& error);

// Decides what a SOURCE names: an existing file (by extension, then by content for
// ".txt" and unknown ones), else a waveform text, else a built-in record name.
bool ParseSource(const std::string& text, SourceRequest& request, std::string& error);

// The kind of a record file from its name and first bytes.
SourceKind DetectRecordFile(const std::string& path, const std::string& head);

// The built-in noise names, in the order of CTSCSE_Noise (the last is "none").
const std::vector<std::string>& NoiseNames();
// The index of a noise name (any letter case), or -1.
int FindNoise(const std::string& name);

// A source loaded into the library; frees its header when destroyed.
class CLoadedSource {
public:
    CLoadedSource() = default;
    ~CLoadedSource();
    CLoadedSource(const CLoadedSource&) = delete;
    CLoadedSource& operator=(const CLoadedSource&) = delete;

    ECG_HEADER* header = nullptr;
    double sampleRate = 1000;      // of the lead frames the library reports
    double durationSeconds = 0;    // 0 for waveforms, which have no end
    std::string description;
};

// Loads the source; the repository is where EDF files are converted. False with a reason.
bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, CLoadedSource& loaded,
                std::string& error);

// The names of the built-in records in table order, read from the library.
const std::vector<std::string>& BuiltInRecordNames();
// The index of a built-in record name (any letter case), or -1.
int FindBuiltInRecord(const std::string& name);
