// Turning a SOURCE argument into a loaded signal through the public interface.

#include "source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ecg_source.h"
#include "record_files.h"
#include "source_text.h"
#include "tavo/tavo_ext.h"

namespace {

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

// Records whose loader reads only the header are given their samples here.
ECGHeaderPtr WithSamples(ECG_HEADER* loadedHeader) {
    ECGHeaderPtr header(loadedHeader);
    if (header != nullptr && !TAVOLoadMITDatabase(header.get())) header.reset();
    return header;
}

ECGHeaderPtr LoadRecordHeader(const SourceRequest& request, int noise, const std::string& repository) {
    switch (request.kind) {
        case SourceKind::BuiltIn:
            return ECGHeaderPtr(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(FindBuiltInRecord(request.name)),
                                                        static_cast<CTSCSE_Noise>(noise)));
        case SourceKind::SyntheticEcg: return ECGHeaderPtr(TAVOLoadSyntheticECG(&request.ecg));
        case SourceKind::MitRecord: return WithSamples(TAVOLoadMITHeader(request.path.c_str()));
        case SourceKind::EdfFile: {
            static std::string repositoryText;  // the library keeps the pointer
            repositoryText = repository;
            g_pszRepository = repositoryText.c_str();
            return WithSamples(LoadDatabaseEDF(request.path.c_str(), WaveformEDF));
        }
        case SourceKind::AhaFile: return ECGHeaderPtr(TAVOLoadDatabaseAHA(request.path.c_str()));
        case SourceKind::CseFile: return ECGHeaderPtr(TAVOLoadDatabaseCSE(request.path.c_str()));
        case SourceKind::KestraneFile: return ECGHeaderPtr(TAVOLoadDatabaseKestrane(request.path.c_str()));
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

int FindNoise(const std::string& name) { return FindIgnoringCase(NoiseNames(), name); }

int NoNoise() { return CTSCSE_NOISE_NONE; }

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
    } else if (IsWaveformText(text)) {
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
            const ECGHeaderPtr header(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(record), CTSCSE_NOISE_NONE));
            if (header == nullptr) break;
            found.emplace_back(header->szRecordName);
        }
        return found;
    }();
    return names;
}

int FindBuiltInRecord(const std::string& name) { return FindIgnoringCase(BuiltInRecordNames(), name); }

bool LoadSource(const SourceRequest& request, int noise, const std::string& repository, LoadedSource& loaded,
                std::string& error) {
    if (request.kind == SourceKind::Waveform) {
        if (!LoadWaveform(request.waveform, loaded.sampleRate, loaded.durationSeconds, loaded.description)) {
            error = "the library refused the waveform " + request.waveform.shape;
            return false;
        }
        loaded.name = request.waveform.shape;
        loaded.leads = LeadsOf(request.kind, nullptr);
        return true;
    }
    ECGHeaderPtr header = LoadRecordHeader(request, noise, repository);
    if (header == nullptr) {
        error = request.kind == SourceKind::BuiltIn || request.kind == SourceKind::SyntheticEcg
                    ? "the library cannot load " + request.name
                    : DescribeLoadFailure(request, repository);
        return false;
    }
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
    loaded.leads = LeadsOf(request.kind, header.get());
    loaded.header = std::move(header);
    return true;
}
