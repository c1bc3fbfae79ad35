// Cost of one eight-channel raw frame per playback kind (the packet builder makes
// 250 of them per packet), and of previewing a minute of a 500 Hz record.

#include <benchmark/benchmark.h>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "bench_record.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int64_t kSeconds = 60;

void RawFrames(benchmark::State& state, int kind) {
    if (kind == WaveformSine ? !LoadWaveform(WAVEFORM_SINE, 1.3, 2.0) : !MakeBenchRecord(kind, kSeconds)) {
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
    if (!MakeBenchRecord(WaveformFixedChannels, kSeconds)) {
        state.SkipWithError("store not allocated");
        return;
    }
    static double sink = 0;
    auto callback = [](double time, double* leads, bool) { sink += time + leads[3]; };
    for (auto _ : state) {
        GetWaveformSignal(0, kSeconds, callback);
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * kBenchRate * kSeconds);
}

}  // namespace

BENCHMARK_CAPTURE(RawFrames, direct_kind1, static_cast<int>(WaveformFixedChannels));
BENCHMARK_CAPTURE(RawFrames, mapped_kind3, static_cast<int>(WaveformMIT));
BENCHMARK_CAPTURE(RawFrames, resampled_kind4, static_cast<int>(WaveformKestrane));
BENCHMARK_CAPTURE(RawFrames, sine_kind129, static_cast<int>(WaveformSine));
BENCHMARK(PreviewMinute)->Unit(benchmark::kMillisecond);
