// Reading and describing "ecg:" source texts. The library synthesises the loop and checks
// its own ranges; this unit refuses, with the range, what it would refuse or ignore.

#include "ecg_source.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "source_text.h"
#include "svg_plot.h"
#include "tavo/tavo.h"

namespace {

// One numeric setting: how it is written, its range in the written unit, where it goes.
struct EcgSetting {
    const char* key;      // before '='; "" for the values known by their unit alone
    const char* unit;     // after the number; uV is read as mV / 1000
    double lowest, highest;
    bool isWhole;
    const char* example;
    const char* meaning;  // for tavo list
    void (*store)(TAVO_SYNTHETIC_ECG& params, double value);
};

const EcgSetting kSettings[] = {
    {"", "bpm", 20, 300, true, "72bpm", "heart rate (required)",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.nHeartRate = static_cast<int>(v); }},
    {"", "mV", 0.05, 5, false, "2mV", "R wave of lead II, the other leads in proportion (uV too)",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.fAmplitude = v; }},
    {"st", "mV", -0.8, 0.8, false, "st=+0.2mV", "ST level from the J point on (uV too)",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.fSTOffset = v; }},
    {"t", "", -1, 2, false, "t=1.5", "T wave as a fraction of R, inverted when negative",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.fTWave = v; }},
    {"qrs", "ms", 40, 160, false, "qrs=120ms", "QRS width",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.fQRSWidth = v; }},
    {"pvc", "", 2, 8, true, "pvc=4", "a premature ventricular beat every Nth beat, then a compensatory pause",
     [](TAVO_SYNTHETIC_ECG& p, double v) {
         p.nPVCInterval = static_cast<int>(v);
         p.nRhythm = SYNTHETIC_PVC;
     }},
    {"cv", "%", 0, 30, false, "cv=15%", "variation of the irregular RR intervals",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.fVariation = v / 100; }},
    {"seed", "", 0, 4294967295.0, true, "seed=2", "seed of the irregular RR intervals",
     [](TAVO_SYNTHETIC_ECG& p, double v) { p.nSeed = static_cast<unsigned int>(v); }},
};

// A clip smaller than half a 12-bit DAC step changes no code there, and is far inside the
// model's own amplitude accuracy: lead II's R wave reaches 5.00004 mV when 5 mV is asked.
constexpr double kClipToleranceOfRange = 1.0 / 4000;

// The extremes of the reported leads, kept by a plain-function callback.
std::array<double, kLeadCount>* g_ecgExtremes = nullptr;

void KeepExtremes(double, double* leads, bool last) {
    if (last || g_ecgExtremes == nullptr) return;
    for (int lead = 0; lead < kLeadCount; ++lead) {
        if (std::fabs(leads[lead]) > std::fabs((*g_ecgExtremes)[lead])) (*g_ecgExtremes)[lead] = leads[lead];
    }
}

std::string RangeText(const EcgSetting& setting) {
    char text[80];  // %.10g: the seed's range in full
    std::snprintf(text, sizeof text, "%s%.10g to %.10g%s%s", setting.isWhole ? "whole numbers from " : "", setting.lowest,
                  setting.highest, setting.unit[0] != '\0' ? " " : "", setting.unit);
    return text;
}

// Reads one field into params and names it in given. Empty, or why not.
std::string ReadSetting(const std::string& field, TAVO_SYNTHETIC_ECG& params, std::vector<std::string>& given) {
    const size_t equals = field.find('=');
    const std::string key = equals == std::string::npos ? "" : Lower(field.substr(0, equals));
    const std::string value = equals == std::string::npos ? field : field.substr(equals + 1);
    const auto isFirst = [&given](const std::string& name) {
        if (std::find(given.begin(), given.end(), name) != given.end()) return false;
        given.push_back(name);
        return true;
    };
    if (key == "rhythm" || key == "p") {
        const std::string word = Lower(value);
        if (!isFirst(key + "=")) return "'" + field + "': " + key + "= is given twice";
        if (key == "rhythm" && (word == "regular" || word == "irregular")) {
            params.nRhythm = word == "regular" ? SYNTHETIC_REGULAR : SYNTHETIC_IRREGULAR;
        } else if (key == "p" && (word == "on" || word == "off")) {
            params.bPWaves = word == "on" ? 1 : 0;
        } else {
            return "'" + field + "': give " + (key == "p" ? "p=on or p=off" : "rhythm=regular or rhythm=irregular (pvc=N makes PVCs)");
        }
        return "";
    }
    char* end = nullptr;
    double number = std::strtod(value.c_str(), &end);
    std::string unit = Lower(end);
    if (unit == "uv") {
        number /= 1000;
        unit = "mv";
    }
    const EcgSetting* setting = nullptr;
    for (const EcgSetting& candidate : kSettings) {
        // Values without a key are told apart by their unit.
        if (key == candidate.key && (!key.empty() || unit == Lower(candidate.unit))) setting = &candidate;
    }
    if (setting == nullptr) {
        return key.empty() ? "'" + field + "' is neither a heart rate (bpm) nor an R amplitude (mV, uV); other ECG "
                                           "settings are st=, t=, qrs=, p=, rhythm=, pvc=, cv= and seed= (see tavo list)"
                           : "unknown ECG setting '" + key + "=' (st, t, qrs, p, rhythm, pvc, cv, seed)";
    }
    if (end == value.c_str() || unit != Lower(setting->unit)) return "'" + field + "' is not written like " + setting->example;
    const std::string name = key.empty() ? setting->unit : key + "=";
    if (!isFirst(name)) return "'" + field + "': " + (key.empty() ? "a value in " + name : name) + " is given twice";
    if (!(number >= setting->lowest && number <= setting->highest) ||
        (setting->isWhole && number != std::trunc(number))) {
        return "'" + field + "' is outside what the library synthesises: " + RangeText(*setting);
    }
    setting->store(params, number);
    return "";
}

// What the settings say together that none says alone. Empty when they agree.
std::string CheckCombination(const TAVO_SYNTHETIC_ECG& params, const std::vector<std::string>& given) {
    const auto has = [&given](const char* name) { return std::find(given.begin(), given.end(), name) != given.end(); };
    if (!has("bpm")) return "an ECG needs a heart rate, as in ecg:72bpm (" + RangeText(kSettings[0]) + ")";
    if (has("pvc=") && has("rhythm=")) return "pvc= makes a rhythm of its own: leave out rhythm=";
    if ((has("cv=") || has("seed=")) && params.nRhythm != SYNTHETIC_IRREGULAR) {
        return "cv= and seed= shape an irregular rhythm only: add rhythm=irregular";
    }
    if (has("p=") && params.bPWaves != 0 && params.nRhythm == SYNTHETIC_IRREGULAR) {
        return "an irregular rhythm has no P waves (like atrial fibrillation): leave out p=on";
    }
    return "";
}

// The beat's shape, rhythm aside: "R 1 mV in II, QRS 80 ms, T 0.25 x R, ST +0.2 mV".
std::string DescribeBeat(const TAVO_SYNTHETIC_ECG& params) {
    char st[32];
    std::snprintf(st, sizeof st, params.fSTOffset == 0 ? "%g" : "%+g", params.fSTOffset);
    return "R " + Format(params.fAmplitude) + " mV in II, QRS " + Format(params.fQRSWidth) + " ms, T " +
           Format(params.fTWave) + " x R, ST " + st + " mV";
}

}  // namespace

bool IsEcgText(const std::string& text) {
    const std::string lower = Lower(text);
    return lower == "ecg" || lower.rfind("ecg:", 0) == 0;
}

bool ParseEcgText(const std::string& text, TAVO_SYNTHETIC_ECG& params, std::string& error) {
    if (!IsEcgText(text)) {
        error = "'" + text + "' does not begin with ecg:";
        return false;
    }
    TAVO_SYNTHETIC_ECG parsed;
    TAVOSyntheticECGDefaults(&parsed);
    std::vector<std::string> given;
    std::string problem;
    const std::vector<std::string> fields = Split(text, ":");
    for (size_t i = 1; i < fields.size() && problem.empty(); ++i) problem = ReadSetting(fields[i], parsed, given);
    if (problem.empty()) problem = CheckCombination(parsed, given);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    params = parsed;
    return true;
}

std::string DescribeEcg(const TAVO_SYNTHETIC_ECG& params, double loopSeconds) {
    std::string text = "ecg " + std::to_string(params.nHeartRate) + " bpm";
    if (params.nRhythm == SYNTHETIC_IRREGULAR) {
        text += " irregular (RR variation " + Format(params.fVariation * 100) + " %, seed " +
                std::to_string(params.nSeed) + ")";
    } else if (params.nRhythm == SYNTHETIC_PVC) {
        const int n = params.nPVCInterval;
        text += " with a PVC every " + std::to_string(n) + (n == 2 ? "nd" : n == 3 ? "rd" : "th") + " beat";
    } else {
        text += " regular";
    }
    const bool hasP = params.bPWaves != 0 && params.nRhythm != SYNTHETIC_IRREGULAR;
    char loop[48];
    std::snprintf(loop, sizeof loop, "; a %.2f s loop", loopSeconds);
    return text + ", " + DescribeBeat(params) + ", " + (hasP ? "P waves" : "no P waves") + loop;
}

std::string DescribeEcgBeyondRange(const std::string& text, double loopSeconds, double rangeMv) {
    std::array<double, kLeadCount> extremes{};
    g_ecgExtremes = &extremes;
    const bool ok = TAVOGetWaveformSignal(0, static_cast<int>(std::ceil(loopSeconds)), KeepExtremes);
    g_ecgExtremes = nullptr;
    if (!ok) return "the library cannot report the leads of " + text;
    // The outputs carry I, II and V1-V6; the other leads follow from them.
    int worst = 0;
    for (int lead : {0, 1, 6, 7, 8, 9, 10, 11}) {
        if (std::fabs(extremes[lead]) > std::fabs(extremes[worst])) worst = lead;
    }
    if (std::fabs(extremes[worst]) <= rangeMv * (1 + kClipToleranceOfRange)) return "";
    char reach[32];
    std::snprintf(reach, sizeof reach, "%.3f", extremes[worst]);
    return text + " reaches " + reach + " mV in " + kLeadNames[worst] + ", beyond the +-" + Format(rangeMv) +
           " mV output range: lower its amplitude, T wave or ST level (tavo play --range widens the range)";
}

std::vector<std::string> EcgSettingLines() {
    std::vector<std::string> lines;
    const auto add = [&lines](const std::string& example, const std::string& meaning) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-17s %s", example.c_str(), meaning.c_str());
        lines.emplace_back(line);
    };
    for (const EcgSetting& setting : kSettings) add(setting.example, setting.meaning + std::string(": ") + RangeText(setting));
    add("rhythm=irregular", "RR intervals drawn at random and no P waves, like atrial fibrillation (or regular)");
    add("p=off", "no P waves (or on)");
    TAVO_SYNTHETIC_ECG defaults;
    TAVOSyntheticECGDefaults(&defaults);
    lines.push_back("Left out: " + DescribeBeat(defaults) + ", P waves; irregular RR variation " +
                    Format(defaults.fVariation * 100) + " %, seed " + std::to_string(defaults.nSeed));
    return lines;
}
