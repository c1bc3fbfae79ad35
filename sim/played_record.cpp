// The played codes as a format-16 WFDB record, converted back to millivolts through the
// record's gain rather than by rounding each sample.

#include "sim/played_record.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace sim {

namespace {

// The chest outputs carry electrode voltages, not the leads: their labels must not read as
// V1-V6, or a program that plays the record back would route them as leads.
constexpr const char* kOutputLabels[kOutputs] = {"I",         "II",        "V6 output", "V5 output",
                                                 "V4 output", "V3 output", "V2 output", "V1 output"};
constexpr double kDefaultRange = 5.0;

struct FileCloser {
    void operator()(FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The stored value is code - mid: 12-bit codes span -2048..2047, 16-bit ones -32768..32767,
// both inside format 16.
int16_t StoredValue(uint16_t code, bool is16Bit) {
    return static_cast<int16_t>(static_cast<int32_t>(code) - (is16Bit ? 32768 : 2048));
}

bool WriteSamples(const std::string& path, const std::vector<Frame>& frames, bool is16Bit) {
    FilePtr file(std::fopen(path.c_str(), "wbe"));
    if (!file) return false;
    for (const Frame& frame : frames) {
        uint8_t bytes[2 * kOutputs];
        for (size_t channel = 0; channel < kOutputs; ++channel) {
            const uint16_t value = static_cast<uint16_t>(StoredValue(frame[channel], is16Bit));
            bytes[2 * channel] = static_cast<uint8_t>(value & 0xFF);  // format 16 is little-endian
            bytes[2 * channel + 1] = static_cast<uint8_t>(value >> 8);
        }
        if (std::fwrite(bytes, sizeof bytes, 1, file.get()) != 1) return false;
    }
    return std::fclose(file.release()) == 0;
}

}  // namespace

bool WritePlayedRecord(const std::string& directory, const std::string& name, const std::vector<Frame>& frames,
                       bool is16Bit, double sampleRate, double range) {
    if (range <= 0) range = kDefaultRange;
    const std::string datName = name + ".dat";
    if (!WriteSamples(directory + "/" + datName, frames, is16Bit)) return false;

    FilePtr header(std::fopen((directory + "/" + name + ".hea").c_str(), "we"));
    if (!header) return false;
    const double gain = (is16Bit ? 32000.0 : 2000.0) / range;  // stored units per millivolt
    std::fprintf(header.get(), "%s %zu %.10g %zu\n", name.c_str(), kOutputs, sampleRate, frames.size());
    for (size_t channel = 0; channel < kOutputs; ++channel) {
        int16_t first = 0;
        int16_t checksum = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int16_t value = StoredValue(frames[i][channel], is16Bit);
            if (i == 0) first = value;
            checksum = static_cast<int16_t>(static_cast<uint16_t>(checksum) + static_cast<uint16_t>(value));
        }
        std::fprintf(header.get(), "%s 16 %.10g(0)/mV 16 0 %d %d 0 %s\n", datName.c_str(), gain, first, checksum,
                     kOutputLabels[channel]);
    }
    return std::fclose(header.release()) == 0;
}

}  // namespace sim
