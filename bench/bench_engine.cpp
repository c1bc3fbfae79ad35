// Cost of one eight-channel raw frame per playback kind (the packet builder makes
// 250 of them per packet), and of previewing a minute of a 500 Hz record.

#include <benchmark/benchmark.h>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr uint32_t kRate = 500;
constexpr int64_t kSeconds = 60;

// A minute of eight channels with values that vary from sample to sample.
bool MakeRecord(int kind) {
    g_WaveformType = kind;
    g_nSampleRate = kRate;
    g_nSampleCount = kRate * kSeconds;
    if (!ReallocateECGDataBuffer(8)) return false;
    for (int ch = 0; ch < 8; ++ch) {
        for (int64_t i = 0; i < g_nSampleCount; ++i) g_pECGData[ch][i] = ((i * 7 + ch * 13) % 400) / 100.0 - 2.0;
    }
    for (int k = 0; k < 8; ++k) g_ECGMappingLead[k] = 7 - k;
    return true;
}

void RawFrames(benchmark::State& state, int kind) {
    if (kind == WaveformSine ? !LoadWaveform(WAVEFORM_SINE, 1.3, 2.0) : !MakeRecord(kind)) {
        state.SkipWithError("store not allocated");
        return;
    }
    const uint64_t wrap = static_cast<uint64_t>(g_nSampleCount);
    int frame[8];
    g_nSampleCurrent = 0;
    for (auto _ : state) {
        PrepareRawData(frame);
        benchmark::DoNotOptimize(frame);
        if (++g_nSampleCurrent == wrap && kind != WaveformSine) g_nSampleCurrent = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void PreviewMinute(benchmark::State& state) {
    if (!MakeRecord(WaveformFixedChannels)) {
        state.SkipWithError("store not allocated");
        return;
    }
    static double sink = 0;
    auto callback = [](double time, double* leads, bool) { sink += time + leads[3]; };
    for (auto _ : state) {
        GetWaveformSignal(0, kSeconds, callback);
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * kRate * kSeconds);
}

}  // namespace

BENCHMARK_CAPTURE(RawFrames, direct_kind1, static_cast<int>(WaveformFixedChannels));
BENCHMARK_CAPTURE(RawFrames, mapped_kind3, static_cast<int>(WaveformMIT));
BENCHMARK_CAPTURE(RawFrames, resampled_kind4, static_cast<int>(WaveformKestrane));
BENCHMARK_CAPTURE(RawFrames, sine_kind129, static_cast<int>(WaveformSine));
BENCHMARK(PreviewMinute)->Unit(benchmark::kMillisecond);
