// Cost of a synthetic ECG: planning and writing a loop into memory already in use ("synthesis"),
// and a whole load, which also frees the old store and takes the new one's pages from the
// kernel ("load"): what a change of rate between plays costs. Regular loops hold one beat at
// 30 and 300 bpm, three at 72 and 71 at 71 bpm (a minute); irregular loops last a minute.

#include <benchmark/benchmark.h>

#include <vector>

#include "engine/ecg_header.h"
#include "loaders/synthetic_loader.h"
#include "synth/synthetic_ecg.h"

namespace {

TAVO_SYNTHETIC_ECG Params(int rate, int rhythm) {
    TAVO_SYNTHETIC_ECG params;
    TAVOSyntheticECGDefaults(&params);
    params.nHeartRate = rate;
    params.nRhythm = rhythm;
    return params;
}

void Synthesis(benchmark::State& state, int rate, int rhythm) {
    const TAVO_SYNTHETIC_ECG params = Params(rate, rhythm);
    const int64_t samples = PlanSyntheticLoop(params).samples;
    std::vector<std::vector<double>> leads(8, std::vector<double>(static_cast<size_t>(samples)));
    double* out[8];
    for (int lead = 0; lead < 8; ++lead) out[lead] = leads[lead].data();
    for (auto _ : state) {
        RenderSyntheticLoop(PlanSyntheticLoop(params), out);
        benchmark::DoNotOptimize(out[1][0]);
    }
    state.counters["samples"] = static_cast<double>(samples);
}

void Load(benchmark::State& state, int rate, int rhythm) {
    const TAVO_SYNTHETIC_ECG params = Params(rate, rhythm);
    for (auto _ : state) {
        ECG_HEADER* header = LoadSyntheticECG(params);
        if (header == nullptr) {
            state.SkipWithError("load refused");
            break;
        }
        FreeECGHeader(header);
    }
}

}  // namespace

BENCHMARK_CAPTURE(Synthesis, regular_30bpm, 30, SYNTHETIC_REGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, regular_72bpm, 72, SYNTHETIC_REGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, regular_300bpm, 300, SYNTHETIC_REGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, regular_71bpm, 71, SYNTHETIC_REGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, irregular_80bpm, 80, SYNTHETIC_IRREGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Synthesis, pvc4_71bpm, 71, SYNTHETIC_PVC)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, regular_72bpm, 72, SYNTHETIC_REGULAR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, irregular_80bpm, 80, SYNTHETIC_IRREGULAR)->Unit(benchmark::kMillisecond);
