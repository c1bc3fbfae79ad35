// Cost of loading a built-in reference record: the longest cycle (MA1_015, ten cycles of 1592
// samples on eight leads, 1 MB of store) and the shortest (MA1_115). The size of libtavo.so,
// which carries all the records, is reported in the run's context.
//
// A load frees the previous store and allocates the new one, so its cost depends on the heap:
// "fresh" is the store's pages coming new from the kernel (the previous store was returned to
// it), "reused" is the allocator handing back the memory the previous store just freed.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "loaders/ctscse_loader.h"
#include "tavo/tavo.h"

namespace {

bool LoadOnce(benchmark::State& state, CTSCSE_Database record, CTSCSE_Noise noise, int64_t& samples) {
    ECG_HEADER* header = LoadDatabaseCTS_CSE(record, noise);
    if (header == nullptr) {
        state.SkipWithError("load refused");
        return false;
    }
    samples = header->nSampleCount;
    FreeECGHeader(header);
    return true;
}

void LoadReused(benchmark::State& state, CTSCSE_Database record, CTSCSE_Noise noise) {
    int64_t samples = 0;
    if (!LoadOnce(state, record, noise, samples)) return;
    // A block above the store keeps its freed memory in the heap instead of trimmed away.
    void* pin = std::malloc(64);
    for (auto _ : state)
        if (!LoadOnce(state, record, noise, samples)) break;
    std::free(pin);
    state.SetBytesProcessed(state.iterations() * samples * 8 * int64_t(sizeof(double)));
}

void LoadFresh(benchmark::State& state, CTSCSE_Database record, CTSCSE_Noise noise) {
    int64_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FreeECGDataBuffer();
        malloc_trim(0);
        state.ResumeTiming();
        if (!LoadOnce(state, record, noise, samples)) break;
    }
    state.SetBytesProcessed(state.iterations() * samples * 8 * int64_t(sizeof(double)));
}

void ReportLibrarySize() {
    struct stat info = {};
    const std::string size = stat(TAVO_SHARED_LIBRARY, &info) == 0 ? std::to_string(info.st_size) + " bytes" : "absent";
    benchmark::AddCustomContext("libtavo.so", size);
}

}  // namespace

BENCHMARK_CAPTURE(LoadFresh, MA1_015, CTSCSE_MA1_015, CTSCSE_NOISE_NONE)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LoadReused, MA1_015, CTSCSE_MA1_015, CTSCSE_NOISE_NONE)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LoadReused, MA1_015_with_noise, CTSCSE_MA1_015, CTSCSE_NOISE_BL_HF)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LoadFresh, MA1_115, CTSCSE_MA1_115, CTSCSE_NOISE_NONE)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LoadReused, MA1_115, CTSCSE_MA1_115, CTSCSE_NOISE_NONE)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    ReportLibrarySize();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
