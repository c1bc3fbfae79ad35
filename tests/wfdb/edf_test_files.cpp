// EDF writers of the tests.

#include "edf_test_files.h"

#include <tuple>
#include <utility>

std::vector<unsigned char> RawEdfHead(const std::string& version, const std::string& records, const std::string& duration,
                                      const std::string& signalCount, const std::vector<RawEdfSignal>& signals) {
    std::vector<unsigned char> bytes;
    auto field = [&](const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : ' ');
    };
    for (const auto& [text, width] : std::vector<std::pair<std::string, size_t>>{
             {version, 8}, {"X X X X", 80}, {"Startdate X X X X", 80}, {"01.01.01", 8}, {"00.00.00", 8},
             {std::to_string(256 * (signals.size() + 1)), 8}, {"", 44}, {records, 8}, {duration, 8}, {signalCount, 4}}) field(text, width);
    // The signal headers field by field: a member of each signal, or the same text for all.
    const std::tuple<std::string RawEdfSignal::*, const char*, size_t> columns[] = {
        {&RawEdfSignal::label, "", 16},      {nullptr, "AgAgCl electrode", 80},    {&RawEdfSignal::unit, "", 8},
        {&RawEdfSignal::physicalMin, "", 8}, {&RawEdfSignal::physicalMax, "", 8},  {&RawEdfSignal::digitalMin, "", 8},
        {&RawEdfSignal::digitalMax, "", 8},  {nullptr, "HP:0.1Hz", 80},             {&RawEdfSignal::samplesPerRecord, "", 8}, {nullptr, "", 32}};
    for (const auto& [member, text, width] : columns) {
        for (const RawEdfSignal& s : signals) field(member != nullptr ? s.*member : std::string(text), width);
    }
    return bytes;
}

std::vector<unsigned char> RawEdfFile(const std::vector<RawEdfSignal>& signals, int records, const EdfSampleFunction& sample, const std::string& duration) {
    std::vector<unsigned char> bytes = RawEdfHead("0", std::to_string(records), duration, std::to_string(signals.size()), signals);
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
