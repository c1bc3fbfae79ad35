#pragma once
// What the tavo command plays or plots: a record file, a built-in reference record,
// a synthetic waveform written as "sine:1Hz:2mV", or a synthetic ECG as "ecg:72bpm".

#include <array>
#include <string>
#include <vector>

#include "svg_plot.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

enum class SourceKind { Waveform, BuiltIn, SyntheticEcg, MitRecord, EdfFile, AhaFile, CseFile, KestraneFile };

struct WaveformRequest {
    std::string shape;  // a row of the waveform table: sine, triangle, square, rect, ...
    double frequencyHz = 0;
    double amplitudeMv = 0;
    double pulseWidthMs = 0;
};

struct SourceRequest {
    SourceKind kind = SourceKind::Waveform;
    std::string path;  // record files
    std::string name;  // built-in record name, or the ECG text, as written
    WaveformRequest waveform;
    TAVO_SYNTHETIC_ECG ecg{};
};

constexpr double kDefaultRangeMv = 5.0;  // the library's output range until it is set

// Parses a waveform text: a shape followed by ':'-separated values with units (Hz, mV,
// uV, ms) in any order, each one the shape takes. False with a one-line reason.
bool ParseWaveformText(const std::string& text, WaveformRequest& request, std::string& error);

// Checks a parsed waveform against what the library and the generator play at
// +-rangeMv. False with the allowed range when they would change it (a frequency outside
// 0.01-100 Hz, an amplitude beyond the range); warnings for what they do by design.
bool CheckWaveform(const WaveformRequest& wave, double rangeMv, std::string& error,
                   std::vector<std::string>& warnings);

// Decides what a SOURCE names: an existing file (by extension, then by content for
// ".txt" and unknown ones), a record name whose ".hea" exists, a waveform or ECG text, or
// a built-in record name. False with a one-line reason.
bool ParseSource(const std::string& text, SourceRequest& request, std::string& error);

// The kind of a record file from its name and first bytes.
SourceKind DetectRecordFile(const std::string& path, const std::string& head);

// The built-in noise names, in the order of CTSCSE_Noise (the last is "none").
const std::vector<std::string>& NoiseNames();
// The index of a noise name (any letter case), or -1.
int FindNoise(const std::string& name);
int NoNoise();

// A source loaded into the library; frees its header when destroyed.
class CLoadedSource {
public:
    CLoadedSource() = default;
    ~CLoadedSource();
    CLoadedSource(const CLoadedSource&) = delete;
    CLoadedSource& operator=(const CLoadedSource&) = delete;

    ECG_HEADER* header = nullptr;
    double sampleRate = 0;        // of the lead frames the library reports
    double durationSeconds = 0;   // 0 for waveforms that run until stopped
    bool isLoop = false;          // made to repeat: played until stopped, drawn repeated
    std::string name;             // the record's name, or the waveform's shape
    std::string description;      // what it is, with its parameters
    std::array<LeadState, kLeadCount> leads{};
};

// Loads the source; the repository is where EDF files are converted. False with a reason.
bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, CLoadedSource& loaded,
                std::string& error);

// The names of the built-in records in table order, read from the library.
const std::vector<std::string>& BuiltInRecordNames();
// The index of a built-in record name (any letter case), or -1.
int FindBuiltInRecord(const std::string& name);
