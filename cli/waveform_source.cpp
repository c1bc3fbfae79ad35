// Reading, checking and loading the test waves of "sine:1Hz:2mV" source texts. The
// library makes the wave; this unit refuses, with the range, what would not play unchanged.

#include "waveform_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "source_text.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

// What a waveform's amplitude means, and so which values the generator plays unchanged.
enum class AmplitudeRule {
    None,        // the shape has fixed levels (peakMv)
    PeakToPeak,  // swings +-A/2; the library clamps A to 10 mV
    Step,        // 0, then A; clamped to +-10 mV
    Level,       // A throughout; not clamped, only clipped to the range
};

constexpr double kMaxAmplitudeMv = 10;  // the library's amplitude clamp
constexpr double kMinFrequencyHz = 0.01, kMaxFrequencyHz = 100;

// One row per waveform: what it takes, how the library reports it, and how it is loaded.
struct WaveformShape {
    const char* name;
    bool takesFrequency;
    bool takesWidth;
    AmplitudeRule amplitude;
    double sampleRate;       // of the lead frames the library reports
    double durationSeconds;  // 0: runs until stopped
    double peakMv;           // AmplitudeRule::None: the largest level it holds
    const char* note;        // said after its parameters
    bool (*load)(const WaveformRequest& wave);
};

const WaveformShape kShapes[] = {
    {"sine", true, false, AmplitudeRule::PeakToPeak, 1000, 0, 0, "",
     [](const WaveformRequest& w) { return TAVOLoadWaveform(WAVEFORM_SINE, w.frequencyHz, w.amplitudeMv); }},
    {"triangle", true, false, AmplitudeRule::PeakToPeak, 1000, 0, 0, "",
     [](const WaveformRequest& w) { return TAVOLoadWaveform(WAVEFORM_TRIANGLE, w.frequencyHz, w.amplitudeMv); }},
    {"square", true, false, AmplitudeRule::PeakToPeak, 1000, 0, 0, "",
     [](const WaveformRequest& w) { return TAVOLoadWaveform(WAVEFORM_SQUARE, w.frequencyHz, w.amplitudeMv); }},
    {"rect", true, true, AmplitudeRule::PeakToPeak, 1000, 0, 0, "resting at minus half the amplitude",
     [](const WaveformRequest& w) {
         return TAVOLoadWaveformRectanglePulse(static_cast<int>(w.pulseWidthMs), w.frequencyHz, w.amplitudeMv);
     }},
    {"tripulse", true, true, AmplitudeRule::PeakToPeak, 1000, 0, 0, "resting at minus half the amplitude",
     [](const WaveformRequest& w) {
         return TAVOLoadWaveformTrianglePulse(static_cast<int>(w.pulseWidthMs), w.frequencyHz, w.amplitudeMv);
     }},
    {"cal", true, false, AmplitudeRule::Step, 360, 10, 0, "a 10 s table at 360 Hz",
     [](const WaveformRequest& w) { return TAVOLoadWaveformCalibrationMode(w.frequencyHz, w.amplitudeMv); }},
    {"autocal", false, false, AmplitudeRule::None, 1000, 45, 5,
     "levels 0, 0.2, 1, 2, 5, -0.2, -1, -2, -5 mV for 5 s each",
     [](const WaveformRequest&) { return TAVOLoadWaveformAutoCalibrationMode(); }},
    {"fixed", false, false, AmplitudeRule::Level, 1000, 1, 0, "on every output",
     [](const WaveformRequest& w) { return LoadWaveformFixedVoltage(w.amplitudeMv); }},
};

// The units a waveform value may carry, and the field each fills.
struct ValueUnit {
    const char* unit;
    double WaveformRequest::*field;
    double scale;
};
const ValueUnit kUnits[] = {{"hz", &WaveformRequest::frequencyHz, 1},
                            {"mv", &WaveformRequest::amplitudeMv, 1},
                            {"uv", &WaveformRequest::amplitudeMv, 0.001},
                            {"ms", &WaveformRequest::pulseWidthMs, 1}};

const WaveformShape* FindShape(const std::string& name) {
    for (const WaveformShape& shape : kShapes) {
        if (Lower(name) == shape.name) return &shape;
    }
    return nullptr;
}

std::string ShapeNames() {
    std::string names;
    for (const WaveformShape& shape : kShapes) names += std::string(names.empty() ? "" : ", ") + shape.name;
    return names;
}

// What the parameters of a waveform say, for titles and the play line.
std::string DescribeWaveform(const WaveformShape& shape, const WaveformRequest& wave) {
    std::string text = shape.name;
    if (shape.takesFrequency) text += " " + Format(wave.frequencyHz) + " Hz,";
    if (shape.takesWidth) text += " " + Format(wave.pulseWidthMs) + " ms pulses,";
    switch (shape.amplitude) {
        case AmplitudeRule::PeakToPeak: text += " " + Format(wave.amplitudeMv) + " mV peak to peak"; break;
        case AmplitudeRule::Step: text += " 0 and " + Format(wave.amplitudeMv) + " mV"; break;
        case AmplitudeRule::Level: text += " " + Format(wave.amplitudeMv) + " mV"; break;
        case AmplitudeRule::None: break;
    }
    if (shape.note[0] != '\0') text += std::string(shape.amplitude == AmplitudeRule::None ? " " : ", ") + shape.note;
    return text;
}

}  // namespace

bool IsWaveformText(const std::string& text) { return FindShape(text.substr(0, text.find(':'))) != nullptr; }

bool ParseWaveformText(const std::string& text, WaveformRequest& request, std::string& error) {
    const std::vector<std::string> parts = Split(text, ":");
    const WaveformShape* shape = parts.empty() ? nullptr : FindShape(parts[0]);
    if (shape == nullptr) {
        error = "unknown waveform '" + (parts.empty() ? text : parts[0]) + "' (" + ShapeNames() + ")";
        return false;
    }
    WaveformRequest parsed;
    parsed.shape = shape->name;
    std::vector<double WaveformRequest::*> given;
    for (size_t i = 1; i < parts.size(); ++i) {
        char* end = nullptr;
        const double value = std::strtod(parts[i].c_str(), &end);
        if (end == parts[i].c_str() || !std::isfinite(value)) {
            error = "'" + parts[i] + "' is not a number with a unit (Hz, mV, uV, ms)";
            return false;
        }
        const ValueUnit* unit = nullptr;
        for (const ValueUnit& candidate : kUnits) {
            if (Lower(end) == candidate.unit) unit = &candidate;
        }
        if (unit == nullptr) {
            error = "unit of '" + parts[i] + "' is not Hz, mV, uV or ms";
            return false;
        }
        parsed.*(unit->field) = value * unit->scale;
        given.push_back(unit->field);
    }
    const auto has = [&given](double WaveformRequest::*field) {
        return std::find(given.begin(), given.end(), field) != given.end();
    };
    const struct {
        double WaveformRequest::*field;
        bool isTaken;
        const char* what;
    } parameters[] = {{&WaveformRequest::frequencyHz, shape->takesFrequency, "a frequency (Hz)"},
                      {&WaveformRequest::pulseWidthMs, shape->takesWidth, "a pulse width (ms)"},
                      {&WaveformRequest::amplitudeMv, shape->amplitude != AmplitudeRule::None, "an amplitude (mV)"}};
    for (const auto& parameter : parameters) {
        if (parameter.isTaken != has(parameter.field)) {
            error = "waveform '" + text + "' " + (parameter.isTaken ? "lacks " : "takes no ") + parameter.what;
            return false;
        }
    }
    request = parsed;
    return true;
}

bool CheckWaveform(const WaveformRequest& wave, double rangeMv, std::string& error,
                   std::vector<std::string>& warnings) {
    const WaveformShape* shape = FindShape(wave.shape);
    if (shape == nullptr) {
        error = "unknown waveform '" + wave.shape + "'";
        return false;
    }
    const std::string range = "the +-" + Format(rangeMv) + " mV output range";
    if (shape->takesFrequency) {
        if (!(wave.frequencyHz >= kMinFrequencyHz && wave.frequencyHz <= kMaxFrequencyHz)) {
            error = "frequency " + Format(wave.frequencyHz) + " Hz is outside what the library plays: 0.01 to 100 Hz";
            return false;
        }
        // The library rounds half away from zero to two decimals.
        const double played = std::trunc((wave.frequencyHz + 0.005) * 100) / 100;
        if (std::fabs(played - wave.frequencyHz) > 1e-9) {
            warnings.push_back(Format(wave.frequencyHz) + " Hz plays as " + Format(played) +
                               " Hz: the library keeps two decimals");
        }
    }
    if (shape->takesWidth) {
        if (wave.pulseWidthMs < 1 || wave.pulseWidthMs != std::trunc(wave.pulseWidthMs)) {
            error = "pulse width " + Format(wave.pulseWidthMs) + " ms must be a whole number of milliseconds, 1 or more";
            return false;
        }
        if (wave.pulseWidthMs >= 1000 / wave.frequencyHz) {
            warnings.push_back("a " + Format(wave.pulseWidthMs) + " ms pulse fills the " + Format(1000 / wave.frequencyHz) +
                               " ms period: no rest between pulses");
        }
    }
    const double amplitude = wave.amplitudeMv;
    switch (shape->amplitude) {
        case AmplitudeRule::PeakToPeak: {
            const double most = std::min(kMaxAmplitudeMv, 2 * rangeMv);
            if (amplitude > 0 && amplitude <= most) break;
            error = "amplitude " + Format(amplitude) + " mV peak to peak does not fit " + range +
                    ": give more than 0 and at most " + Format(most) + " mV";
            return false;
        }
        case AmplitudeRule::Step: {
            const double most = std::min(kMaxAmplitudeMv, rangeMv);
            if (amplitude != 0 && std::fabs(amplitude) <= most) break;
            error = "amplitude " + Format(amplitude) + " mV does not fit " + range + ": give -" + Format(most) +
                    " to " + Format(most) + " mV, not 0";
            return false;
        }
        case AmplitudeRule::Level:
            if (std::fabs(amplitude) <= rangeMv) break;
            error = Format(amplitude) + " mV does not fit " + range + ": give -" + Format(rangeMv) + " to " +
                    Format(rangeMv) + " mV";
            return false;
        case AmplitudeRule::None:
            if (shape->peakMv <= rangeMv) break;
            error = std::string(shape->name) + " reaches +-" + Format(shape->peakMv) + " mV, beyond " + range;
            return false;
    }
    return true;
}

bool LoadWaveform(const WaveformRequest& wave, double& sampleRate, double& durationSeconds, std::string& description) {
    const WaveformShape* shape = FindShape(wave.shape);
    if (shape == nullptr || !shape->load(wave)) return false;
    sampleRate = shape->sampleRate;
    durationSeconds = shape->durationSeconds;
    description = DescribeWaveform(*shape, wave);
    return true;
}
