// EDF writers of the tests.

#include "edf_test_files.h"

#include <utility>

#if TAVO_HAVE_EDFLIB
#include <edflib.h>

const bool kHasEdfWriter = true;

bool WriteEdfPlusFile(const std::string& path, const std::vector<EdfSignalLayout>& signals, int records,
                      const EdfSampleFunction& sample, int durationTenMicroseconds) {
    const int count = static_cast<int>(signals.size());
    const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, count);
    if (handle < 0) return false;
    bool isOk = edf_set_datarecord_duration(handle, durationTenMicroseconds) == 0;
    for (int s = 0; s < count && isOk; ++s) {
        const EdfSignalLayout& layout = signals[s];
        isOk = edf_set_samplefrequency(handle, s, layout.samplesPerRecord) == 0 &&
               edf_set_digital_minimum(handle, s, layout.digitalMin) == 0 &&
               edf_set_digital_maximum(handle, s, layout.digitalMax) == 0 &&
               edf_set_physical_minimum(handle, s, layout.physicalMin) == 0 &&
               edf_set_physical_maximum(handle, s, layout.physicalMax) == 0 &&
               edf_set_label(handle, s, layout.label.c_str()) == 0 &&
               edf_set_physical_dimension(handle, s, layout.unit.c_str()) == 0;
    }
    std::vector<long long> written(signals.size(), 0);
    for (int r = 0; r < records && isOk; ++r) {
        for (int s = 0; s < count && isOk; ++s) {
            std::vector<short> block(static_cast<size_t>(signals[s].samplesPerRecord));
            for (short& value : block) value = sample(s, written[s]++);
            isOk = edfwrite_digital_short_samples(handle, block.data()) == 0;
        }
    }
    return edfclose_file(handle) == 0 && isOk;
}
#else
const bool kHasEdfWriter = false;

bool WriteEdfPlusFile(const std::string&, const std::vector<EdfSignalLayout>&, int, const EdfSampleFunction&, int) {
    return false;
}
#endif

std::vector<unsigned char> RawEdfHead(const std::string& version, const std::string& records,
                                      const std::string& duration, const std::string& signalCount,
                                      const std::vector<RawEdfSignal>& signals) {
    std::vector<unsigned char> bytes;
    auto field = [&](const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
    };
    for (const auto& [text, width] : std::vector<std::pair<std::string, size_t>>{
             {version, 8}, {"X X X X", 80}, {"Startdate X X X X", 80}, {"01.01.01", 8}, {"00.00.00", 8},
             {std::to_string(256 * (signals.size() + 1)), 8}, {"", 44}, {records, 8}, {duration, 8}, {signalCount, 4}})
        field(text, width);
    for (const RawEdfSignal& s : signals) field(s.label, 16);
    for (size_t i = 0; i < signals.size(); ++i) field("AgAgCl electrode", 80);
    for (const RawEdfSignal& s : signals) field(s.unit, 8);
    for (const RawEdfSignal& s : signals) field(s.physicalMin, 8);
    for (const RawEdfSignal& s : signals) field(s.physicalMax, 8);
    for (const RawEdfSignal& s : signals) field(s.digitalMin, 8);
    for (const RawEdfSignal& s : signals) field(s.digitalMax, 8);
    for (size_t i = 0; i < signals.size(); ++i) field("HP:0.1Hz", 80);
    for (const RawEdfSignal& s : signals) field(s.samplesPerRecord, 8);
    for (size_t i = 0; i < signals.size(); ++i) field("", 32);
    return bytes;
}

std::vector<unsigned char> RawEdfFile(const std::vector<RawEdfSignal>& signals, int records,
                                      const EdfSampleFunction& sample, const std::string& duration) {
    std::vector<unsigned char> bytes =
        RawEdfHead("0", std::to_string(records), duration, std::to_string(signals.size()), signals);
    std::vector<long long> written(signals.size(), 0);
    for (int r = 0; r < records; ++r) {
        for (size_t s = 0; s < signals.size(); ++s) {
            for (int i = std::stoi(signals[s].samplesPerRecord); i > 0; --i) {
                const auto value = static_cast<unsigned short>(sample(static_cast<int>(s), written[s]++));
                bytes.insert(bytes.end(), {static_cast<unsigned char>(value & 0xFF), static_cast<unsigned char>(value >> 8)});
            }
        }
    }
    return bytes;
}
