// Turning a SOURCE argument into a loaded signal through the public interface.

#include "source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tavo/tavo_ext.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
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

std::vector<std::string> Split(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> fields;
    size_t start = text.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        const size_t stop = text.find_first_of(delimiters, start);
        fields.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
        start = stop == std::string::npos ? stop : text.find_first_not_of(delimiters, stop);
    }
    return fields;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A value with its unit: "1.5Hz" gives 1.5 and "hz".
bool SplitUnit(const std::string& token, double& value, std::string& unit) {
    char* end = nullptr;
    value = std::strtod(token.c_str(), &end);
    if (end == token.c_str()) return false;
    unit = Lower(end);
    return true;
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

bool ParseWaveformText(const std::string& text, WaveformRequest& request, std::string& error) {
    const std::vector<std::string> parts = Split(text, ":");
    if (parts.empty()) {
        error = "empty waveform";
        return false;
    }
    WaveformRequest parsed;
    parsed.shape = Lower(parts[0]);
    static const std::vector<std::string> shapes = {"sine", "triangle", "square", "rect",
                                                    "tripulse", "cal", "autocal", "fixed"};
    if (std::find(shapes.begin(), shapes.end(), parsed.shape) == shapes.end()) {
        error = "unknown waveform '" + parts[0] + "' (sine, triangle, square, rect, tripulse, cal, autocal, fixed)";
        return false;
    }
    bool hasFrequency = false, hasAmplitude = false, hasWidth = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        double value = 0;
        std::string unit;
        if (!SplitUnit(parts[i], value, unit)) {
            error = "'" + parts[i] + "' is not a number with a unit";
            return false;
        }
        if (unit == "hz") {
            parsed.frequencyHz = value;
            hasFrequency = true;
        } else if (unit == "mv") {
            parsed.amplitudeMv = value;
            hasAmplitude = true;
        } else if (unit == "uv") {
            parsed.amplitudeMv = value / 1000.0;
            hasAmplitude = true;
        } else if (unit == "ms") {
            parsed.pulseWidthMs = static_cast<int>(value);
            hasWidth = true;
        } else {
            error = "unit of '" + parts[i] + "' is not Hz, mV, uV or ms";
            return false;
        }
    }
    const bool periodic = parsed.shape != "autocal" && parsed.shape != "fixed";
    const bool pulse = parsed.shape == "rect" || parsed.shape == "tripulse";
    if ((periodic && !hasFrequency) || (parsed.shape != "autocal" && !hasAmplitude) || (pulse && !hasWidth)) {
        error = "waveform '" + text + "' lacks " +
                std::string(periodic && !hasFrequency ? "a frequency (Hz)"
                            : pulse && !hasWidth      ? "a pulse width (ms)"
                                                      : "an amplitude (mV)");
        return false;
    }
    request = parsed;
    return true;
}

SourceKind DetectRecordFile(const std::string& path, const std::string& head) {
    const std::string lower = Lower(path);
    if (EndsWith(lower, ".hea")) return SourceKind::MitRecord;
    if (EndsWith(lower, ".edf")) return SourceKind::EdfFile;
    if (EndsWith(lower, ".dcd")) return SourceKind::CseFile;
    if (EndsWith(lower, ".ecg")) return SourceKind::AhaFile;
    const std::vector<std::string> lines = NonBlankLines(head, 3);
    if (lines.size() == 3 && IsNumber(lines[0]) && IsNumber(lines[1]) && Lower(lines[2]) == "start") {
        return SourceKind::KestraneFile;
    }
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
    if (IsRegularFile(text)) {
        parsed.kind = DetectRecordFile(text, ReadHead(text));
        parsed.path = text;
        request = parsed;
        return true;
    }
    if (text.find(':') != std::string::npos || text == "autocal") {
        parsed.kind = SourceKind::Waveform;
        if (!ParseWaveformText(text, parsed.waveform, error)) return false;
        request = parsed;
        return true;
    }
    if (FindBuiltInRecord(text) >= 0) {
        parsed.kind = SourceKind::BuiltIn;
        parsed.name = text;
        request = parsed;
        return true;
    }
    error = "'" + text + "' is neither a file, a waveform such as sine:1Hz:2mV, nor a built-in record (see tavo list)";
    return false;
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

namespace {

bool LoadWaveform(const WaveformRequest& wave, std::string& error) {
    bool ok = false;
    if (wave.shape == "sine") ok = TAVOLoadWaveform(WAVEFORM_SINE, wave.frequencyHz, wave.amplitudeMv);
    if (wave.shape == "triangle") ok = TAVOLoadWaveform(WAVEFORM_TRIANGLE, wave.frequencyHz, wave.amplitudeMv);
    if (wave.shape == "square") ok = TAVOLoadWaveform(WAVEFORM_SQUARE, wave.frequencyHz, wave.amplitudeMv);
    if (wave.shape == "rect") {
        ok = TAVOLoadWaveformRectanglePulse(wave.pulseWidthMs, wave.frequencyHz, wave.amplitudeMv);
    }
    if (wave.shape == "tripulse") {
        ok = TAVOLoadWaveformTrianglePulse(wave.pulseWidthMs, wave.frequencyHz, wave.amplitudeMv);
    }
    if (wave.shape == "cal") ok = TAVOLoadWaveformCalibrationMode(wave.frequencyHz, wave.amplitudeMv);
    if (wave.shape == "autocal") ok = TAVOLoadWaveformAutoCalibrationMode();
    if (wave.shape == "fixed") ok = LoadWaveformFixedVoltage(wave.amplitudeMv);
    if (!ok) error = "the library refused the waveform " + wave.shape;
    return ok;
}

}  // namespace

bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, CLoadedSource& loaded,
                std::string& error) {
    if (request.kind == SourceKind::Waveform) {
        if (!LoadWaveform(request.waveform, error)) return false;
        const WaveformRequest& wave = request.waveform;
        const bool table = wave.shape == "cal" || wave.shape == "autocal" || wave.shape == "fixed";
        loaded.sampleRate = wave.shape == "cal" ? 360 : 1000;
        loaded.durationSeconds = !table ? 0 : wave.shape == "cal" ? 10 : wave.shape == "autocal" ? 45 : 1;
        loaded.description = "waveform " + wave.shape;
        return true;
    }
    ECG_HEADER* header = nullptr;
    switch (request.kind) {
        case SourceKind::BuiltIn:
            header = TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(FindBuiltInRecord(request.name)),
                                             static_cast<CTSCSE_Noise>(noise < 0 ? CTSCSE_NOISE_NONE : noise));
            break;
        case SourceKind::MitRecord:
            header = TAVOLoadMITHeader(request.path.c_str());
            if (header != nullptr && !TAVOLoadMITDatabase(header)) {
                TAVOFreeECGHeader(header);
                header = nullptr;
            }
            break;
        case SourceKind::EdfFile: {
            static std::string repositoryText;
            repositoryText = repository;
            g_pszRepository = repositoryText.c_str();
            header = LoadDatabaseEDF(request.path.c_str(), WaveformEDF);
            if (header != nullptr && !TAVOLoadMITDatabase(header)) {
                TAVOFreeECGHeader(header);
                header = nullptr;
            }
            break;
        }
        case SourceKind::AhaFile: header = TAVOLoadDatabaseAHA(request.path.c_str()); break;
        case SourceKind::CseFile: header = TAVOLoadDatabaseCSE(request.path.c_str()); break;
        case SourceKind::KestraneFile: header = TAVOLoadDatabaseKestrane(request.path.c_str()); break;
        case SourceKind::Waveform: break;
    }
    if (header == nullptr) {
        error = "cannot load " + (request.path.empty() ? request.name : request.path);
        return false;
    }
    loaded.header = header;
    // The maker's format plays out at 1000 samples per second whatever its own rate.
    loaded.sampleRate = header->nSampleRate > 0 ? header->nSampleRate : 1;
    loaded.durationSeconds = header->nSampleRate > 0 ? static_cast<double>(header->nSampleCount) / header->nSampleRate : 0;
    loaded.description = std::string(header->szRecordName) + ", " + std::to_string(header->nSignals) + " signals, " +
                         std::to_string(header->nSampleRate) + " Hz, " + std::to_string(header->nSampleCount) +
                         " samples";
    return true;
}
