// Record files read by the command for its messages and its units. Every count and size
// read here is a claim: it is bounded before it sizes anything.

#include "record_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace {

constexpr double kDefaultGain = 200;        // WFDB's default ADC units per mV
constexpr double kDefaultRate = 250;        // WFDB's default sampling frequency
constexpr size_t kMaxHeaderSignals = 4096;  // more than any record we can play
constexpr size_t kEdfFixedHeader = 256;
constexpr size_t kEdfSignalCountAt = 252, kEdfSignalCountWidth = 4, kEdfLabelWidth = 16;
constexpr std::streamoff kMaxAnnotationBytes = 64 << 20;
// Annotation codes whose class is 1 in the amplitude measurement's table.
const std::set<int> kMeasuredBeatCodes = {1, 2, 3, 4, 7, 8, 9, 11, 12, 13, 25, 34, 35, 38};
constexpr int kSkipCode = 59, kAuxCode = 63;

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool ParseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && std::isfinite(value);
}

// "200", "200(0)/mV" or "32.7675/uV".
void ParseGain(const std::string& field, SignalFacts& signal) {
    double gain = 0;
    ParseNumber(field.substr(0, field.find_first_of("(/")), gain);
    signal.gain = gain > 0 ? gain : kDefaultGain;
    const size_t slash = field.find('/');
    if (slash != std::string::npos && slash + 1 < field.size()) signal.units = field.substr(slash + 1);
}

bool ParseSignalLine(const std::string& line, SignalFacts& signal) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    std::string field;
    while (fields.size() < 8 && in >> field) fields.push_back(field);
    if (fields.size() < 2) return false;
    signal.file = fields[0];
    signal.gain = kDefaultGain;
    signal.units = "mV";
    if (fields.size() > 2) ParseGain(fields[2], signal);
    std::getline(in >> std::ws, signal.description);
    return true;
}

bool ParseRecordLine(const std::string& line, HeaderFacts& facts, size_t& signalCount) {
    std::istringstream in(line);
    std::string name, count, rate, samples;
    in >> name >> count >> rate >> samples;
    double value = 0;
    if (name.empty() || !ParseNumber(count, value) || value < 0 || value > kMaxHeaderSignals) return false;
    signalCount = static_cast<size_t>(value);
    facts.recordName = name.substr(0, name.find('/'));
    facts.sampleRate = kDefaultRate;
    if (!rate.empty() && !ParseNumber(rate.substr(0, rate.find_first_of("/(")), facts.sampleRate)) return false;
    if (ParseNumber(samples, value) && value > 0) facts.samples = static_cast<long long>(std::min(value, 9e18));
    return facts.sampleRate > 0;
}

}  // namespace

std::string DescribeUnreadable(const std::string& path) {
    std::ifstream probe(path, std::ios::binary);
    if (probe) return "";
    if (!FileExists(path)) return "no such file: " + path;
    return "cannot read " + path + ": " + std::strerror(errno);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DescribeOutputFolder(const std::string& folder) {
    if (!IsFolder(folder)) return "output folder " + folder + " does not exist";
    return access(folder.c_str(), W_OK | X_OK) == 0 ? "" : "output folder " + folder + " is not writable";
}

std::string DescribeOutputFolderOf(const std::string& filePath) {
    const size_t slash = filePath.rfind('/');
    return DescribeOutputFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : filePath.substr(0, slash));
}

std::string HeaderPathOf(const std::string& record) {
    const bool hasSuffix = record.size() >= 4 && record.compare(record.size() - 4, 4, ".hea") == 0;
    return hasSuffix ? record : record + ".hea";
}

bool ReadHeaderFacts(const std::string& path, HeaderFacts& facts, std::string& problem) {
    problem = DescribeUnreadable(path);
    if (!problem.empty()) return false;
    std::ifstream in(path);
    HeaderFacts read;
    const size_t slash = path.rfind('/');
    read.directory = slash == std::string::npos ? "." : path.substr(0, slash);
    size_t signalCount = 0;
    bool hasRecordLine = false;
    std::string line;
    while (std::getline(in, line) && (!hasRecordLine || read.signals.size() < signalCount)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        if (!hasRecordLine) {
            if (!ParseRecordLine(line, read, signalCount)) break;
            hasRecordLine = true;
            continue;
        }
        SignalFacts signal;
        if (!ParseSignalLine(line, signal)) break;
        read.signals.push_back(signal);
    }
    if (!hasRecordLine || signalCount == 0) {
        problem = path + " is not a WFDB record header (no line 'NAME SIGNALS RATE SAMPLES' naming a signal)";
        return false;
    }
    if (read.signals.size() < signalCount) {
        problem = path + " names " + std::to_string(signalCount) + " signals but describes " +
                  std::to_string(read.signals.size());
        return false;
    }
    for (const SignalFacts& signal : read.signals) {
        if (signal.file != "-" && !FileExists(read.directory + "/" + signal.file)) {
            problem = "record " + read.recordName + ": signal file " + signal.file + " is missing from " + read.directory;
            return false;
        }
    }
    facts = read;
    return true;
}

std::string DescribeEdfProblem(const std::string& path) {
    std::string problem = DescribeUnreadable(path);
    if (!problem.empty()) return problem;
    std::ifstream in(path, std::ios::binary);
    std::string header(kEdfFixedHeader, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    if (in.gcount() < static_cast<std::streamsize>(kEdfFixedHeader) || header[0] != '0') {
        return path + " is not an EDF file (its 256-byte header is missing)";
    }
    const long signals = std::strtol(header.substr(kEdfSignalCountAt, kEdfSignalCountWidth).c_str(), nullptr, 10);
    if (signals <= 0 || static_cast<size_t>(signals) > kMaxHeaderSignals) {
        return path + " is not an EDF file (it claims " + std::to_string(signals) + " signals)";
    }
    std::string labels(static_cast<size_t>(signals) * kEdfLabelWidth, '\0');
    in.read(labels.data(), static_cast<std::streamsize>(labels.size()));
    for (long i = 0; i < signals; ++i) {
        if (labels.compare(static_cast<size_t>(i) * kEdfLabelWidth, 15, "EDF Annotations") != 0) return "";
    }
    return path + " holds only EDF+ annotations, no signal to play";
}

int CountMeasuredBeats(const std::string& annotationPath, const HeaderFacts& facts, int most) {
    std::ifstream in(annotationPath, std::ios::binary | std::ios::ate);
    if (!in) return -1;
    std::vector<unsigned char> bytes(static_cast<size_t>(std::clamp<std::streamoff>(in.tellg(), 0, kMaxAnnotationBytes)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    // The window around a beat reaches 0.05 s to either side of it.
    const long long reach = static_cast<long long>(facts.sampleRate * 0.05);
    const auto word = [&bytes](size_t at) { return static_cast<unsigned>(bytes[at] | bytes[at + 1] << 8); };
    uint32_t time = 0;
    int beats = 0;
    for (size_t at = 0; at + 2 <= bytes.size() && beats < most;) {
        const unsigned value = word(at);
        const int code = static_cast<int>(value >> 10);
        const unsigned interval = value & 0x3FF;
        at += 2;
        if (value == 0) break;
        if (code == kSkipCode) {
            if (at + 4 > bytes.size()) break;
            time += word(at) << 16 | word(at + 2);
            at += 4;
        } else if (code == kAuxCode) {
            at += (interval & 0xFF) + (interval & 1);
        } else if (code < kSkipCode) {
            time += interval;
            if (kMeasuredBeatCodes.count(code) == 0) continue;
            if (static_cast<long long>(time) < reach || (facts.samples > 0 && time - reach >= facts.samples)) break;
            ++beats;
        }
    }
    return beats;
}
