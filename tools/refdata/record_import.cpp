// Import of licensed reference records. Everything a record could get wrong is refused with one
// line naming the file: a build must never embed a record the loader would play wrongly.

#include "record_import.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "blob_writer.h"
#include "loaders/ctscse_catalog.h"
#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

namespace {

struct HeaderFree {
    void operator()(WFDB_HEADER* header) const { WFDBFreeHeader(header); }
};
using CWfdbHeader = std::unique_ptr<WFDB_HEADER, HeaderFree>;

constexpr const char* kLeadNames[kCTSCSELeadCount] = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"};

// The lead a signal description names: "I", "II", "V1" ... "V6" in any case, alone or after
// "ECG " or "lead "; -1 for anything else.
int LeadOfDescription(const char* description) {
    std::string text;
    for (const char* c = description; *c != '\0'; ++c) text += char(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    for (const char* prefix : {"ECG ", "LEAD "})
        if (text.compare(0, std::strlen(prefix), prefix) == 0) text.erase(0, std::strlen(prefix));
    for (int lead = 0; lead < kCTSCSELeadCount; ++lead)
        if (text == kLeadNames[lead]) return lead;
    return -1;
}

// For each lead, the signal that carries it. Records without descriptions are taken in the
// order I, II, V1-V6; with descriptions, every signal must name a different lead of the eight.
std::string FindLeadOrder(const WFDB_HEADER& header, const std::string& where, int (&signalOf)[kCTSCSELeadCount]) {
    bool anyDescribed = false;
    for (int signal = 0; signal < kCTSCSELeadCount; ++signal) anyDescribed |= header.Signal[signal].Description[0] != '\0';
    for (int lead = 0; lead < kCTSCSELeadCount; ++lead) signalOf[lead] = anyDescribed ? -1 : lead;
    if (!anyDescribed) return "";
    for (int signal = 0; signal < kCTSCSELeadCount; ++signal) {
        const char* description = header.Signal[signal].Description;
        const int lead = LeadOfDescription(description);
        if (lead < 0)
            return where + ": signal " + std::to_string(signal) + " (\"" + description +
                   "\") is not one of I, II, V1-V6";
        if (signalOf[lead] >= 0)
            return where + ": signals " + std::to_string(signalOf[lead]) + " and " + std::to_string(signal) +
                   " both carry lead " + kLeadNames[lead];
        signalOf[lead] = signal;
    }
    return "";
}

// Millivolts per physical unit of a signal: the units are written as mV (or not at all) or uV.
bool UnitScale(char unit, double& scale) {
    if (unit == '\0' || unit == 'm') {
        scale = 1.0;
        return true;
    }
    if (unit == 'u') {
        scale = 0.001;
        return true;
    }
    return false;
}

// The signal lines must describe what the shared reader reads: one file, one format, one
// sample per frame, no skew or byte offset (which the reader does not apply).
std::string CheckSignals(const WFDB_HEADER& header, const std::string& where, const std::string& datName,
                         double (&scale)[kCTSCSELeadCount]) {
    const int format = header.Signal[0].Format;
    if (format != 16 && format != 212)
        return where + ": format " + std::to_string(format) + ", expected 16 or 212";
    for (int signal = 0; signal < kCTSCSELeadCount; ++signal) {
        const WFDB_SIGNAL& line = header.Signal[signal];
        const std::string which = where + ": signal " + std::to_string(signal);
        if (datName != line.FileName) return which + " is in \"" + line.FileName + "\", expected \"" + datName + "\"";
        if (line.Format != format) return which + " has format " + std::to_string(line.Format) + ", signal 0 has " + std::to_string(format);
        if (line.SamplesPerFrame != 1 || line.Skew != 0 || line.ByteOffset != 0)
            return which + " has several samples per frame, a skew or a byte offset";
        if (!(line.ADCGain > 0.0) || !std::isfinite(line.ADCGain)) return which + " has no positive gain";
        if (!UnitScale(line.ADCUnit, scale[signal])) return which + " is in units other than mV or uV";
    }
    return "";
}

}  // namespace

std::string ImportRecord(const std::string& dir, int index, std::vector<double>& values,
                         std::vector<std::string>& inputs) {
    if (index < 0 || index >= kCTSCSERecordCount) return "no catalogue record " + std::to_string(index);
    const CTSCSE_CATALOG_ENTRY& entry = kCTSCSECatalog[index];
    const std::string name = entry.name;
    std::string heaPath = dir + "/" + name + ".hea";
    const std::string datPath = dir + "/" + name + ".dat";

    std::error_code error;
    if (!std::filesystem::is_regular_file(heaPath, error)) return heaPath + ": missing";
    const CWfdbHeader header(WFDBReadHeader(heaPath.data()));
    if (header == nullptr) return heaPath + ": not a WFDB header";
    if (name != header->RecordName)
        return heaPath + ": names record \"" + header->RecordName + "\", expected \"" + name + "\"";
    if (header->NumberOfSignals != kCTSCSELeadCount)
        return heaPath + ": " + std::to_string(header->NumberOfSignals) + " signals, expected 8 (I, II, V1-V6)";
    if (header->SamplingFrequency != kCTSCSESampleRate)
        return heaPath + ": sampled at " + std::to_string(header->SamplingFrequency) + " Hz, expected 1000";
    const int samples = header->NumberOfSamplesPerSignal;
    if (entry.lengthIsFixed && samples != entry.standInSamples)
        return heaPath + ": cycle of " + std::to_string(samples) + " samples, expected " +
               std::to_string(entry.standInSamples);
    if (!entry.lengthIsFixed && (samples < kCTSCSEMinCycle || samples > kCTSCSEMaxCycle))
        return heaPath + ": cycle of " + std::to_string(samples) + " samples, outside " +
               std::to_string(kCTSCSEMinCycle) + " to " + std::to_string(kCTSCSEMaxCycle);

    double scale[kCTSCSELeadCount];
    std::string problem = CheckSignals(*header, heaPath, name + ".dat", scale);
    if (!problem.empty()) return problem;
    int signalOf[kCTSCSELeadCount];
    problem = FindLeadOrder(*header, heaPath, signalOf);
    if (!problem.empty()) return problem;

    // A file of another length holds another signal count or format than the header says.
    // 8 x samples is even, so format 212 ends on a whole three-byte group.
    const uintmax_t storedValues = uintmax_t(samples) * kCTSCSELeadCount;
    const uintmax_t expectedBytes = header->Signal[0].Format == 16 ? storedValues * 2 : storedValues / 2 * 3;
    const uintmax_t bytes = std::filesystem::file_size(datPath, error);
    if (error) return datPath + ": missing";
    if (bytes != expectedBytes)
        return datPath + ": " + std::to_string(bytes) + " bytes, expected " + std::to_string(expectedBytes) +
               " for 8 signals of " + std::to_string(samples) + " samples";
    if (!WFDBLoadSignal(dir.c_str(), header.get())) return datPath + ": cannot be opened";

    std::vector<double> cycle(static_cast<size_t>(storedValues));
    double frame[kCTSCSELeadCount];
    for (int sample = 0; sample < samples; ++sample) {
        if (WFDBNextSample(header.get(), frame, 1) != 1)
            return datPath + ": ends after " + std::to_string(sample) + " of " + std::to_string(samples) + " samples";
        for (int lead = 0; lead < kCTSCSELeadCount; ++lead) {
            const int signal = signalOf[lead];
            const double mV = frame[signal] * scale[signal];
            // A gain near zero can blow a stored value up beyond any double.
            if (!std::isfinite(mV)) return datPath + ": sample " + std::to_string(sample) + " is out of range";
            cycle[size_t(lead) * size_t(samples) + size_t(sample)] = mV;
        }
    }
    values.swap(cycle);
    inputs.push_back(heaPath);
    inputs.push_back(datPath);
    return "";
}

std::string ImportLicensedRecords(const std::string& dir, REFERENCE_SET& set) {
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) return dir + ": not a directory of reference records";
    REFERENCE_SET imported = set;
    imported.inputs.clear();
    imported.records.assign(size_t(kCTSCSERecordCount), {});
    for (int index = 0; index < kCTSCSERecordCount; ++index) {
        const std::string problem = ImportRecord(dir, index, imported.records[size_t(index)], imported.inputs);
        if (!problem.empty()) return problem;
    }
    imported.isStandIn = false;
    const std::string problem = CheckReferenceSet(imported);
    if (!problem.empty()) return dir + ": " + problem;
    set = std::move(imported);
    return "";
}

std::string GenerateReferenceData(const std::string& outDir, const std::string& importDir) {
    REFERENCE_SET set = MakeStandInSet();
    if (!importDir.empty()) {
        const std::string problem = ImportLicensedRecords(importDir, set);
        if (!problem.empty()) return problem;
    }
    return WriteReferenceBlob(set, outDir);
}
