#pragma once
// Test waves as the tavo command writes them, "sine:1Hz:2mV": read, checked against the
// output range, described and loaded through the library's waveform calls.

#include <string>
#include <vector>

struct WaveformRequest {
    std::string shape;  // a row of the waveform table: sine, triangle, square, rect, ...
    double frequencyHz = 0;
    double amplitudeMv = 0;
    double pulseWidthMs = 0;
};

// Whether a source text begins with a waveform's name ("autocal", "sine:...").
bool IsWaveformText(const std::string& text);

// Parses a waveform text: a shape followed by ':'-separated values with units (Hz, mV,
// uV, ms) in any order, each one the shape takes. False with a one-line reason.
bool ParseWaveformText(const std::string& text, WaveformRequest& request, std::string& error);

// Checks a parsed waveform against what the library and the generator play at
// +-rangeMv. False with the allowed range when they would change it (a frequency outside
// 0.01-100 Hz, an amplitude beyond the range); warnings for what they do by design.
bool CheckWaveform(const WaveformRequest& wave, double rangeMv, std::string& error,
                   std::vector<std::string>& warnings);

// Loads a parsed waveform into the library and says how it reports it: the rate of its
// lead frames, its length (0: until stopped) and what it is. False when the library
// refuses it.
bool LoadWaveform(const WaveformRequest& wave, double& sampleRate, double& durationSeconds, std::string& description);
