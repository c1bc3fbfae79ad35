// Helpers of the WFDB tests; the decoders follow the storage rules directly and
// share nothing with the library's readers.

#include "wfdb_test_files.h"

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
