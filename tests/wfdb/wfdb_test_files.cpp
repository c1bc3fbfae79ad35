// The decoders follow the storage rules directly and share nothing with the library's readers.

#include "wfdb_test_files.h"

#include <cstdint>

CWFDBHeaderPtr ReadHeaderAt(const std::string& path) { return CWFDBHeaderPtr(WFDBReadHeader(std::string(path).data())); }

CTestRecord::CTestRecord(const std::string& headerText, const std::vector<unsigned char>& data) {
    WriteTextFile(dir.File("rec.hea"), headerText), WriteBinaryFile(dir.File("rec.dat"), data);
    header = ReadHeaderAt(dir.File("rec.hea"));
    if (header != nullptr && !WFDBLoadSignal(dir.Path().c_str(), header.get())) header.reset();
}

std::vector<int> ReadAllRaw(WFDB_HEADER* header) {
    std::vector<int> values, frame(static_cast<size_t>(header->NumberOfSignals));
    while (GetSignalHandler(header)->NextSampleEx(header, frame.data(), 1) == 1) values.insert(values.end(), frame.begin(), frame.end());
    return values;
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
        // 12-bit two's complement; the closing two-byte group of an odd count holds only the first.
        for (const int value : {b[i] + 256 * (b[i + 1] & 0x0F), i + 3 <= b.size() ? b[i + 2] + 256 * (b[i + 1] >> 4) : -1}) {
            if (value >= 0) samples.push_back(value >= 2048 ? value - 4096 : value);
        }
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
    for (size_t i = 0; i < samples.size() - samples.size() % signalCount; ++i) signals[i % signalCount].push_back(samples[i]);
    return signals;
}

std::string SharedRecordFile(const std::string& name) { return SharedDataDir() + "/" + name; }
