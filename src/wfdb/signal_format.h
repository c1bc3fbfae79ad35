#pragma once
// What the format readers share: the walk over frames and signals, and the
// sample a seek aims at. Only signal_reader.cpp and the format readers include it.

#include <cstdint>
#include <type_traits>

#include "wfdb/wfdb_header.h"

// True when the header has an open signal stream, signals, and samples per
// frame for every signal: what the frame walk needs.
bool CanWalkFrames(const WFDB_HEADER* pHeader);

// Seek and SeekEx up to the stored group: moves the stream to the group (samplesPerGroup
// samples in groupBytes bytes) that holds the first sample of the frame position names
// (seconds when isSeconds, else samples per signal; past the record's end means its start),
// forgets a pending sample, and gives that sample's index counted over all signals.
// False, and nothing changed, for a header the walk cannot use, a negative position, a seek
// by seconds without a sampling frequency, an offset beyond off_t, or a failed seek.
bool SeekToGroup(WFDB_HEADER* pHeader, int position, bool isSeconds, int samplesPerGroup, int groupBytes,
                 int64_t& sampleIndex);

// Frame walk of NextSample, NextSampleEx and NextFrameSamples. Format supplies
//   bool Take(WFDB_HEADER*, FILE*, short& value)  the next stored sample, false at the end;
//   int Raw(WFDB_HEADER*, int channel, short value)  the signed ADC value;
//   double Physical(WFDB_HEADER*, int channel, short value)  (raw - baseline) / gain.
// Fills count frames; each holds one value per signal, the mean over the signal's
// samples in the frame, or with kEachSample every sample's physical value, signal after
// signal. Returns the frames completed before the end; 0 for a header the walk cannot
// use, a null values or a count below 1.
template <class Format, class Value, bool kEachSample = false>
int WalkFrames(WFDB_HEADER* pHeader, Value* values, int count) {
    if (!CanWalkFrames(pHeader) || values == nullptr || count < 1) return 0;
    FILE* file = pHeader->Reserved.SignalFile.pFile;
    const int signals = pHeader->NumberOfSignals;
    Value* out = values;
    for (int frame = 0; frame < count; ++frame) {
        for (int channel = 0; channel < signals; ++channel) {
            const int samplesPerFrame = pHeader->Signal[channel].SamplesPerFrame;
            if constexpr (kEachSample) {
                for (int k = 0; k < samplesPerFrame; ++k) {
                    short value;
                    if (!Format::Take(pHeader, file, value)) return frame;
                    *out++ = Format::Physical(pHeader, channel, value);
                }
            } else if constexpr (std::is_same_v<Value, double>) {
                double sum = 0.0;
                for (int k = 0; k < samplesPerFrame; ++k) {
                    short value;
                    if (!Format::Take(pHeader, file, value)) return frame;
                    sum += Format::Physical(pHeader, channel, value);
                }
                *out++ = sum / samplesPerFrame;
            } else {
                int64_t sum = 0;
                for (int k = 0; k < samplesPerFrame; ++k) {
                    short value;
                    if (!Format::Take(pHeader, file, value)) return frame;
                    sum += Format::Raw(pHeader, channel, value);
                }
                *out++ = static_cast<Value>(sum / samplesPerFrame);  // truncates toward zero
            }
        }
    }
    return count;
}
