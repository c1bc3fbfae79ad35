// The decoders follow the storage rules directly and share nothing with the library's readers.

#include "wfdb_test_files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "support/test_support.h"

CHeaderPtr ReadHeaderAt(const std::string& path) {
    std::string copy(path);
    return CHeaderPtr(WFDBReadHeader(copy.data()));
}

CHeaderPtr OpenRecord(const std::string& directory, const std::string& headerText,
                      const std::vector<unsigned char>& data, const std::string& name) {
    WriteTextFile(directory + "/" + name + ".hea", headerText);
    WriteBinaryFile(directory + "/" + name + ".dat", data);
    CHeaderPtr header = ReadHeaderAt(directory + "/" + name + ".hea");
    if (header == nullptr || !WFDBLoadSignal(directory.c_str(), header.get())) return nullptr;
    return header;
}

std::vector<unsigned char> Pack212(const std::vector<int>& samples) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < samples.size(); i += 2) {
        const unsigned a = static_cast<unsigned>(samples[i]) & 0xFFF;
        const unsigned b = i + 1 < samples.size() ? static_cast<unsigned>(samples[i + 1]) & 0xFFF : 0;
        bytes.insert(bytes.end(), {static_cast<unsigned char>(a & 0xFF), static_cast<unsigned char>((a >> 8) | ((b >> 8) << 4))});
        if (i + 1 < samples.size()) bytes.push_back(static_cast<unsigned char>(b & 0xFF));
    }
    return bytes;
}

std::vector<unsigned char> Pack16(const std::vector<int>& samples) {
    std::vector<unsigned char> bytes;
    for (int s : samples) bytes.insert(bytes.end(), {static_cast<unsigned char>(s), static_cast<unsigned char>(s >> 8)});
    return bytes;
}

std::vector<int> DecodeFile212(const std::string& path) {
    const std::vector<unsigned char> b = ReadWholeFile(path);
    std::vector<int> samples;
    for (size_t i = 0; i + 2 <= b.size(); i += 3) {
        const int first = b[i] + 256 * (b[i + 1] & 0x0F);
        samples.push_back(first >= 2048 ? first - 4096 : first);
        if (i + 3 > b.size()) break;  // the closing two-byte group of an odd sample count
        const int second = b[i + 2] + 256 * (b[i + 1] >> 4);
        samples.push_back(second >= 2048 ? second - 4096 : second);
    }
    return samples;
}

std::vector<int> DecodeFile16(const std::string& path) {
    const std::vector<unsigned char> b = ReadWholeFile(path);
    std::vector<int> samples;
    for (size_t i = 0; i + 2 <= b.size(); i += 2) samples.push_back(static_cast<int16_t>(b[i] | (b[i + 1] << 8)));
    return samples;
}

std::vector<std::vector<int>> SplitSignals(const std::vector<int>& samples, int signalCount) {
    std::vector<std::vector<int>> signals(static_cast<size_t>(signalCount));
    for (size_t i = 0; i + signalCount <= samples.size(); i += signalCount) {
        for (int s = 0; s < signalCount; ++s) signals[s].push_back(samples[i + s]);
    }
    return signals;
}

std::string SharedRecordFile(const std::string& name) { return SharedDataDir() + "/" + name; }

std::vector<CTestBeat> DecodeAnnotationFile(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    auto word = [&](size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
    std::vector<CTestBeat> beats;
    long long time = 0;
    for (size_t at = 0; at + 2 <= bytes.size();) {
        const int value = word(at), code = value >> 10, interval = value & 0x3FF;
        at += 2;
        if (value == 0) break;
        if (code == 59) {  // SKIP: two words, high half first
            time += (static_cast<long long>(word(at)) << 16) | word(at + 2);
            at += 4;
        } else if (code == 63) {  // AUX: padded to an even count
            at += static_cast<size_t>((interval & 0xFF) + ((interval & 0xFF) % 2));
        } else if (code < 59) {
            time += interval;
            beats.push_back({time, code});
        }
    }
    return beats;
}

namespace {

double RobustMean(std::vector<double> slots) {
    slots.resize(300, 0.0);
    std::sort(slots.begin(), slots.end());
    double sum = 0.0;
    for (int k = 15; k < 285; ++k) sum += slots[k];
    return std::trunc(sum / 270.0 * 100000.0) / 100000.0;
}

}  // namespace

std::vector<double> ExpectedPeakToPeak(const std::vector<std::vector<int>>& signals,
                                       const std::vector<CTestBeat>& beats, int window) {
    // Class 1 of the published beat codes: normal, bundle branch blocks, aberrant, premature, escape.
    const std::vector<int> classOne = {1, 2, 3, 4, 7, 8, 9, 11, 12, 13, 25, 34, 35, 38};
    const long long length = static_cast<long long>(signals[0].size());
    std::vector<std::vector<double>> slots(signals.size());
    for (const CTestBeat& beat : beats) {
        if (slots[0].size() == 300) break;
        if (std::find(classOne.begin(), classOne.end(), beat.code) == classOne.end()) continue;
        const long long first = beat.time - window;
        if (first < 0 || first >= length) break;
        const long long last = std::min(beat.time + window, length - 1);
        for (size_t s = 0; s < signals.size(); ++s) {
            const auto [low, high] = std::minmax_element(signals[s].begin() + first, signals[s].begin() + last + 1);
            slots[s].push_back(*high - *low);
        }
    }
    std::vector<double> amplitudes;
    for (const std::vector<double>& signalSlots : slots) amplitudes.push_back(RobustMean(signalSlots));
    return amplitudes;
}

std::vector<double> ExpectedRms(const std::vector<std::vector<int>>& signals) {
    std::vector<double> amplitudes;
    for (const std::vector<int>& samples : signals) {
        std::vector<double> slots;
        for (size_t start = 0; start + 360 <= samples.size() && slots.size() < 300; start += 360) {
            double sum = 0.0, squares = 0.0;
            for (size_t k = 0; k < 360; ++k) sum += samples[start + k];
            for (size_t k = 0; k < 360; ++k) {
                const double deviation = std::trunc(samples[start + k] - sum / 360.0);
                squares += deviation * deviation;
            }
            slots.push_back(std::sqrt(squares / 360.0));
        }
        amplitudes.push_back(RobustMean(slots));
    }
    return amplitudes;
}
