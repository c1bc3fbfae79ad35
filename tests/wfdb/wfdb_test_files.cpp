// Helpers of the WFDB tests; the decoders follow the storage rules directly and
// share nothing with the library's readers.

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
        const unsigned first = static_cast<unsigned>(samples[i]) & 0xFFF;
        const unsigned second = i + 1 < samples.size() ? static_cast<unsigned>(samples[i + 1]) & 0xFFF : 0;
        bytes.push_back(static_cast<unsigned char>(first & 0xFF));
        bytes.push_back(static_cast<unsigned char>((first >> 8) | ((second >> 8) << 4)));
        bytes.push_back(static_cast<unsigned char>(second & 0xFF));
    }
    return bytes;
}

std::vector<unsigned char> Pack16(const std::vector<int>& samples) {
    std::vector<unsigned char> bytes;
    for (int sample : samples) {
        bytes.push_back(static_cast<unsigned char>(sample & 0xFF));
        bytes.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
    }
    return bytes;
}

std::vector<int> DecodeFile212(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::vector<int> samples;
    for (size_t i = 0; i + 3 <= bytes.size(); i += 3) {
        int first = bytes[i] + 256 * (bytes[i + 1] & 0x0F);
        int second = bytes[i + 2] + 256 * (bytes[i + 1] >> 4);
        if (first >= 2048) first -= 4096;
        if (second >= 2048) second -= 4096;
        samples.push_back(first);
        samples.push_back(second);
    }
    return samples;
}

std::vector<int> DecodeFile16(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::vector<int> samples;
    for (size_t i = 0; i + 2 <= bytes.size(); i += 2) {
        int value = bytes[i] + 256 * bytes[i + 1];
        if (value >= 32768) value -= 65536;
        samples.push_back(value);
    }
    return samples;
}

std::vector<std::vector<int>> SplitSignals(const std::vector<int>& samples, int signalCount) {
    std::vector<std::vector<int>> signals(static_cast<size_t>(signalCount));
    const size_t frames = samples.size() / static_cast<size_t>(signalCount);
    for (size_t frame = 0; frame < frames; ++frame) {
        for (int s = 0; s < signalCount; ++s) signals[s].push_back(samples[frame * signalCount + s]);
    }
    return signals;
}

std::string SharedRecordFile(const std::string& name) { return SharedDataDir() + "/" + name; }

std::vector<CTestBeat> DecodeAnnotationFile(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    std::vector<CTestBeat> beats;
    long long time = 0;
    size_t at = 0;
    auto word = [&](size_t offset) { return bytes[offset] | (bytes[offset + 1] << 8); };
    while (at + 2 <= bytes.size()) {
        const int value = word(at);
        at += 2;
        if (value == 0) break;
        const int code = value >> 10;
        const int interval = value & 0x3FF;
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

// Class 1 of the published beat codes: normal, bundle branch blocks, aberrant,
// nodal and atrial premature, escape beats and the like.
bool IsClassOneBeat(int code) {
    for (int beat : {1, 2, 3, 4, 7, 8, 9, 11, 12, 13, 25, 34, 35, 38}) {
        if (code == beat) return true;
    }
    return false;
}

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
    const long long length = static_cast<long long>(signals[0].size());
    std::vector<std::vector<double>> slots(signals.size());
    for (const CTestBeat& beat : beats) {
        if (slots[0].size() == 300) break;
        if (!IsClassOneBeat(beat.code)) continue;
        const long long first = beat.time - window;
        if (first < 0 || first >= length) break;
        const long long last = std::min(beat.time + window, length - 1);
        for (size_t s = 0; s < signals.size(); ++s) {
            const auto begin = signals[s].begin() + first;
            const auto end = signals[s].begin() + last + 1;
            slots[s].push_back(*std::max_element(begin, end) - *std::min_element(begin, end));
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
            double sum = 0.0;
            for (size_t k = 0; k < 360; ++k) sum += samples[start + k];
            const double mean = sum / 360.0;
            double squares = 0.0;
            for (size_t k = 0; k < 360; ++k) {
                const double deviation = std::trunc(samples[start + k] - mean);
                squares += deviation * deviation;
            }
            slots.push_back(std::sqrt(squares / 360.0));
        }
        amplitudes.push_back(RobustMean(slots));
    }
    return amplitudes;
}
