// Turning a SOURCE argument into a loaded signal through the public interface.

#include "source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ecg_source.h"
#include "record_files.h"
#include "source_text.h"
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

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ReadHead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(65536, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

std::vector<std::string> NonBlankLines(const std::string& text, size_t most) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (lines.size() < most && std::getline(in, line)) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) lines.push_back(line.substr(first));
    }
    return lines;
}

bool IsNumber(const std::string& text) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0';
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
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

// The leads a record's header routes to outputs. III, aVR, aVL and aVF are derived from I
// and II when the kind derives them at all (derived is Drawn), so then they need both.
std::array<LeadState, kLeadCount> MappedLeads(const ECG_HEADER& header, LeadState derived) {
    std::array<LeadState, kLeadCount> leads;
    leads.fill(LeadState::NotInRecord);
    for (int channel = 0; channel < header.nSignals; ++channel) {
        const int lead = header.Channel[channel].nLead;
        if (lead >= LEAD_I && lead <= LEAD_V6) leads[lead < LEAD_V1 ? lead : lead + 4] = LeadState::Drawn;
    }
    const bool hasLimbs = leads[0] == LeadState::Drawn && leads[1] == LeadState::Drawn;
    for (int lead = 2; lead < 6; ++lead) leads[lead] = hasLimbs || derived != LeadState::Drawn ? derived : LeadState::NotInRecord;
    return leads;
}

std::array<LeadState, kLeadCount> LeadsOf(SourceKind kind, const ECG_HEADER* header) {
    std::array<LeadState, kLeadCount> leads;
    leads.fill(LeadState::Drawn);
    switch (kind) {
        case SourceKind::MitRecord: return MappedLeads(*header, LeadState::Drawn);
        case SourceKind::EdfFile: return MappedLeads(*header, LeadState::NotDerived);
        case SourceKind::AhaFile:  // I and II only; the chest outputs carry a share of them
            std::fill(leads.begin() + 2, leads.begin() + 6, LeadState::NotDerived);
            std::fill(leads.begin() + 6, leads.end(), LeadState::NotInRecord);
            return leads;
        default: return leads;
    }
}

const char* FormatName(SourceKind kind) {
    switch (kind) {
        case SourceKind::MitRecord: return "WFDB record";
        case SourceKind::EdfFile: return "EDF record";
        case SourceKind::AhaFile: return "AHA record";
        case SourceKind::CseFile: return "CSE record";
        case SourceKind::KestraneFile: return "maker's-format record";
        default: return "built-in record, a synthetic stand-in for the published one";
    }
}

// Why a record file did not load, as far as the command can tell.
std::string DescribeLoadFailure(const SourceRequest& request, const std::string& repository) {
    std::string reason = DescribeUnreadable(request.path);
    if (!reason.empty()) return reason;
    if (request.kind == SourceKind::MitRecord) {
        HeaderFacts facts;
        return ReadHeaderFacts(request.path, facts, reason) ? "the library cannot load the record " + request.path : reason;
    }
    if (request.kind == SourceKind::EdfFile) {
        reason = DescribeEdfProblem(request.path);
        if (!reason.empty()) return reason;
        reason = DescribeOutputFolder(repository);
        if (!reason.empty()) return "cannot convert into the repository: " + reason;
        return "the library cannot convert " + request.path + " (into " + repository + ")";
    }
    return "the library cannot read " + request.path + " as a" + (request.kind == SourceKind::AhaFile ? "n " : " ") +
           FormatName(request.kind);
}

ECG_HEADER* LoadRecordHeader(const SourceRequest& request, int noise, const std::string& repository) {
    const auto withSamples = [](ECG_HEADER* header) {
        if (header != nullptr && !TAVOLoadMITDatabase(header)) {
            TAVOFreeECGHeader(header);
            return static_cast<ECG_HEADER*>(nullptr);
        }
        return header;
    };
    switch (request.kind) {
        case SourceKind::BuiltIn:
            return TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(FindBuiltInRecord(request.name)),
                                           static_cast<CTSCSE_Noise>(noise));
        case SourceKind::SyntheticEcg: return TAVOLoadSyntheticECG(&request.ecg);
        case SourceKind::MitRecord: return withSamples(TAVOLoadMITHeader(request.path.c_str()));
        case SourceKind::EdfFile: {
            static std::string repositoryText;  // the library keeps the pointer
            repositoryText = repository;
            g_pszRepository = repositoryText.c_str();
            return withSamples(LoadDatabaseEDF(request.path.c_str(), WaveformEDF));
        }
        case SourceKind::AhaFile: return TAVOLoadDatabaseAHA(request.path.c_str());
        case SourceKind::CseFile: return TAVOLoadDatabaseCSE(request.path.c_str());
        case SourceKind::KestraneFile: return TAVOLoadDatabaseKestrane(request.path.c_str());
        case SourceKind::Waveform: break;
    }
    return nullptr;
}

}  // namespace

const std::vector<std::string>& NoiseNames() {
    static const std::vector<std::string> names = {"50HZ",  "60HZ",  "BL",    "BL_HF", "HF_05",
                                                   "HF_10", "HF_15", "HF_20", "HF_25", "HF_30",
                                                   "HF_35", "HF_40", "HF_45", "HF_50", "none"};
    return names;
}

int FindNoise(const std::string& name) {
    const std::vector<std::string>& names = NoiseNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (Lower(names[i]) == Lower(name)) return static_cast<int>(i);
    }
    return -1;
}

int NoNoise() { return CTSCSE_NOISE_NONE; }

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

SourceKind DetectRecordFile(const std::string& path, const std::string& head) {
    const std::string lower = Lower(path);
    if (EndsWith(lower, ".hea")) return SourceKind::MitRecord;
    if (EndsWith(lower, ".edf")) return SourceKind::EdfFile;
    if (EndsWith(lower, ".dcd")) return SourceKind::CseFile;
    if (EndsWith(lower, ".ecg")) return SourceKind::AhaFile;
    // The maker's format opens with two lone numbers and "start", which neither test below takes.
    const std::vector<std::string> lines = NonBlankLines(head, 1);
    if (!lines.empty()) {
        const std::vector<std::string> fields = Split(lines[0], " \t\r");
        if (fields.size() >= 12 && std::all_of(fields.begin(), fields.begin() + 12, IsNumber)) return SourceKind::CseFile;
        const std::vector<std::string> pair = Split(lines[0], ", ");
        if (pair.size() >= 2 && IsNumber(pair[0]) && IsNumber(pair[1]) && EndsWith(lower, ".txt")) {
            return SourceKind::AhaFile;
        }
    }
    return SourceKind::KestraneFile;
}

bool ParseSource(const std::string& text, SourceRequest& request, std::string& error) {
    SourceRequest parsed;
    if (IsRegularFile(text) || IsRegularFile(text + ".hea")) {
        parsed.path = IsRegularFile(text) ? text : text + ".hea";
        parsed.kind = DetectRecordFile(parsed.path, ReadHead(parsed.path));
    } else if (IsEcgText(text)) {
        parsed.kind = SourceKind::SyntheticEcg;
        parsed.name = text;
        if (!ParseEcgText(text, parsed.ecg, error)) return false;
    } else if (FindShape(text.substr(0, text.find(':'))) != nullptr) {
        parsed.kind = SourceKind::Waveform;
        if (!ParseWaveformText(text, parsed.waveform, error)) return false;
    } else if (FindBuiltInRecord(text) >= 0) {
        parsed.kind = SourceKind::BuiltIn;
        parsed.name = BuiltInRecordNames()[static_cast<size_t>(FindBuiltInRecord(text))];
    } else {
        struct stat info {};
        error = stat(text.c_str(), &info) == 0                         ? text + " is not a record file"
                : text.find_first_of("/.") != std::string::npos ? "no such file: " + text
                                                                         : "'" + text +
                                                                               "' is neither a file, a waveform such as "
                                                                               "sine:1Hz:2mV or ecg:72bpm, nor a built-in "
                                                                               "record (see tavo list)";
        return false;
    }
    request = parsed;
    return true;
}

const std::vector<std::string>& BuiltInRecordNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> found;
        for (int record = 0; record <= CTSCSE_MA1_125; ++record) {
            ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(record), CTSCSE_NOISE_NONE);
            if (header == nullptr) break;
            found.emplace_back(header->szRecordName);
            TAVOFreeECGHeader(header);
        }
        return found;
    }();
    return names;
}

int FindBuiltInRecord(const std::string& name) {
    const std::vector<std::string>& names = BuiltInRecordNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (Lower(names[i]) == Lower(name)) return static_cast<int>(i);
    }
    return -1;
}

CLoadedSource::~CLoadedSource() {
    if (header != nullptr) TAVOFreeECGHeader(header);
}

bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, CLoadedSource& loaded,
                std::string& error) {
    if (request.kind == SourceKind::Waveform) {
        const WaveformShape* shape = FindShape(request.waveform.shape);
        if (shape == nullptr || !shape->load(request.waveform)) {
            error = "the library refused the waveform " + request.waveform.shape;
            return false;
        }
        loaded.sampleRate = shape->sampleRate;
        loaded.durationSeconds = shape->durationSeconds;
        loaded.name = shape->name;
        loaded.description = DescribeWaveform(*shape, request.waveform);
        loaded.leads = LeadsOf(request.kind, nullptr);
        return true;
    }
    ECG_HEADER* header = LoadRecordHeader(request, noise, repository);
    if (header == nullptr) {
        error = request.kind == SourceKind::BuiltIn || request.kind == SourceKind::SyntheticEcg
                    ? "the library cannot load " + request.name
                    : DescribeLoadFailure(request, repository);
        return false;
    }
    loaded.header = header;
    loaded.sampleRate = header->nSampleRate > 0 ? header->nSampleRate : 1;
    loaded.durationSeconds = header->nSampleRate > 0 ? static_cast<double>(header->nSampleCount) / header->nSampleRate : 0;
    loaded.name = header->szRecordName;
    char length[64];
    std::snprintf(length, sizeof length, "%d signals at %d Hz, %.2f s", header->nSignals, header->nSampleRate,
                  loaded.durationSeconds);
    loaded.description = request.kind == SourceKind::SyntheticEcg
                             ? DescribeEcg(request.ecg, loaded.durationSeconds)
                             : loaded.name + " (" + FormatName(request.kind) + "), " + length;
    loaded.isLoop = request.kind == SourceKind::SyntheticEcg;
    loaded.leads = LeadsOf(request.kind, header);
    return true;
}
