#pragma once
// What the tavo command plays or plots: a record file, a built-in reference record,
// a synthetic waveform written as "sine:1Hz:2mV", or a synthetic ECG as "ecg:72bpm".

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "svg_plot.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"
#include "waveform_source.h"

enum class SourceKind { Waveform, BuiltIn, SyntheticEcg, MitRecord, EdfFile, AhaFile, CseFile, KestraneFile };

struct SourceRequest {
    SourceKind kind = SourceKind::Waveform;
    std::string path;  // record files
    std::string name;  // built-in record name, or the ECG text, as written
    WaveformRequest waveform;
    TAVO_SYNTHETIC_ECG ecg{};
};

constexpr double kDefaultRangeMv = 5.0;  // the library's output range until it is set

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

struct ECGHeaderFree {
    void operator()(ECG_HEADER* header) const { TAVOFreeECGHeader(header); }
};
// A header the library handed out, given back to it on every way out.
using ECGHeaderPtr = std::unique_ptr<ECG_HEADER, ECGHeaderFree>;

// A source loaded into the library.
struct LoadedSource {
    ECGHeaderPtr header;          // null for waveforms
    double sampleRate = 0;        // of the lead frames the library reports
    double durationSeconds = 0;   // 0 for waveforms that run until stopped
    bool isLoop = false;          // made to repeat: played until stopped, drawn repeated
    std::string name;             // the record's name, or the waveform's shape
    std::string description;      // what it is, with its parameters
    std::array<LeadState, kLeadCount> leads{};
};

// Loads the source; the repository is where EDF files are converted. False with a reason.
bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, LoadedSource& loaded,
                std::string& error);

// The names of the built-in records in table order, read from the library.
const std::vector<std::string>& BuiltInRecordNames();
// The index of a built-in record name (any letter case), or -1.
int FindBuiltInRecord(const std::string& name);
