// MIT/WFDB record loading: header and lead mapping first, samples on request.
// Parsing and sample decoding belong to the WFDB library; this unit fills the engine.

#include "loaders/mit_loader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/critical_section.h"
#include "platform/text_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

namespace {

// Frames are read in batches of about this many values: the per-call cost of the
// reader stays out of the loop, and the batch buffer stays far below the store.
constexpr int kBatchValues = 16384;
constexpr int kShorteningSeconds = 5;
constexpr int kOffsetWindowSeconds = 60;
// A first-minute mean this far from zero (mV) is an ADC offset, not signal.
constexpr double kOffsetThreshold = 5.0;

// The EDF loader's playback kind and the WFDB header of the record it belongs to.
// Kept by WFDB header, not by block, because the caller hands back its own copy.
WFDB_HEADER* g_pKindRecord = nullptr;
int g_nRecordPlaybackKind = WaveformMIT;

void ForgetRecordPlaybackKind() {
    g_pKindRecord = nullptr;
    g_nRecordPlaybackKind = WaveformMIT;
}

// FreeECGHeader's way to release a WFDB header. A released record must not pass its
// kind on to a later header that happens to get the same address.
void ReleaseWFDBHeader(WFDB_HEADER* header) {
    if (header == g_pKindRecord) ForgetRecordPlaybackKind();
    WFDBFreeHeader(header);
}

// For a block whose WFDB header is owned elsewhere (or not set yet).
struct HeaderBlockDeleter {
    void operator()(ECG_HEADER* header) const { std::free(header); }
};
using CHeaderBlockPtr = std::unique_ptr<ECG_HEADER, HeaderBlockDeleter>;

// Everything up to and including the last '/'; "" when there is none.
std::string RecordDirectory(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? std::string() : std::string(path, static_cast<size_t>(slash - path + 1));
}

int LargestSamplesPerFrame(const WFDB_HEADER* header) {
    int largest = 1;
    for (int i = 0; i < header->NumberOfSignals; ++i) largest = std::max(largest, header->Signal[i].SamplesPerFrame);
    return largest;
}

// Allocates the store for g_nSampleCount samples, shortening the record five seconds
// at a time while memory is short. False, with no store left, when the count would
// reach zero first or the record has no rate to step by.
bool AllocateShorteningStore(int nSignals, int rate) {
    const int64_t step = static_cast<int64_t>(kShorteningSeconds) * rate;
    while (!ReallocateECGDataBuffer(nSignals)) {
        if (step <= 0 || g_nSampleCount <= step) {
            FreeECGDataBuffer();
            return false;
        }
        g_nSampleCount -= step;
    }
    return true;
}

int PlaybackKindOf(const WFDB_HEADER* record) {
    return record != nullptr && record == g_pKindRecord ? g_nRecordPlaybackKind : WaveformMIT;
}

// Reads up to count frames from the record's stream into the first channels of the
// store. The batch holds whole frames of the record's own signal count, whatever
// the caller's block claims. False when the batch buffer cannot be had.
bool ReadFrames(WFDB_HEADER* record, int storeChannels, int64_t count) {
    if (record == nullptr || count <= 0 || !IsReadableHeader(record)) return true;
    const int recordSignals = record->NumberOfSignals;
    const int channels = std::min(storeChannels, recordSignals);
    const int batchFrames = std::max(1, kBatchValues / recordSignals);
    std::unique_ptr<double[]> batch(
        new (std::nothrow) double[static_cast<size_t>(batchFrames) * static_cast<size_t>(recordSignals)]);
    if (!batch) return false;

    bool isMicrovolts[kMaxWFDBSignals];
    for (int c = 0; c < channels; ++c) isMicrovolts[c] = record->Signal[c].ADCUnit == 'u';

    int64_t done = 0;
    while (done < count) {
        const int wanted = static_cast<int>(std::min<int64_t>(batchFrames, count - done));
        const int got = WFDBNextSample(record, batch.get(), wanted);
        for (int c = 0; c < channels; ++c) {
            double* out = g_pECGData[c] + done;
            const double* in = batch.get() + c;
            if (isMicrovolts[c]) {
                for (int f = 0; f < got; ++f) out[f] = in[static_cast<size_t>(f) * recordSignals] / 1000.0;
            } else {
                for (int f = 0; f < got; ++f) out[f] = in[static_cast<size_t>(f) * recordSignals];
            }
        }
        done += got;
        if (got < wanted) break;  // a short file leaves the rest zero
    }
    return true;
}

// Subtracts each channel's first-minute mean when it is an offset of 5 mV or more.
// Without a rate there is no first minute, so nothing is removed.
void RemoveFirstMinuteOffsets(int64_t count, int64_t rate) {
    const int64_t window = std::min<int64_t>(count, kOffsetWindowSeconds * rate);
    if (window <= 0) return;
    for (int c = 0; c < g_iECGSignalNumber; ++c) {
        double* samples = g_pECGData[c];
        if (samples == nullptr) continue;
        double sum = 0.0;
        for (int64_t i = 0; i < window; ++i) sum += samples[i];
        const double mean = sum / static_cast<double>(window);
        if (mean > -kOffsetThreshold && mean < kOffsetThreshold) continue;
        for (int64_t i = 0; i < count; ++i) samples[i] -= mean;
    }
}

}  // namespace

ECG_HEADER* LoadMITHeader(const char* path) {
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    // Every WFDB header an ECG header carries comes from here, so the hook is in
    // place before the first one can be released.
    SetWFDBHeaderReleaser(ReleaseWFDBHeader);
    if (path == nullptr) return nullptr;

    std::string pathCopy(path);
    CWFDBHeaderPtr record(WFDBReadHeader(pathCopy.data()));
    if (!record || !WFDBLoadSignal(RecordDirectory(path).c_str(), record.get())) return nullptr;

    // A negative length cannot size a store, and refusing it here leaves the old one whole.
    if (record->NumberOfSamplesPerSignal < 0) return nullptr;
    const int nSignals = record->NumberOfSignals;
    CHeaderBlockPtr engine(NewECGHeader(nSignals));
    if (!engine) return nullptr;
    strncpy_s(engine->szRecordName, sizeof(engine->szRecordName), record->RecordName, kCopyWhole);
    engine->nSampleRate = record->SamplingFrequency;
    for (int i = 0; i < nSignals; ++i) {
        ECG_CHANNEL& channel = engine->Channel[i];
        strncpy_s(channel.szLeadName, sizeof(channel.szLeadName), record->Signal[i].Description, kCopyWhole);
        channel.nLead = MappingLeadText(channel.szLeadName);
    }

    g_WaveformType = WaveformMIT;
    g_nSampleCount = record->NumberOfSamplesPerSignal / LargestSamplesPerFrame(record.get());
    if (!AllocateShorteningStore(nSignals, record->SamplingFrequency)) return nullptr;
    engine->nSampleCount = static_cast<int>(g_nSampleCount);
    engine->pWFDBHeader = record.get();

    CHeaderBlockPtr copy(CopyECGHeader(engine.get()));
    if (!copy) {
        FreeECGDataBuffer();
        return nullptr;
    }
    // The caller's copy owns the WFDB header from here on.
    record.release();
    SetEngineECGHeader(engine.release());
    ForgetRecordPlaybackKind();
    UpdateMITMappingLeadIndex();
    return copy.release();
}

int LoadMITDatabase(ECG_HEADER* header) {
    if (header == nullptr) return 0;
    StopOutput();
    CAutoCriticalSection lock(g_CriticalSection);
    // Only the fixed fields are read; none may size the store beyond what a record can hold.
    const int nSignals = header->nSignals;
    if (nSignals < 0 || nSignals > kMaxWFDBSignals || header->nSampleCount < 0 || header->nSampleRate < 0) return 0;

    WFDB_HEADER* record = header->pWFDBHeader;
    g_nSampleCount = header->nSampleCount;
    g_nSampleRate = static_cast<uint32_t>(header->nSampleRate);
    g_WaveformType = PlaybackKindOf(record);
    if (!ReallocateECGDataBuffer(nSignals)) return 0;
    if (!ReadFrames(record, nSignals, g_nSampleCount)) return 0;
    RemoveFirstMinuteOffsets(g_nSampleCount, header->nSampleRate);
    return 1;
}

void SetMITRecordPlaybackKind(int kind) {
    CAutoCriticalSection lock(g_CriticalSection);
    g_WaveformType = kind;
    g_pKindRecord = g_pECGHeader == nullptr ? nullptr : g_pECGHeader->pWFDBHeader;
    g_nRecordPlaybackKind = g_pKindRecord == nullptr ? WaveformMIT : kind;
}
