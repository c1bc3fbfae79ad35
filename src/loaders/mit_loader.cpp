// MIT/WFDB record loading: header and lead mapping first, samples on request.
// Parsing and sample decoding belong to the WFDB library; this unit fills the engine.

#include "loaders/mit_loader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/critical_section.h"
#include "platform/text_utils.h"
#include "tavo/tavo_ext.h"
#include "wfdb/record_path.h"
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

int LargestSamplesPerFrame(const WFDB_HEADER* header) {
    int largest = 1;
    for (int i = 0; i < header->NumberOfSignals; ++i) largest = std::max(largest, header->Signal[i].SamplesPerFrame);
    return largest;
}

// Allocates the store for g_nSampleCount samples. While memory is short the record is
// cut first to what its signal file holds (the rest would be zeros), then at its end by
// whole steps of five seconds, the fewest that fit found by bisection: a length far
// beyond memory costs some thirty attempts, not millions. False when not even one
// step of samples can be had, or the record has no rate to step by.
bool AllocateShorteningStore(int nSignals, int64_t rate, int64_t heldSamples) {
    if (ReallocateECGDataBuffer(nSignals)) return true;
    if (heldSamples > 0 && heldSamples < g_nSampleCount) {
        g_nSampleCount = heldSamples;
        if (ReallocateECGDataBuffer(nSignals)) return true;
    }
    const int64_t full = g_nSampleCount;
    const int64_t step = kShorteningSeconds * rate;
    int64_t fewestSteps = 0;  // 0 while no cut is known to fit
    for (int64_t low = 1, high = step > 0 ? (full - 1) / step : 0; low <= high;) {
        const int64_t steps = low + (high - low) / 2;
        g_nSampleCount = full - steps * step;
        if (ReallocateECGDataBuffer(nSignals)) {
            fewestSteps = steps;
            high = steps - 1;
        } else {
            low = steps + 1;
        }
    }
    if (fewestSteps == 0) return false;
    g_nSampleCount = full - fewestSteps * step;
    return ReallocateECGDataBuffer(nSignals);
}

int PlaybackKindOf(const WFDB_HEADER* record) {
    return record != nullptr && record == g_pKindRecord ? g_nRecordPlaybackKind : WaveformMIT;
}

// Where each of the record's signals lands in the store: the first of its values in a
// frame read by WFDBNextFrameSamples, its samples per frame, its unit, and its skew in
// store samples (a skewed signal's stored samples belong that many samples earlier).
struct ChannelLayout {
    int64_t firstValue;
    int64_t samplesPerFrame;
    bool isMicrovolts;
    int64_t skew;
};

// Reads the record's stream into the first channels of the store, count samples each at
// the record's highest rate: a signal of fewer samples per frame repeats each of them, as
// a high-resolution WFDB reading does. The batch holds whole frames of the record's own
// signals, whatever the caller's block claims. False when the batch cannot be had.
bool ReadFrames(WFDB_HEADER* record, int storeChannels, int64_t count) {
    if (record == nullptr || count <= 0 || !IsReadableHeader(record)) return true;
    const int channels = std::min(storeChannels, record->NumberOfSignals);
    const int largest = LargestSamplesPerFrame(record);
    std::vector<ChannelLayout> layout;
    int64_t frameValues = 0;
    for (int c = 0; c < record->NumberOfSignals; ++c) {
        const WFDB_SIGNAL& signal = record->Signal[c];
        layout.push_back({frameValues, signal.SamplesPerFrame, signal.ADCUnit == 'u',
                          static_cast<int64_t>(signal.Skew) * largest});
        frameValues += signal.SamplesPerFrame;
    }
    // A frame is held whole: on the 32-bit target its size is checked against the address space.
    if (static_cast<uint64_t>(frameValues) > SIZE_MAX / sizeof(double)) return false;
    const int batchFrames = static_cast<int>(std::max<int64_t>(1, kBatchValues / frameValues));
    std::unique_ptr<double[]> batch(
        new (std::nothrow) double[static_cast<size_t>(batchFrames) * static_cast<size_t>(frameValues)]);
    if (!batch) return false;

    // A header loaded before stands at the end of its samples: every load reads from the start.
    WFDBSeek(record, 0);
    const int64_t frames = count / largest + (count % largest != 0 ? 1 : 0);
    for (int64_t done = 0; done < frames;) {
        const int wanted = static_cast<int>(std::min<int64_t>(batchFrames, frames - done));
        const int got = WFDBNextFrameSamples(record, batch.get(), wanted);
        for (int c = 0; c < channels; ++c) {
            const ChannelLayout& at = layout[c];
            double* out = g_pECGData[c];
            for (int f = 0; f < got; ++f) {
                const double* in = batch.get() + f * frameValues + at.firstValue;
                const int64_t first = (done + f) * largest - at.skew;
                const int64_t end = std::min<int64_t>(largest, count - first);
                for (int64_t k = std::max<int64_t>(0, -first); k < end; ++k) {
                    const double value = in[k * at.samplesPerFrame / largest];
                    out[first + k] = at.isMicrovolts ? value / 1000.0 : value;
                }
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
    if (!record || !WFDBLoadSignal(GetRecordDirectory(path).c_str(), record.get())) return nullptr;

    // The record line counts frames; the store holds samples at the highest signal rate.
    // A negative length or a rate beyond int cannot describe a store, and refusing them
    // here leaves the old one whole.
    const int64_t largest = LargestSamplesPerFrame(record.get());
    const int64_t rate = record->SamplingFrequency * largest;
    if (record->NumberOfSamplesPerSignal < 0 || rate > INT_MAX) return nullptr;
    const int nSignals = record->NumberOfSignals;
    CHeaderBlockPtr engine(NewECGHeader(nSignals));
    if (!engine) return nullptr;
    strncpy_s(engine->szRecordName, sizeof(engine->szRecordName), record->RecordName, kCopyWhole);
    engine->nSampleRate = static_cast<int>(rate);
    for (int i = 0; i < nSignals; ++i) {
        ECG_CHANNEL& channel = engine->Channel[i];
        strncpy_s(channel.szLeadName, sizeof(channel.szLeadName), record->Signal[i].Description, kCopyWhole);
        channel.nLead = MappingLeadText(channel.szLeadName);
    }

    CSignalReplacement replacement;
    g_WaveformType = WaveformMIT;
    // The header block counts samples in an int: a longer record is cut there.
    g_nSampleCount = std::min<int64_t>(record->NumberOfSamplesPerSignal * largest, INT_MAX);
    const int64_t heldFrames = WFDBFramesInFile(record.get());
    if (!AllocateShorteningStore(nSignals, rate, heldFrames < 0 ? 0 : heldFrames * largest)) return nullptr;
    engine->nSampleCount = static_cast<int>(g_nSampleCount);
    engine->pWFDBHeader = record.get();

    CHeaderBlockPtr copy(CopyECGHeader(engine.get()));
    if (!copy) return nullptr;
    replacement.Commit();
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
    CSignalReplacement replacement;
    g_nSampleCount = header->nSampleCount;
    g_nSampleRate = static_cast<uint32_t>(header->nSampleRate);
    g_WaveformType = PlaybackKindOf(record);
    if (!ReallocateECGDataBuffer(nSignals) || !ReadFrames(record, nSignals, g_nSampleCount)) return 0;
    RemoveFirstMinuteOffsets(g_nSampleCount, header->nSampleRate);
    replacement.Commit();
    return 1;
}

void SetMITRecordPlaybackKind(int kind) {
    CAutoCriticalSection lock(g_CriticalSection);
    g_WaveformType = kind;
    g_pKindRecord = g_pECGHeader == nullptr ? nullptr : g_pECGHeader->pWFDBHeader;
    g_nRecordPlaybackKind = g_pKindRecord == nullptr ? WaveformMIT : kind;
}
