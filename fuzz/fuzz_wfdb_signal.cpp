// A record of header text and signal bytes (split at the first NUL byte), read through
// the frame readers of formats 16 and 212 and loaded as an MIT record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "fuzz_support.h"
#include "loaders/mit_loader.h"
#include "wfdb/signal_reader.h"

namespace {
// Bound one input's work: a header can promise far more frames than its file holds,
// and the MIT loader sizes the store by the promise (zeroing gigabytes is slow under ASan).
constexpr int kMaxFrames = 1 << 16;
constexpr int64_t kMaxStoreValues = 1 << 24;

// Returns whether the MIT loader may be given the record.
bool WalkFrames(const std::string& headerPath, int seekSecond) {
    std::string path = headerPath;
    WFDB_HEADER* header = WFDBReadHeader(path.data());
    if (header == nullptr) return false;
    // The store holds every frame at the highest samples per frame; in doubles, as the product may pass 64 bits.
    int largest = 1;
    for (int i = 0; i < header->NumberOfSignals; ++i) largest = std::max(largest, header->Signal[i].SamplesPerFrame);
    const bool isStoreSmall = static_cast<double>(header->NumberOfSamplesPerSignal) * largest *
                                  std::max(header->NumberOfSignals, 1) <= kMaxStoreValues;
    if (WFDBLoadSignal(FuzzDir().c_str(), header)) {
        std::vector<double> values(static_cast<size_t>(header->NumberOfSignals) * 4 + 4);
        for (int frame = 0; frame < kMaxFrames && WFDBNextSample(header, values.data(), 4) > 0; frame += 4) {
        }
        WFDBSeek(header, seekSecond);
        std::vector<double> adc(static_cast<size_t>(header->NumberOfSignals) + 1);
        GetNextSampleWithoutDAC(header, adc.data());
        if (const SIGNAL_HANDLER* handler = GetSignalHandler(header)) {
            std::vector<int> raw(values.size());
            handler->SeekEx(header, seekSecond * 7);
            handler->NextSampleEx(header, raw.data(), 4);
        }
    }
    WFDBFreeHeader(header);
    return isStoreSmall;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string headerPath = FuzzPath("rec.hea");
    static const std::string dataPath = FuzzPath("rec.dat");
    const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t headerBytes = split != nullptr ? static_cast<size_t>(split - data) : size;
    const size_t dataOffset = split != nullptr ? headerBytes + 1 : size;
    WriteFuzzFile(headerPath, data, headerBytes);
    WriteFuzzFile(dataPath, data + dataOffset, size - dataOffset);
    const int seekSecond = size != 0 ? data[size - 1] % 8 : 0;

    if (!WalkFrames(headerPath, seekSecond)) return 0;
    if (ECG_HEADER* record = LoadMITHeader(headerPath.c_str())) {
        LoadMITDatabase(record);
        FreeECGHeader(record);
    }
    FreeECGDataBuffer();
    return 0;
}
