#pragma once
// The synthetic ECG as the tavo command writes it, "ecg:72bpm:st=+0.2mV": read into the
// library's parameters, described, and measured against the output range once loaded.

#include <string>
#include <vector>

#include "tavo/tavo_ext.h"

// Whether a source text names a synthetic ECG: "ecg" or "ecg:..." in any letter case.
bool IsEcgText(const std::string& text);

// Reads "ecg" and ':'-separated settings in any order: the heart rate (72bpm, required),
// the R amplitude (2mV, 500uV) and key=value settings (tavo list names them). False with a
// one-line reason that gives the allowed range, for anything the library would refuse or
// ignore; params is then unchanged.
bool ParseEcgText(const std::string& text, TAVO_SYNTHETIC_ECG& params, std::string& error);

// The parameters as a person reads them, for plot titles and the play line.
std::string DescribeEcg(const TAVO_SYNTHETIC_ECG& params, double loopSeconds);

// Measures the loaded loop's eight outputs (I, II, V1-V6): why it cannot play unchanged
// within +-rangeMv, or empty when it fits.
std::string DescribeEcgBeyondRange(const std::string& text, double loopSeconds, double rangeMv);

// The settings for tavo list: an example and what it sets, one line each.
std::vector<std::string> EcgSettingLines();
